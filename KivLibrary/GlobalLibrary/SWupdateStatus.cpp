#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"

#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Logger/Logging.h"

#include <utility>

namespace {

using PeerState = SharedMemoryInterface::SWupdateState;

struct PeerTransition {
    uint8_t from;
    uint8_t to;
};

// Over peer states; (3, 6) and (4, 6) appear twice, which is harmless.
constexpr PeerTransition kAllowedTransitions[] = {
    {1, 2}, {1, 6}, {1, 5}, {1, 3}, {1, 4}, {5, 6}, {3, 6}, {4, 6}, {6, 2}, {6, 6}, {2, 3},
    {3, 4}, {3, 6}, {4, 6}, {4, 5}, {2, 6}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5},
};

// Peer state per state 1 to 10.
constexpr uint8_t kPeerStates[] = {2, 3, 4, 5, 6, 6, 6, 6, 6, 5};

std::string FlagText(int32_t flag) {
    switch (flag) {
        case SharedMemoryInterface::kSwUpdateFlagAllowed:
            return "YES";
        case SharedMemoryInterface::kSwUpdateFlagNotAllowed:
            return "NO";
        case SharedMemoryInterface::kSwUpdateFlagInvalid:
            return "INVALID";
        default:
            return std::string();
    }
}

bool IsKnownState(SWupdateState state) {
    const auto value = static_cast<uint32_t>(state);
    return value >= 1 && value <= 10;
}

}  // namespace

SWupdateStatus::SWupdateStatus(std::shared_ptr<PersistentDataStorage> database) : m_database(std::move(database)) {
    if (!m_database) {
        LogError() << "!!!!!!!!!!! NO Persistent DB for SW update status" << VLMR_FILE_LINE;
    }
}

SharedMemoryInterface::SWupdateState SWupdateStatus::ToPeerState(SWupdateState state) {
    if (!IsKnownState(state)) {
        return PeerState::kInvalid;
    }
    return static_cast<PeerState>(kPeerStates[static_cast<uint32_t>(state) - 1]);
}

bool SWupdateStatus::IsTransitionAllowed(SWupdateState from, SWupdateState to) {
    const auto peerFrom = static_cast<uint8_t>(ToPeerState(from));
    const auto peerTo = static_cast<uint8_t>(ToPeerState(to));
    for (const auto& transition : kAllowedTransitions) {
        if (transition.from == peerFrom && transition.to == peerTo) {
            return true;
        }
    }
    return false;
}

void SWupdateStatus::ReadStatus(SWupdateState& state) {
    std::lock_guard<std::mutex> lock(m_changeMutex);
    const bool available = m_database && m_database->IsStorageAvailable();
    SWupdateState value = SWupdateState::INVALID;
    if (available) {
        m_database->ReadSWupdateState(value);
    } else {
        LogError() << "!!!!!!!!!!! NO Persistent DB for SW update status: READ" << VLMR_FILE_LINE;
    }
    if (!IsKnownState(value) && available) {
        value = SWupdateState::IDLE;
        m_database->WriteSWupdateState(value);
    }
    state = value;
    LogInfo() << "===++++++++++++++++++ SW Read Status old: " << toString(m_status.load())
              << " new: " << toString(value) << "++++++++++++++++++" << VLMR_FILE_LINE;
    m_status.store(value);
}

void SWupdateStatus::WriteStatusToRT() { WriteStatusToRT(m_status.load()); }

void SWupdateStatus::WriteStatusToRT(SWupdateState state) {
    LogInfo() << "Writing SW update status to RT via shared memory: " << toString(state) << VLMR_FILE_LINE;
    SharedMemoryInterface::Instance().WriteSwUpdateState(ToPeerState(state), SharedMemoryInterface::kVmStatusPath);
}

bool SWupdateStatus::SetStatus(SWupdateState state) {
    std::lock_guard<std::mutex> lock(m_changeMutex);
    const SWupdateState old = m_status.load();
    LogInfo() << "+++==================== SW Update Status old: " << toString(old) << " new: " << toString(state)
              << "====================" << VLMR_FILE_LINE;
    if (!IsTransitionAllowed(old, state)) {
        LogWarn() << "==================== SW Update Status NOT ALLOWED from: " << toString(old)
                  << " to: " << toString(state) << VLMR_FILE_LINE;
    }
    m_status.store(state);
    WriteStatusToRT(state);
    if (m_database && m_database->IsStorageAvailable()) {
        return m_database->WriteSWupdateState(state);
    }
    LogError() << "!!!!!!!!!!! NO Persistent DB for SW update status: WRITE" << VLMR_FILE_LINE;
    return false;
}

int32_t SWupdateStatus::GetSwUpdateFlag() {
    const int32_t flag = SharedMemoryInterface::Instance().ReadSwUpdateFlag(SharedMemoryInterface::kRcarStatusPath);
    const int32_t old = m_swUpdateFlag.exchange(flag);
    LogInfo() << "------------------ SW Get Flag old: " << FlagText(old) << " new: " << FlagText(flag)
              << VLMR_FILE_LINE;
    return flag;
}

bool SWupdateStatus::IsProgrammingAllowed() { return m_status.load() == SWupdateState::IDLE && !FastShutDown::IsSet(); }

SWupdateState SWupdateStatus::GetStatus() { return m_status.load(); }

bool UpdateSwStatus(const std::shared_ptr<SWupdateStatus>& status, SWupdateState state, const std::string& step) {
    if (!status) {
        return false;
    }
    if (!status->SetStatus(state)) {
        LogError() << step << ": failed to update SW status to " << toString(state) << VLMR_FILE_LINE;
        return false;
    }
    return true;
}
