#include "sim/RoutineControl.h"

#include "KivLibrary/Logger/Logging.h"
#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_proxy.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_proxy.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_proxy.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_proxy.h"
#include "platform/services/zenqo/services/diag/r_c00e/RoutineService_CheckUpdate_proxy.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_proxy.h"
#include "platform/services/zenqo/services/diag/r_ff00/RoutineService_EraseMemory_proxy.h"
#include "platform/services/zenqo/services/diag/r_ff01/RoutineService_CheckProgrammingDependencies_proxy.h"
#include "sim/ServiceCall.h"

#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace sim {

namespace {

namespace diag = zenqo::services::diag;
using Bytes = RoutineControl::Bytes;
using Meta = zov::dm::types::MetaInfoType;

constexpr uint8_t kSid = 0x31;
constexpr uint8_t kPositive = 0x71;
constexpr uint8_t kGeneralReject = 0x10;
constexpr uint8_t kSubFunctionNotSupported = 0x12;
constexpr uint8_t kIncorrectLength = 0x13;
constexpr uint8_t kRequestOutOfRange = 0x31;
constexpr uint8_t kSuppressBit = 0x80;
constexpr size_t kHeaderSize = 4;  // 31, sub-function, routine id

// Positions of a three-byte UDSServiceFailed code.
constexpr int kResultsPosition = 0;
constexpr int kStartPosition = 1;
constexpr int kStopPosition = 2;

Bytes Negative(uint8_t nrc) { return Bytes{0x7F, kSid, nrc}; }

// For the interfaces that declare no application error: never thrown.
struct NoApplicationError : std::exception {};

// ---- arguments: uint8 one byte, a byte vector the rest ---------------------------

class Reader {
public:
    explicit Reader(const Bytes& data) : m_data(data) {}
    bool Take(uint8_t& value) {
        if (m_offset >= m_data.size()) {
            return false;
        }
        value = m_data[m_offset++];
        return true;
    }
    bool Take(std::vector<uint8_t>& value) {
        value.assign(m_data.begin() + static_cast<std::ptrdiff_t>(m_offset), m_data.end());
        m_offset = m_data.size();
        return true;
    }
    bool AtEnd() const { return m_offset == m_data.size(); }

private:
    const Bytes& m_data;
    size_t m_offset = 0;
};

template <typename Signature>
struct SignatureTraits;

template <typename R, typename... Args>
struct SignatureTraits<R(Meta, Args...)> {
    using Result = R;
    using Arguments = std::tuple<Args...>;
};

template <typename Tuple>
std::optional<Tuple> DecodeArguments(const Bytes& data) {
    Tuple arguments;
    Reader reader(data);
    const bool complete = std::apply([&](auto&... item) { return (reader.Take(item) && ...); }, arguments);
    if (!complete || !reader.AtEnd()) {
        return std::nullopt;
    }
    return arguments;
}

// ---- outputs, in interface order ---------------------------------------------------

void Put(Bytes& out, uint8_t value) { out.push_back(value); }
void Put(Bytes& out, const std::vector<uint8_t>& value) { out.insert(out.end(), value.begin(), value.end()); }

template <typename... Values>
Bytes Fields(const Values&... fields) {
    Bytes out;
    (Put(out, fields), ...);
    return out;
}

Bytes Encode(const diag::r_0202::RoutineService_CheckMemory::Start::Output& o) { return Fields(o.routineStatus); }
Bytes Encode(const diag::r_0203::RoutineService_CheckProgrammingPreconditions::Start::Output& o) {
    return Fields(o.routineStatusRecord);
}
Bytes Encode(const diag::r_0253::RoutineService_CalculateIntegrityValidationData::Start::Output& o) {
    return Fields(o.IVD_Result, o.IVD_Flag, o.ProgHashValue);
}
Bytes Encode(const diag::r_029a::RoutineService_CalculateModuleHashValue::Start::Output& o) {
    return Fields(o.Resp_Status, o.CalculationType, o.HashType);
}
Bytes Encode(const diag::r_029a::RoutineService_CalculateModuleHashValue::RequestResults::Output& o) {
    return Fields(o.Resp_Status, o.Progress, o.CalculationType, o.HashType, o.IVD_Result, o.ProgHashValue);
}
Bytes Encode(const diag::r_c00e::RoutineService_CheckUpdate::Start::Output& o) { return Fields(o.routineInfo); }
Bytes Encode(const diag::r_c00e::RoutineService_CheckUpdate::RequestResults::Output& o) {
    return Fields(o.routineInfo, o.routineData);
}
Bytes Encode(const diag::r_c010::RoutineService_StartUpdate::Start::Output& o) { return Fields(o.routineInfo); }
Bytes Encode(const diag::r_c010::RoutineService_StartUpdate::RequestResults::Output& o) {
    return Fields(o.Resp_Status, o.Progress, o.Address_Length, o.Memory_Address_First, o.Add_Info);
}
Bytes Encode(const diag::r_ff00::RoutineService_EraseMemory::Start::Output& o) { return Fields(o.routineStatus); }
Bytes Encode(const diag::r_ff01::RoutineService_CheckProgrammingDependencies::Start::Output& o) {
    return Fields(o.routineStatus);
}

template <typename R>
Bytes EncodeResult(jux::com::Future<R> future) {
    if constexpr (std::is_void_v<R>) {
        future.get();
        return {};
    } else {
        return Encode(future.get());
    }
}

// ---- negative response codes ---------------------------------------------------------

template <typename F, typename = void>
struct HasThreeCodes : std::false_type {};
template <typename F>
struct HasThreeCodes<F, std::void_t<decltype(std::declval<const F&>().GetStartCode())>> : std::true_type {};

template <typename F, typename = void>
struct HasOneCode : std::false_type {};
template <typename F>
struct HasOneCode<F, std::void_t<decltype(std::declval<const F&>().GetCode())>> : std::true_type {};

template <typename Failed>
uint8_t NrcOf(const Failed& failure, int position) {
    uint8_t nrc = 0;
    if constexpr (HasThreeCodes<Failed>::value) {
        const uint8_t codes[3] = {failure.GetRequestResultsCode(), failure.GetStartCode(), failure.GetStopCode()};
        nrc = codes[position];
        for (size_t i = 0; nrc == 0 && i < 3; ++i) {
            nrc = codes[i];
        }
    } else if constexpr (HasOneCode<Failed>::value) {
        nrc = failure.GetCode();
    }
    if (nrc == 0) {
        LogError() << "DM: " << failure.what() << " carries no negative response code" << VLMR_FILE_LINE;
        return kGeneralReject;
    }
    return nrc;
}

// ---- the interfaces ------------------------------------------------------------------
// Proxy, the method descriptions (void: the interface lacks the method) and
// the application error of each interface.

struct CheckMemory {
    using Interface = diag::r_0202::proxy::RoutineService_CheckMemoryProxy;
    using Start = diag::r_0202::RoutineService_CheckMemory::Start;
    using Stop = void;
    using RequestResults = void;
    using Failed = diag::r_0202::RoutineService_CheckMemory::UDSServiceFailed;
};

struct CheckProgrammingPreconditions {
    using Interface = diag::r_0203::proxy::RoutineService_CheckProgrammingPreconditionsProxy;
    using Start = diag::r_0203::RoutineService_CheckProgrammingPreconditions::Start;
    using Stop = void;
    using RequestResults = void;
    using Failed = diag::r_0203::RoutineService_CheckProgrammingPreconditions::UDSServiceFailed;
};

struct CalculateIntegrityValidationData {
    using Interface = diag::r_0253::proxy::RoutineService_CalculateIntegrityValidationDataProxy;
    using Start = diag::r_0253::RoutineService_CalculateIntegrityValidationData::Start;
    using Stop = void;
    using RequestResults = void;
    using Failed = diag::r_0253::RoutineService_CalculateIntegrityValidationData::UDSServiceFailed;
};

struct CalculateModuleHashValue {
    using Interface = diag::r_029a::proxy::RoutineService_CalculateModuleHashValueProxy;
    using Start = diag::r_029a::RoutineService_CalculateModuleHashValue::Start;
    using Stop = diag::r_029a::RoutineService_CalculateModuleHashValue::Stop;
    using RequestResults = diag::r_029a::RoutineService_CalculateModuleHashValue::RequestResults;
    using Failed = diag::r_029a::RoutineService_CalculateModuleHashValue::UDSServiceFailed;
};

struct CheckUpdate {
    using Interface = diag::r_c00e::proxy::RoutineService_CheckUpdateProxy;
    using Start = diag::r_c00e::RoutineService_CheckUpdate::Start;
    using Stop = diag::r_c00e::RoutineService_CheckUpdate::Stop;
    using RequestResults = diag::r_c00e::RoutineService_CheckUpdate::RequestResults;
    using Failed = NoApplicationError;
};

struct StartUpdate {
    using Interface = diag::r_c010::proxy::RoutineService_StartUpdateProxy;
    using Start = diag::r_c010::RoutineService_StartUpdate::Start;
    using Stop = diag::r_c010::RoutineService_StartUpdate::Stop;
    using RequestResults = diag::r_c010::RoutineService_StartUpdate::RequestResults;
    using Failed = diag::r_c010::RoutineService_StartUpdate::UDSServiceFailed;
};

struct EraseMemory {
    using Interface = diag::r_ff00::proxy::RoutineService_EraseMemoryProxy;
    using Start = diag::r_ff00::RoutineService_EraseMemory::Start;
    using Stop = void;
    using RequestResults = void;
    using Failed = NoApplicationError;
};

struct CheckProgrammingDependencies {
    using Interface = diag::r_ff01::proxy::RoutineService_CheckProgrammingDependenciesProxy;
    using Start = diag::r_ff01::RoutineService_CheckProgrammingDependencies::Start;
    using Stop = void;
    using RequestResults = void;
    using Failed = NoApplicationError;
};

template <typename T>
class Routine final : public RoutineControl::Endpoint {
public:
    using Proxy = typename T::Interface;

    Routine(uint16_t id, const std::string& instance, std::chrono::milliseconds timeout)
        : m_id(id), m_slot(instance), m_timeout(timeout) {
        char text[8];
        std::snprintf(text, sizeof(text), "%04X", static_cast<unsigned>(id));
        m_name = std::string("routine 0x") + text;
    }

    Bytes Call(uint8_t subFunction, const Bytes& arguments, const Meta& meta) override {
        switch (subFunction) {
            case RoutineControl::kStart:
                return Invoke<typename T::Start>(
                    subFunction, kStartPosition, arguments, meta, [](Proxy & proxy) -> auto& { return proxy.Start; });
            case RoutineControl::kStop:
                if constexpr (!std::is_void_v<typename T::Stop>) {
                    return Invoke<typename T::Stop>(
                        subFunction, kStopPosition, arguments, meta, [](Proxy & proxy) -> auto& { return proxy.Stop; });
                }
                break;
            case RoutineControl::kRequestResults:
                if constexpr (!std::is_void_v<typename T::RequestResults>) {
                    return Invoke<typename T::RequestResults>(
                        subFunction, kResultsPosition, arguments, meta,
                        [](Proxy & proxy) -> auto& { return proxy.RequestResults; });
                }
                break;
            default:
                break;
        }
        return Negative(kSubFunctionNotSupported);
    }

    void DropProxy() override { m_slot.DropAll(); }

private:
    template <typename Method, typename Select>
    Bytes Invoke(uint8_t subFunction, int position, const Bytes& arguments, const Meta& meta, Select select) {
        using Traits = SignatureTraits<typename Method::Signature>;
        const auto decoded = DecodeArguments<typename Traits::Arguments>(arguments);
        if (!decoded) {
            LogError() << "DM: " << m_name << " " << Method::kName << ": " << static_cast<uint64_t>(arguments.size())
                       << " argument bytes do not fit the interface" << VLMR_FILE_LINE;
            return Negative(kIncorrectLength);
        }
        try {
            const auto output = CallBounded<typename T::Failed>(
                m_slot, m_timeout, m_name + " " + Method::kName,
                [&](Proxy& proxy) {
                    return std::apply([&](const auto&... values) { return select(proxy)(meta, values...); }, *decoded);
                },
                [](auto future) { return EncodeResult(std::move(future)); });
            if (!output) {
                return Negative(kGeneralReject);
            }
            Bytes response{kPositive, subFunction, static_cast<uint8_t>(m_id >> 8), static_cast<uint8_t>(m_id & 0xFF)};
            response.insert(response.end(), output->begin(), output->end());
            return response;
        } catch (const typename T::Failed& failure) {
            return Negative(NrcOf(failure, position));
        }
    }

    const uint16_t m_id;
    ProxySlot<Proxy> m_slot;
    const std::chrono::milliseconds m_timeout;
    std::string m_name;
};

using Factory =
    std::function<std::unique_ptr<RoutineControl::Endpoint>(uint16_t, const std::string&, std::chrono::milliseconds)>;

template <typename T>
Factory Make() {
    return [](uint16_t id, const std::string& instance, std::chrono::milliseconds timeout) {
        return std::make_unique<Routine<T>>(id, instance, timeout);
    };
}

// Routine-id text (the configuration's spelling) -> interface.
const std::map<std::string, Factory>& Interfaces() {
    static const std::map<std::string, Factory> table = {
        {"0x0202", Make<CheckMemory>()},
        {"0x0203", Make<CheckProgrammingPreconditions>()},
        {"0x0253", Make<CalculateIntegrityValidationData>()},
        {"0x029A", Make<CalculateModuleHashValue>()},
        {"0xC00E", Make<CheckUpdate>()},
        {"0xC010", Make<StartUpdate>()},
        {"0xFF00", Make<EraseMemory>()},
        {"0xFF01", Make<CheckProgrammingDependencies>()},
    };
    return table;
}

}  // namespace

RoutineControl::RoutineControl(const std::map<std::string, std::string>& mapping,
                               std::chrono::milliseconds callTimeout) {
    for (const auto& [key, instance] : mapping) {
        const auto known = Interfaces().find(key);
        if (known == Interfaces().end()) {
            LogWarn() << "DM: routine " << key << " has no known interface; not mapped" << VLMR_FILE_LINE;
            continue;
        }
        const auto id = static_cast<uint16_t>(std::stoul(key, nullptr, 16));
        m_endpoints[id] = known->second(id, instance, callTimeout);
    }
}

RoutineControl::~RoutineControl() = default;

Bytes RoutineControl::Handle(const Bytes& request, const Meta& meta) {
    if (request.size() < kHeaderSize) {
        return Negative(kIncorrectLength);
    }
    const uint8_t subFunction = request[1] & static_cast<uint8_t>(~kSuppressBit);
    if (subFunction < kStart || subFunction > kRequestResults) {
        return Negative(kSubFunctionNotSupported);
    }
    const auto id = static_cast<uint16_t>((request[2] << 8) | request[3]);
    const auto endpoint = m_endpoints.find(id);
    if (endpoint == m_endpoints.end()) {
        return Negative(kRequestOutOfRange);
    }
    const Bytes arguments(request.begin() + kHeaderSize, request.end());
    Bytes response = endpoint->second->Call(subFunction, arguments, meta);
    if ((request[1] & kSuppressBit) != 0 && !response.empty() && response.front() == kPositive) {
        return {};
    }
    return response;
}

std::vector<uint16_t> RoutineControl::Routines() const {
    std::vector<uint16_t> ids;
    for (const auto& entry : m_endpoints) {
        ids.push_back(entry.first);
    }
    return ids;
}

void RoutineControl::DropProxies() {
    for (auto& entry : m_endpoints) {
        entry.second->DropProxy();
    }
}

std::vector<std::string> RoutineControl::KnownRoutines() {
    std::vector<std::string> keys;
    for (const auto& entry : Interfaces()) {
        keys.push_back(entry.first);
    }
    return keys;
}

}  // namespace sim
