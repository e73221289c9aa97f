// Directory copy/sync/clean-up over an injected table of primitive file
// operations, so the logic can run over substitutes.
#ifndef KIVLIBRARY_HELPER_FILESYSTEM_H
#define KIVLIBRARY_HELPER_FILESYSTEM_H

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

// The primitives may throw std::filesystem::filesystem_error.
struct FileSystemOperations {
    std::function<int(int fd)> fsync;                          // 0 on success
    std::function<bool(const std::filesystem::path&)> remove;  // true when something was removed
    std::function<bool(const std::filesystem::path&)> exists;
    std::function<bool(const std::filesystem::path&)> is_empty;
    std::function<bool(const std::filesystem::path& from, const std::filesystem::path& to,
                       std::filesystem::copy_options options)>
        copy_file;
};

class FileSystemInterface {
public:
    virtual ~FileSystemInterface() = default;
    // Copies the files directly inside fromDir into toDir, replacing existing
    // ones, and syncs each copy. Stops at the first failure; copies made so far stay.
    virtual bool CopyFiles(const std::string& fromDir, const std::string& toDir) = 0;
    // Removes the entries directly inside dir; a missing dir counts as done.
    virtual bool RemoveAllInDir(const std::string& dir) = 0;
    // Flushes a file to storage; an empty path is a no-op.
    virtual bool SyncFile(const std::string& path) = 0;
    // These four pass the exceptions of the primitives to the caller.
    virtual bool Remove(const std::string& path) = 0;
    virtual bool Exists(const std::string& path) = 0;
    virtual bool IsEmpty(const std::string& path) = 0;
    virtual bool CopyFile(const std::string& from, const std::string& to) = 0;
};

class FileSystemImpl : public FileSystemInterface {
public:
    explicit FileSystemImpl(FileSystemOperations operations);

    bool CopyFiles(const std::string& fromDir, const std::string& toDir) override;
    bool RemoveAllInDir(const std::string& dir) override;
    bool SyncFile(const std::string& path) override;
    bool Remove(const std::string& path) override;
    bool Exists(const std::string& path) override;
    bool IsEmpty(const std::string& path) override;
    bool CopyFile(const std::string& from, const std::string& to) override;

private:
    FileSystemOperations operations_;
};

std::shared_ptr<FileSystemInterface> CreateFileSystem(const FileSystemOperations& operations);
// The system's fsync and the standard library's file operations.
FileSystemOperations SystemFileSystemOperations();

#endif
