// Where the process log goes while a console program (velmora-tester,
// velmora-doip) runs Velmora in-process: to a file whose path the program
// prints, so that its own step lines stay readable, or to stderr when the
// user asks for it (--verbose). The process writes its log, and a few lines
// of its own, to the standard error stream, so the file takes the place of
// file descriptor 2 while the object lives: the console's own messages go to
// its standard output meanwhile. One at a time per process, on the owning
// thread. Not part of the product.
#ifndef SIM_TESTER_PROCESSLOG_H
#define SIM_TESTER_PROCESSLOG_H

#include <string>

namespace sim {

class ProcessLog {
public:
    // Verbose: stderr, as before. Otherwise ROOT/velmora.log when a root is
    // given, else a fresh temporary file named after `program`, which is
    // removed at the end unless Keep(). Throws std::runtime_error when the
    // file cannot be opened.
    ProcessLog(const std::string& root, const std::string& program, bool verbose);
    // Back to stderr; removes a temporary file unless Keep().
    ~ProcessLog();
    ProcessLog(const ProcessLog&) = delete;
    ProcessLog& operator=(const ProcessLog&) = delete;

    // Empty when the log goes to stderr.
    const std::string& Path() const { return m_path; }
    // True when the file outlives the program (a root's log, or Keep()).
    bool Kept() const { return !m_path.empty() && !m_temporary; }
    void Keep() { m_temporary = false; }

private:
    std::string m_path;
    bool m_temporary = false;
    // The standard error stream the program started with.
    int m_savedStderr = -1;
};

}  // namespace sim

#endif
