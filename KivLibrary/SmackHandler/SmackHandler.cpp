#include "KivLibrary/SmackHandler/SmackHandler.h"

#include "KivLibrary/Helper/FileSystem.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
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

}  // namespace

SmackHandler::SmackHandler(std::shared_ptr<ISmackConfiguration> configuration)
    : SmackHandler(std::move(configuration), CreateFileSystem(SystemFileSystemOperations())) {}

SmackHandler::SmackHandler(std::shared_ptr<ISmackConfiguration> configuration,
                           std::shared_ptr<FileSystemInterface> fileSystem)
    : m_configuration(std::move(configuration)), m_fileSystem(std::move(fileSystem)) {}

void SmackHandler::BuildPaths() {
    const std::string root = m_configuration->GetLogisticsRootPath();
    std::string partition = m_configuration->GetInactivePartition();
    std::transform(partition.begin(), partition.end(), partition.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    m_srcPath = root + "/" + partition + "/" + m_configuration->GetSmackSourceDir() + "/";
    m_destPath = root + "/" + partition + "/" + m_configuration->GetSmackDestinationDir() + "/";
    LogInfo() << "SMACK Staging. m_srcPath=" << m_srcPath << " m_destPath=" << m_destPath << VLMR_FILE_LINE;
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
        if (!CheckDirectories()) {
            return true;
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
