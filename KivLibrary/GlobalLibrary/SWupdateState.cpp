#include "KivLibrary/GlobalLibrary/SWupdateState.h"

#include "KivLibrary/Logger/Logging.h"

#include <map>

std::string toString(SWupdateState state) {
    static const std::map<SWupdateState, std::string> names{
        {SWupdateState::INVALID, "INVALID"},
        {SWupdateState::IDLE, "IDLE"},
        {SWupdateState::TRANSFER_IN_PROGRESS, "TRANSFER_IN_PROGRESS"},
        {SWupdateState::INSTALL_IN_PROGRESS, "INSTALL_IN_PROGRESS"},
        {SWupdateState::INSTALL_COMPLETE, "INSTALL_COMPLETE"},
        {SWupdateState::COPY_IN_PROGRESS, "COPY_IN_PROGRESS"},
        {SWupdateState::UNDO_DOWNLOAD, "UNDO_DOWNLOAD"},
        {SWupdateState::UPDATE_IN_PROGRESS_COMMIT, "UPDATE_IN_PROGRESS_COMMIT"},
        {SWupdateState::UPDATE_IN_PROGRESS_CLOSE, "UPDATE_IN_PROGRESS_CLOSE"},
        {SWupdateState::ROLLBACK_IN_PROGRESS, "ROLLBACK_IN_PROGRESS"},
        {SWupdateState::INSTALL_COMPLETE_PREPARED4SD, "INSTALL_COMPLETE_PREPARED4SD"},
    };
    const auto it = names.find(state);
    if (it == names.end()) {
        LogError() << "invalid input state: toString(SWupdateState)" << VLMR_FILE_LINE;
        return std::string();
    }
    return it->second;
}
