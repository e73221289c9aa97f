#include "platform/HostPath.h"

#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

struct RootHolder {
    std::mutex mutex;
    std::string root;

    RootHolder() {
        const char* env = std::getenv("VELMORA_ROOT");
        if (env != nullptr) {
            root = Normalise(env);
        }
    }

    static std::string Normalise(std::string value) {
        while (value.size() > 1 && value.back() == '/') {
            value.pop_back();
        }
        return value == "/" ? std::string() : value;
    }
};

RootHolder& Holder() {
    static RootHolder holder;
    return holder;
}

}  // namespace

std::string HostRoot() {
    RootHolder& holder = Holder();
    std::lock_guard<std::mutex> lock(holder.mutex);
    return holder.root;
}

std::string HostPath(const std::string& path) {
    const std::string root = HostRoot();
    if (root.empty() || path.empty() || path.front() != '/') {
        return path;
    }
    return root + path;
}

namespace testhook {
void SetHostRoot(const std::string& root) {
    RootHolder& holder = Holder();
    std::lock_guard<std::mutex> lock(holder.mutex);
    holder.root = RootHolder::Normalise(root);
}
}  // namespace testhook

}  // namespace platform
