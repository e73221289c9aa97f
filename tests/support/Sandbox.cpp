#include "tests/support/Sandbox.h"

#include "platform/HostPath.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

Sandbox::Sandbox(bool asHostRoot) : asHostRoot_(asHostRoot) {
    std::string pattern = (fs::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create sandbox directory");
    }
    root_ = pattern;
    if (asHostRoot_) {
        platform::testhook::SetHostRoot(root_);
    }
}

Sandbox::~Sandbox() {
    if (asHostRoot_) {
        platform::testhook::SetHostRoot("");
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string Sandbox::Path(const std::string& relative) const {
    if (!relative.empty() && relative.front() == '/') {
        return root_ + relative;
    }
    return root_ + "/" + relative;
}

std::string Sandbox::WriteFile(const std::string& relative, const std::string& content) const {
    const std::string path = Path(relative);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

std::string Sandbox::ReadFile(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void Sandbox::MakeDir(const std::string& relative) const { fs::create_directories(Path(relative)); }

}  // namespace testsupport
