#include "sim/tester/ProcessLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

namespace sim {

namespace fs = std::filesystem;

ProcessLog::ProcessLog(const std::string& root, const std::string& program, bool verbose) {
    if (verbose) {
        return;
    }
    if (!root.empty()) {
        std::error_code error;
        fs::create_directories(root, error);
        m_path = (fs::path(root) / "velmora.log").string();
    } else {
        std::string pattern = (fs::temp_directory_path() / (program + "-XXXXXX.log")).string();
        const int fd = mkstemps(pattern.data(), 4);
        if (fd < 0) {
            throw std::runtime_error("cannot create a log file below " + fs::temp_directory_path().string());
        }
        close(fd);
        m_path = pattern;
        m_temporary = true;
    }
    const int fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot open the log file " + m_path + ": " + std::strerror(errno));
    }
    std::cerr.flush();
    std::fflush(stderr);
    m_savedStderr = dup(STDERR_FILENO);
    const bool moved = m_savedStderr >= 0 && dup2(fd, STDERR_FILENO) >= 0;
    close(fd);
    if (!moved) {
        if (m_savedStderr >= 0) {
            close(m_savedStderr);
        }
        throw std::runtime_error("cannot send the standard error stream to " + m_path);
    }
}

ProcessLog::~ProcessLog() {
    if (m_path.empty()) {
        return;
    }
    std::cerr.flush();
    std::fflush(stderr);
    (void)dup2(m_savedStderr, STDERR_FILENO);
    close(m_savedStderr);
    if (m_temporary) {
        std::remove(m_path.c_str());
    }
}

}  // namespace sim
