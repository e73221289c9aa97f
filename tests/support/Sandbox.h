// A temporary directory that is removed with the object; optionally installed
// as the host root so that HostPath() lands inside it.
#ifndef TESTS_SUPPORT_SANDBOX_H
#define TESTS_SUPPORT_SANDBOX_H

#include <string>

namespace testsupport {

class Sandbox {
public:
    explicit Sandbox(bool asHostRoot = false);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& Root() const { return root_; }
    // Absolute path of a relative name inside the sandbox.
    std::string Path(const std::string& relative) const;
    // Writes a file (parent directories created) and returns its path.
    std::string WriteFile(const std::string& relative, const std::string& content) const;
    std::string ReadFile(const std::string& relative) const;
    void MakeDir(const std::string& relative) const;

private:
    std::string root_;
    bool asHostRoot_;
};

}  // namespace testsupport

#endif
