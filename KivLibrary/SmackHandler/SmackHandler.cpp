#include "KivLibrary/SmackHandler/SmackHandler.h"

#include "KivLibrary/Helper/FileSystem.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

// Absolute, with symbolic links of the existing part resolved, "." and ".."
// folded and no trailing separator.
fs::path Normalised(const std::string& text) {
    std::error_code error;
    fs::path path = fs::weakly_canonical(fs::path(text), error);
    if (error) {
        path = fs::absolute(fs::path(text), error).lexically_normal();
    }
    path = path.lexically_normal();
    if (path.has_relative_path() && path.filename().empty()) {
        path = path.parent_path();
    }
    return path;
}

// True when inner equals outer or lies below it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
    auto innerIt = inner.begin();
    for (auto outerIt = outer.begin(); outerIt != outer.end(); ++outerIt, ++innerIt) {
        if (innerIt == inner.end() || *innerIt != *outerIt) {
            return false;
        }
    }
    return true;
}

// The system's operations, except that a source file that is a symbolic link
// is never copied: a link placed into the source after it was checked would
// otherwise still bring a file from anywhere into the tree.
FileSystemOperations NoLinkFollowingOperations() {
    FileSystemOperations operations = SystemFileSystemOperations();
    operations.copy_file = [copy = operations.copy_file](const fs::path& from, const fs::path& to,
                                                         fs::copy_options options) {
        if (fs::is_symlink(fs::symlink_status(from))) {
            throw fs::filesystem_error("symbolic link not followed", from, to,
                                       std::make_error_code(std::errc::operation_not_permitted));
        }
        return copy(from, to, options);
    };
    return operations;
}

// A partition name is one plain path element.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

SmackHandler::SmackHandler(std::shared_ptr<ISmackConfiguration> configuration)
    : SmackHandler(std::move(configuration), CreateFileSystem(NoLinkFollowingOperations())) {}

SmackHandler::SmackHandler(std::shared_ptr<ISmackConfiguration> configuration,
                           std::shared_ptr<FileSystemInterface> fileSystem)
    : m_configuration(std::move(configuration)), m_fileSystem(std::move(fileSystem)) {}

void SmackHandler::BuildPaths() {
    const std::string root = m_configuration->GetLogisticsRootPath();
    std::string partition = m_configuration->GetInactivePartition();
    std::transform(partition.begin(), partition.end(), partition.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    m_partition = partition;
    m_treePath = root + "/" + partition;
    m_srcPath = m_treePath + "/" + m_configuration->GetSmackSourceDir() + "/";
    m_destPath = m_treePath + "/" + m_configuration->GetSmackDestinationDir() + "/";
    LogInfo() << "SMACK Staging. m_srcPath=" << m_srcPath << " m_destPath=" << m_destPath << VLMR_FILE_LINE;
}

bool SmackHandler::StaysInsideTree(const std::string& configured) const {
    if (!IsPlainName(m_partition)) {
        LogError() << "SMACK Staging: Refusing to stage, partition name is not a plain name: " << m_partition
                   << VLMR_FILE_LINE;
        return false;
    }
    fs::path current(m_treePath);
    for (const fs::path& element : fs::path(configured)) {
        if (element == "..") {
            LogError() << "SMACK Staging: Refusing to stage outside the partition tree: " << configured
                       << VLMR_FILE_LINE;
            return false;
        }
        if (element.empty() || element == "." || element.has_root_directory()) {
            continue;
        }
        current /= element;
        std::error_code error;
        const fs::file_status status = fs::symlink_status(current, error);
        if (fs::is_symlink(status)) {
            LogError() << "SMACK Staging: Refusing to follow a symbolic link: " << current.string() << VLMR_FILE_LINE;
            return false;
        }
        if (!fs::exists(status)) {
            break;  // missing: staging is skipped
        }
    }
    return true;
}

bool SmackHandler::SourceHoldsNoLinks() const {
    std::error_code error;
    for (fs::directory_iterator it(m_srcPath, error), end; !error && it != end; it.increment(error)) {
        if (it->is_symlink(error) || error) {
            LogError() << "SMACK Staging: Refusing to follow a symbolic link: " << it->path().string()
                       << VLMR_FILE_LINE;
            return false;
        }
    }
    if (error) {
        LogError() << "SMACK Staging: Refusing to stage, source not listable: " << m_srcPath << ": " << error.message()
                   << VLMR_FILE_LINE;
        return false;
    }
    return true;
}

bool SmackHandler::CheckDirectories() {
    bool present = true;
    if (!m_fileSystem->Exists(m_srcPath)) {
        LogWarn() << "SMACK Staging: Skipping SMACK staging. Source Directory doesn't exist: " << m_srcPath
                  << VLMR_FILE_LINE;
        present = false;
    }
    if (!m_fileSystem->Exists(m_destPath)) {
        LogWarn() << "SMACK Staging: Skipping SMACK staging. Destination Directory doesn't exist: " << m_destPath
                  << VLMR_FILE_LINE;
        present = false;
    }
    return present;
}

bool SmackHandler::DirectoriesOverlap() const {
    const fs::path source = Normalised(m_srcPath);
    const fs::path destination = Normalised(m_destPath);
    return IsWithin(source, destination) || IsWithin(destination, source);
}

bool SmackHandler::Stage() {
    if (!m_configuration || !m_fileSystem) {
        LogError() << "SMACK Staging: no configuration or file system" << VLMR_FILE_LINE;
        return false;
    }
    try {
        BuildPaths();
        if (!StaysInsideTree(m_configuration->GetSmackSourceDir()) ||
            !StaysInsideTree(m_configuration->GetSmackDestinationDir())) {
            return false;
        }
        if (!CheckDirectories()) {
            return true;
        }
        // Checked before the destination is emptied, so a refusal keeps it.
        if (!SourceHoldsNoLinks()) {
            return false;
        }
        if (DirectoriesOverlap()) {
            LogError() << "SMACK Staging: Source and destination overlap, refusing to stage: " << m_srcPath << " , "
                       << m_destPath << VLMR_FILE_LINE;
            return false;
        }
        if (!m_fileSystem->RemoveAllInDir(m_destPath)) {
            LogError() << "SMACK Staging: Failed to delete left-over files in: " << m_destPath << VLMR_FILE_LINE;
            return false;
        }
        LogInfo() << "SMACK Staging. From:" << m_srcPath << " To: " << m_destPath << VLMR_FILE_LINE;
        if (!m_fileSystem->CopyFiles(m_srcPath, m_destPath)) {
            LogError() << "SMACK Staging: Failed to copy: " << m_srcPath << " , to:" << m_destPath << VLMR_FILE_LINE;
            return false;
        }
        if (!m_fileSystem->SyncFile(m_destPath)) {
            LogError() << "SMACK Staging: Failed to fsync: " << m_destPath << VLMR_FILE_LINE;
            return false;
        }
    } catch (const std::exception& error) {
        LogError() << "SMACK Staging: " << error.what() << VLMR_FILE_LINE;
        return false;
    }
    return true;
}
