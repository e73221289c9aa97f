#include "KivLibrary/Helper/FileSystem.h"

#include "KivLibrary/Logger/Logging.h"

#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// strerror() text without strerror()'s shared buffer.
std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') {
        return dir + name;
    }
    return dir + "/" + name;
}

// Closes the descriptor also when the injected fsync throws.
class ScopedFd {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

FileSystemImpl::FileSystemImpl(FileSystemOperations operations) : operations_(std::move(operations)) {}

bool FileSystemImpl::CopyFiles(const std::string& fromDir, const std::string& toDir) {
    LogInfo() << "Copying files from '" << fromDir << "' ---> '" << toDir << "'";
    try {
        for (const fs::directory_entry& entry : fs::directory_iterator(fromDir)) {
            const std::string source = entry.path().string();
            const std::string target = JoinPath(toDir, entry.path().filename().string());
            LogInfo() << "Copying file: '" << source << "' ---> '" << target << "'";
            if (!operations_.copy_file(entry.path(), target, fs::copy_options::overwrite_existing)) {
                LogError() << "Failed to copy file: '" << source << "' ---> '" << target << "'";
                return false;
            }
            if (!SyncFile(target)) {
                LogError() << "Failed to sync file: '" << target << "'";
                return false;
            }
        }
    } catch (const fs::filesystem_error& e) {
        LogError() << "Could not copy: '" << e.path1().string() << "' , to: '" << e.path2().string()
                   << "' : Cause: " << e.what();
        return false;
    } catch (const std::exception& e) {
        LogError() << "Could not copy: '" << fromDir << "' , to: '" << toDir << "' : Cause: " << e.what();
        return false;
    }
    return true;
}

bool FileSystemImpl::RemoveAllInDir(const std::string& dir) {
    LogInfo() << "Removing all in dir: '" << dir << "'";
    try {
        if (!operations_.exists(dir) || operations_.is_empty(dir)) {
            return true;
        }
        // Listed first so removals cannot disturb the walk.
        std::vector<fs::path> entries;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            entries.push_back(entry.path());
        }
        for (const fs::path& entry : entries) {
            LogInfo() << "Removing: '" << entry.string() << "'";
            if (!operations_.remove(entry)) {
                LogError() << "Failed to remove: '" << entry.string() << "'";
                return false;
            }
        }
    } catch (const fs::filesystem_error& e) {
        LogError() << "Remove all in dir: '" << e.path1().string() << "' Failed: Cause: " << e.what();
        return false;
    } catch (const std::exception& e) {
        LogError() << "Remove all in dir: '" << dir << "' Failed: Cause: " << e.what();
        return false;
    }
    return true;
}

bool FileSystemImpl::SyncFile(const std::string& path) {
    if (path.empty()) {
        return true;
    }
    const ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        // Report why the file could not be opened rather than fsync's EBADF.
        LogError() << "File: Cannot fsync path " << path << ": error " << ErrorText(errno);
        return false;
    }
    const int result = operations_.fsync(fd.Get());
    if (result != 0) {
        const int error = errno;
        LogError() << "File: Cannot fsync path " << path << ": error " << ErrorText(error);
        return false;
    }
    return true;
}

bool FileSystemImpl::Remove(const std::string& path) { return operations_.remove(path); }

bool FileSystemImpl::Exists(const std::string& path) { return operations_.exists(path); }

bool FileSystemImpl::IsEmpty(const std::string& path) { return operations_.is_empty(path); }

bool FileSystemImpl::CopyFile(const std::string& from, const std::string& to) {
    return operations_.copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::shared_ptr<FileSystemInterface> CreateFileSystem(const FileSystemOperations& operations) {
    return std::make_shared<FileSystemImpl>(operations);
}

FileSystemOperations SystemFileSystemOperations() {
    FileSystemOperations operations;
    operations.fsync = [](int fd) { return ::fsync(fd); };
    operations.remove = [](const fs::path& path) { return fs::remove(path); };
    operations.exists = [](const fs::path& path) { return fs::exists(path); };
    operations.is_empty = [](const fs::path& path) { return fs::is_empty(path); };
    operations.copy_file = [](const fs::path& from, const fs::path& to, fs::copy_options options) {
        return fs::copy_file(from, to, options);
    };
    return operations;
}
