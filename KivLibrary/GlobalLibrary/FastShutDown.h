// The process-wide fast-shutdown flag. The state-management callback sets it
// while the platform prepares a fast shutdown; storage access and programming
// are refused while it is set. One atomic byte is the only synchronisation.
// Header-only so that the storage layers can read it without a link dependency.
#ifndef KIVLIBRARY_GLOBALLIBRARY_FASTSHUTDOWN_H
#define KIVLIBRARY_GLOBALLIBRARY_FASTSHUTDOWN_H

#include <atomic>
#include <cstdint>

class FastShutDown {
public:
    static void Set(bool active) { Flag().store(active ? 1 : 0, std::memory_order_release); }
    static bool IsSet() { return Flag().load(std::memory_order_acquire) != 0; }

private:
    static std::atomic<uint8_t>& Flag() {
        static std::atomic<uint8_t> flag{0};
        return flag;
    }
};

#endif
