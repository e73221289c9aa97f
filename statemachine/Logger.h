// Sink for the engine's messages; the owner of the machine decides where they go.
#ifndef STATEMACHINE_LOGGER_H
#define STATEMACHINE_LOGGER_H

#include <string>

namespace stelvo::small_sm {

class Logger {
public:
    virtual ~Logger() = default;
    // level 0: error, level 1: state entry and exit.
    virtual void log(int level, const std::string& text) = 0;
};

}  // namespace stelvo::small_sm

#endif  // STATEMACHINE_LOGGER_H
