// The software-update state. Persisted as a 32-bit number, so every stored
// value must be representable: the enumeration has a fixed 32-bit type.
#ifndef KIVLIBRARY_GLOBALLIBRARY_SWUPDATESTATE_H
#define KIVLIBRARY_GLOBALLIBRARY_SWUPDATESTATE_H

#include <cstdint>
#include <string>

enum class SWupdateState : uint32_t {
    INVALID = 0,
    IDLE = 1,
    TRANSFER_IN_PROGRESS = 2,
    INSTALL_IN_PROGRESS = 3,
    INSTALL_COMPLETE = 4,
    COPY_IN_PROGRESS = 5,
    UNDO_DOWNLOAD = 6,
    UPDATE_IN_PROGRESS_COMMIT = 7,
    UPDATE_IN_PROGRESS_CLOSE = 8,
    ROLLBACK_IN_PROGRESS = 9,
    INSTALL_COMPLETE_PREPARED4SD = 10,
};

// The state's name; a value outside 0 to 10 logs an error and gives "".
std::string toString(SWupdateState state);

#endif
