// Common types of the in-process communication binding: errors, service
// handles, find-service handles and the method-call processing modes.
#ifndef PLATFORM_COM_TYPES_H
#define PLATFORM_COM_TYPES_H

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zov {
namespace com {

// Thrown by a proxy call (method or field getter) when no skeleton offers the
// instance at the time of the call.
class Service_not_available_exception : public std::runtime_error {
public:
    Service_not_available_exception() : std::runtime_error("Service not available exception") {}
};

// Thrown by OfferService when the same (service name, instance) is already offered.
class Service_already_offered_exception : public std::runtime_error {
public:
    explicit Service_already_offered_exception(const std::string& key)
        : std::runtime_error("Service already offered: " + key) {}
};

// Names one offered (or once offered) service instance. Proxies made from a
// handle look the instance up again at every call.
class HandleType {
public:
    HandleType() = default;
    HandleType(std::string serviceName, std::string instanceId)
        : m_serviceName(std::move(serviceName)), m_instanceId(std::move(instanceId)) {}

    const std::string& GetServiceName() const { return m_serviceName; }
    const std::string& GetInstanceId() const { return m_instanceId; }

    bool operator==(const HandleType& other) const {
        return m_serviceName == other.m_serviceName && m_instanceId == other.m_instanceId;
    }
    bool operator!=(const HandleType& other) const { return !(*this == other); }
    bool operator<(const HandleType& other) const {
        return m_serviceName != other.m_serviceName ? m_serviceName < other.m_serviceName
                                                    : m_instanceId < other.m_instanceId;
    }

private:
    std::string m_serviceName;
    std::string m_instanceId;
};

template <typename Handle>
using ServiceHandleContainer = std::vector<Handle>;

// Identifies one running asynchronous search.
class FindServiceHandle {
public:
    FindServiceHandle() = default;
    explicit FindServiceHandle(uint64_t id) : m_id(id) {}
    uint64_t GetId() const { return m_id; }
    std::string ToString() const { return std::to_string(m_id); }
    bool operator==(const FindServiceHandle& other) const { return m_id == other.m_id; }
    bool operator!=(const FindServiceHandle& other) const { return m_id != other.m_id; }
    bool operator<(const FindServiceHandle& other) const { return m_id < other.m_id; }

private:
    uint64_t m_id = 0;  // 0: no search
};

// Called on a binding thread with the current list of handles: once at the
// start of the search and again after every offer or withdrawal of the instance.
template <typename Handle>
using FindServiceHandler = std::function<void(ServiceHandleContainer<Handle>, FindServiceHandle)>;

}  // namespace com
}  // namespace zov

namespace ara {
namespace com {

// How a skeleton runs incoming calls. kEvent (1): on the skeleton's method
// threads, several at once; kEventSingleThread (2): one at a time on one method
// thread. Polling (0) is not supported by this binding.
enum class MethodCallProcessingMode : uint8_t { kPoll = 0, kEvent = 1, kEventSingleThread = 2 };

// A received event or field sample, shared by all subscribers it went to.
template <typename T>
using SamplePtr = std::shared_ptr<T>;

using EventReceiveHandler = std::function<void()>;

}  // namespace com
}  // namespace ara

#endif
