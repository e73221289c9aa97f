// Log helpers of the worker-thread routines: every line names the calling
// thread (upper-case hexadecimal) and the routine's tag (" IVD ", " MHV "),
// so that the interleaved lines of method, timer, binding and worker threads
// can be told apart; durations are whole milliseconds since a start time.
// Stateless: any thread.
#ifndef KIVLIBRARY_ROUTINES_ROUTINELOG_H
#define KIVLIBRARY_ROUTINES_ROUTINELOG_H

#include "KivLibrary/Logger/Logging.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

namespace routinelog {

using Clock = std::chrono::steady_clock;

inline std::string ThreadTag(const char* tag) {
    std::ostringstream text;
    text << std::hex << std::uppercase << std::hash<std::thread::id>()(std::this_thread::get_id()) << tag;
    return text.str();
}

inline uint64_t ElapsedMs(Clock::time_point start) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// "<text> = <ms> msec"
inline void LogDuration(LoggingStream stream, const std::string& text, Clock::time_point start) {
    stream << text << " = " << ElapsedMs(start) << " msec";
}

}  // namespace routinelog

inline LoggingStream LogIvdInfo() { return std::move(LogInfo() << routinelog::ThreadTag(" IVD ")); }
inline LoggingStream LogIvdWarn() { return std::move(LogWarn() << routinelog::ThreadTag(" IVD ")); }
inline LoggingStream LogIvdError() { return std::move(LogError() << routinelog::ThreadTag(" IVD ")); }
inline LoggingStream LogMhvInfo() { return std::move(LogInfo() << routinelog::ThreadTag(" MHV ")); }
inline LoggingStream LogMhvError() { return std::move(LogError() << routinelog::ThreadTag(" MHV ")); }

#endif
