// Every absolute system path the process touches goes through HostPath, so the
// real code can run inside a sandbox root (environment variable VELMORA_ROOT).
#ifndef PLATFORM_HOSTPATH_H
#define PLATFORM_HOSTPATH_H

#include <string>

namespace platform {

// The path below the sandbox root; unchanged when no root is set.
std::string HostPath(const std::string& path);

// The root in force ("" when none).
std::string HostRoot();

namespace testhook {
// Replaces the root taken from the environment; "" removes it.
void SetHostRoot(const std::string& root);
}  // namespace testhook

}  // namespace platform

#endif
