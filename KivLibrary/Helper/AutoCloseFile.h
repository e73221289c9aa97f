// Binary file streams behind small interfaces; the file is closed when the
// object goes away.
#ifndef KIVLIBRARY_HELPER_AUTOCLOSEFILE_H
#define KIVLIBRARY_HELPER_AUTOCLOSEFILE_H

#include <cstddef>
#include <fstream>
#include <ios>
#include <istream>
#include <ostream>
#include <string>

class FileIfstreamInterface {
public:
    virtual ~FileIfstreamInterface() = default;
    virtual bool IsOpen() = 0;
    virtual std::istream& Read(char* buffer, size_t count) = 0;
    virtual std::istream& Seek(std::streamoff offset, std::ios_base::seekdir direction) = 0;
    virtual std::filebuf* GetStreamBuffer() = 0;
};

class AutoCloseFileIfstream : public FileIfstreamInterface {
public:
    // With throwOnError a failed open or read throws std::ios_base::failure;
    // without it the stream's state reports the failure.
    AutoCloseFileIfstream(const std::string& path, bool throwOnError);
    ~AutoCloseFileIfstream() override;
    AutoCloseFileIfstream(const AutoCloseFileIfstream&) = delete;
    AutoCloseFileIfstream& operator=(const AutoCloseFileIfstream&) = delete;

    bool IsOpen() override;
    std::istream& Read(char* buffer, size_t count) override;
    std::istream& Seek(std::streamoff offset, std::ios_base::seekdir direction) override;
    std::filebuf* GetStreamBuffer() override;

private:
    std::ifstream stream_;
};

class FileOfstreamInterface {
public:
    virtual ~FileOfstreamInterface() = default;
    virtual std::ostream& Write(const char* data, size_t count) = 0;
};

class AutoCloseFileOfstream : public FileOfstreamInterface {
public:
    // Truncates the file; a failed open or write throws std::ios_base::failure.
    explicit AutoCloseFileOfstream(const std::string& path);
    // Data that cannot be flushed on close is reported in the log.
    ~AutoCloseFileOfstream() override;
    AutoCloseFileOfstream(const AutoCloseFileOfstream&) = delete;
    AutoCloseFileOfstream& operator=(const AutoCloseFileOfstream&) = delete;

    std::ostream& Write(const char* data, size_t count) override;

private:
    std::string path_;
    std::ofstream stream_;
};

#endif
