#include "KivLibrary/Helper/AutoCloseFile.h"

#include "KivLibrary/Logger/Logging.h"

AutoCloseFileIfstream::AutoCloseFileIfstream(const std::string& path, bool throwOnError) {
    if (throwOnError) {
        stream_.exceptions(std::ios_base::failbit | std::ios_base::badbit);
    }
    stream_.open(path, std::ios_base::in | std::ios_base::binary);
}

AutoCloseFileIfstream::~AutoCloseFileIfstream() {
    // A close failure must not throw out of the destructor.
    stream_.exceptions(std::ios_base::goodbit);
    if (stream_.is_open()) {
        stream_.close();
    }
}

bool AutoCloseFileIfstream::IsOpen() { return stream_.is_open(); }

std::istream& AutoCloseFileIfstream::Read(char* buffer, size_t count) {
    return stream_.read(buffer, static_cast<std::streamsize>(count));
}

std::istream& AutoCloseFileIfstream::Seek(std::streamoff offset, std::ios_base::seekdir direction) {
    return stream_.seekg(offset, direction);
}

std::filebuf* AutoCloseFileIfstream::GetStreamBuffer() { return stream_.rdbuf(); }

AutoCloseFileOfstream::AutoCloseFileOfstream(const std::string& path) : path_(path) {
    stream_.exceptions(std::ios_base::failbit | std::ios_base::badbit);
    stream_.open(path, std::ios_base::out | std::ios_base::binary | std::ios_base::trunc);
}

AutoCloseFileOfstream::~AutoCloseFileOfstream() {
    // Closing flushes; a failing flush must be reported, not thrown out of the destructor.
    stream_.exceptions(std::ios_base::goodbit);
    if (stream_.is_open()) {
        stream_.close();
        if (stream_.fail()) {
            LogError() << "File: Cannot write path " << path_;
        }
    }
}

std::ostream& AutoCloseFileOfstream::Write(const char* data, size_t count) {
    return stream_.write(data, static_cast<std::streamsize>(count));
}
