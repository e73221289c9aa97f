#include "sim/UpdateManager.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "platform/com/Types.h"

namespace sim {
namespace {

namespace pm = ara::ucm::PackageManagement;
namespace isp = ara::ucm::InstallStatusProvider;
namespace cip = ara::ucm::ClusterIntegrityProvider;
using pm::UCMServiceFailed;

constexpr uint8_t kBusy = 1;
constexpr uint8_t kReady = 0;
constexpr uint8_t kGeneralReject = 1;
constexpr uint8_t kSessionIdInvalid = 3;
constexpr uint8_t kServiceNotSupported = 4;
constexpr uint8_t kInstallStatusSuccess = 7;

struct MethodInfo {
    UcmMethod method;
    const char* name;
    bool blocking;      // the adaptor waits for it under its mutex
    size_t errorField;  // position of its code in UCMServiceFailed
    bool packageManagement;
};

const MethodInfo kMethods[] = {
    {UcmMethod::kStart, "Start", true, 0, true},
    {UcmMethod::kTransferStart, "TransferStart", true, 4, true},
    {UcmMethod::kTransferData, "TransferData", true, 5, true},
    {UcmMethod::kTransferExit, "TransferExit", true, 6, true},
    {UcmMethod::kInstallUpdate, "InstallUpdate", false, UCMServiceFailed::kInstallUpdateIndex, true},
    {UcmMethod::kCommitUpdate, "CommitUpdate", true, UCMServiceFailed::kCommitUpdateIndex, true},
    {UcmMethod::kCancelUpdate, "CancelUpdate", true, 7, true},
    {UcmMethod::kClose, "Close", true, UCMServiceFailed::kCloseIndex, true},
    {UcmMethod::kGetProgress, "GetProgress", true, 8, true},
    {UcmMethod::kGetLog, "GetLog", true, 9, true},
    {UcmMethod::kGetInstallationResult, "GetInstallationResult", true, 10, true},
    {UcmMethod::kGetCurrentStatus, "GetCurrentStatus", true, 11, true},
    {UcmMethod::kGetInstallationStatus, "GetInstallationStatus", true, 0, false},
    {UcmMethod::kGetSwClusterIntegrity, "GetSwClusterIntegrity", false, 0, false},
    {UcmMethod::kCancel, "Cancel", false, 0, false},
};

const MethodInfo& Info(UcmMethod method) {
    for (const auto& info : kMethods) {
        if (info.method == method) {
            return info;
        }
    }
    throw std::logic_error("unknown UCM method");
}

UCMServiceFailed ServiceFailed(size_t field, uint8_t code) {
    UCMServiceFailed::Fields fields{};
    fields[field] = code;
    return UCMServiceFailed(fields);
}

std::string Describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const UCMServiceFailed& failed) {
        std::string codes;
        for (size_t i = 0; i < UCMServiceFailed::kFieldCount; ++i) {
            if (failed.GetField(i) != 0) {
                codes += (codes.empty() ? "" : ",") + std::to_string(failed.GetField(i));
            }
        }
        return "UCMServiceFailed " + codes;
    } catch (const std::exception& e) {
        return std::string("error ") + e.what();
    } catch (...) {
        return "error";
    }
}

template <typename T>
std::string DescribeValue(const T& value) {
    if constexpr (std::is_same<T, uint8_t>::value) {
        return std::to_string(value);
    } else if constexpr (std::is_same<T, pm::Start::Output>::value) {
        return std::to_string(value.id);
    } else if constexpr (std::is_same<T, pm::TransferStart::Output>::value ||
                         std::is_same<T, pm::TransferData::Output>::value ||
                         std::is_same<T, pm::TransferExit::Output>::value ||
                         std::is_same<T, pm::GetInstallationResult::Output>::value) {
        return std::to_string(value.result);
    } else if constexpr (std::is_same<T, pm::GetProgress::Output>::value) {
        return std::to_string(value.progress);
    } else if constexpr (std::is_same<T, pm::GetLog::Output>::value) {
        return std::to_string(value.log.size()) + " entries";
    } else if constexpr (std::is_same<T, isp::GetInstallationStatus::Output>::value) {
        return "status " + std::to_string(value.Status) + ", " + std::to_string(value.IntegrityData.size()) +
               " clusters";
    } else if constexpr (std::is_same<T, cip::GetSwClusterIntegrity::Output>::value) {
        return "status " + std::to_string(value.Status) + " " + value.Cluster;
    } else if constexpr (std::is_same<T, cip::Cancel::Output>::value) {
        return std::to_string(value.Status);
    } else {
        return "?";
    }
}

}  // namespace

const char* UcmMethodName(UcmMethod method) { return Info(method).name; }

bool ParseUcmMethod(const std::string& name, UcmMethod& method) {
    for (const auto& info : kMethods) {
        if (name == info.name) {
            method = info.method;
            return true;
        }
    }
    return false;
}

// ---- the three skeletons: thin forwards into the manager -----------------------

class UpdateManager::PackageManagementService : public ara::ucm::skeleton::PackageManagementSkeleton {
public:
    PackageManagementService(UpdateManager& owner, const std::string& instance)
        : PackageManagementSkeleton(instance, ara::com::MethodCallProcessingMode::kEvent), m_owner(owner) {
        CurrentStatus.RegisterGetHandler([this] {
            return m_owner.Answer<uint8_t>(UcmMethod::kGetCurrentStatus, "", [this](const UcmFault& fault) {
                if (fault.kind == UcmFault::Kind::kAnswer) {
                    return fault.value;
                }
                return m_owner.CurrentStatus();
            });
        });
    }
    ~PackageManagementService() override {
        StopOfferService();
        StopMethodDispatcher();
    }

    jux::com::Future<pm::Start::Output> Start() override {
        return m_owner.Answer<pm::Start::Output>(UcmMethod::kStart, "", [this](const UcmFault& fault) {
            if (fault.kind == UcmFault::Kind::kAnswer) {
                return pm::Start::Output{fault.value};
            }
            return m_owner.DoStart();
        });
    }
    jux::com::Future<pm::TransferStart::Output> TransferStart(uint32_t id, uint32_t size) override {
        return m_owner.Answer<pm::TransferStart::Output>(
            UcmMethod::kTransferStart, std::to_string(id) + ", " + std::to_string(size),
            [this, id, size](const UcmFault& fault) {
                return pm::TransferStart::Output{
                    fault.kind == UcmFault::Kind::kAnswer ? fault.value : m_owner.DoTransferStart(id, size)};
            });
    }
    jux::com::Future<pm::TransferData::Output> TransferData(uint32_t id, const std::vector<uint8_t>& data,
                                                            uint32_t counter) override {
        return m_owner.Answer<pm::TransferData::Output>(
            UcmMethod::kTransferData,
            std::to_string(id) + ", " + std::to_string(data.size()) + " bytes, " + std::to_string(counter),
            [this, id, &data, counter](const UcmFault& fault) {
                return pm::TransferData::Output{
                    fault.kind == UcmFault::Kind::kAnswer ? fault.value : m_owner.DoTransferData(id, data, counter)};
            });
    }
    jux::com::Future<pm::TransferExit::Output> TransferExit(uint32_t id) override {
        return m_owner.Answer<pm::TransferExit::Output>(
            UcmMethod::kTransferExit, std::to_string(id), [this, id](const UcmFault& fault) {
                return pm::TransferExit::Output{fault.kind == UcmFault::Kind::kAnswer ? fault.value
                                                                                      : m_owner.DoTransferExit(id)};
            });
    }
    jux::com::Future<void> InstallUpdate(uint32_t id) override;
    jux::com::Future<void> CommitUpdate(uint32_t id) override {
        return m_owner.Answer<void>(UcmMethod::kCommitUpdate, std::to_string(id),
                                    [this, id](const UcmFault&) { m_owner.DoCommit(id); });
    }
    jux::com::Future<void> CancelUpdate(uint32_t id) override {
        return m_owner.Answer<void>(UcmMethod::kCancelUpdate, std::to_string(id),
                                    [this, id](const UcmFault&) { m_owner.DoCancel(id); });
    }
    jux::com::Future<void> Close(uint32_t id) override {
        return m_owner.Answer<void>(UcmMethod::kClose, std::to_string(id),
                                    [this, id](const UcmFault&) { m_owner.DoClose(id); });
    }
    jux::com::Future<pm::GetProgress::Output> GetProgress(uint32_t id) override {
        return m_owner.Answer<pm::GetProgress::Output>(
            UcmMethod::kGetProgress, std::to_string(id), [this, id](const UcmFault& fault) {
                if (fault.kind == UcmFault::Kind::kAnswer) {
                    return pm::GetProgress::Output{fault.value};
                }
                std::lock_guard<std::mutex> lock(m_owner.m_mutex);
                return pm::GetProgress::Output{m_owner.Find(id, UcmMethod::kGetProgress, 8).info.progress};
            });
    }
    jux::com::Future<pm::GetLog::Output> GetLog(uint32_t id) override {
        return m_owner.Answer<pm::GetLog::Output>(UcmMethod::kGetLog, std::to_string(id), [this, id](const UcmFault&) {
            std::lock_guard<std::mutex> lock(m_owner.m_mutex);
            return pm::GetLog::Output{m_owner.Find(id, UcmMethod::kGetLog, 9).log};
        });
    }
    jux::com::Future<pm::GetInstallationResult::Output> GetInstallationResult(uint32_t id) override {
        return m_owner.Answer<pm::GetInstallationResult::Output>(
            UcmMethod::kGetInstallationResult, std::to_string(id), [this, id](const UcmFault& fault) {
                if (fault.kind == UcmFault::Kind::kAnswer) {
                    return pm::GetInstallationResult::Output{fault.value};
                }
                std::lock_guard<std::mutex> lock(m_owner.m_mutex);
                return pm::GetInstallationResult::Output{
                    m_owner.Find(id, UcmMethod::kGetInstallationResult, 10).installResult};
            });
    }

private:
    UpdateManager& m_owner;
};

class UpdateManager::InstallStatusService : public ara::ucm::skeleton::InstallStatusProviderSkeleton {
public:
    InstallStatusService(UpdateManager& owner, const std::string& instance)
        : InstallStatusProviderSkeleton(instance, ara::com::MethodCallProcessingMode::kEvent), m_owner(owner) {}
    ~InstallStatusService() override {
        StopOfferService();
        StopMethodDispatcher();
    }

    jux::com::Future<isp::GetInstallationStatus::Output> GetInstallationStatus(uint32_t id) override {
        return m_owner.Answer<isp::GetInstallationStatus::Output>(
            UcmMethod::kGetInstallationStatus, std::to_string(id), [this, id](const UcmFault& fault) {
                std::lock_guard<std::mutex> lock(m_owner.m_mutex);
                const SessionRecord& session = m_owner.Find(id, UcmMethod::kGetInstallationStatus, 0);
                isp::GetInstallationStatus::Output out;
                out.Status = fault.kind == UcmFault::Kind::kAnswer ? fault.value : session.installStatus;
                if (out.Status == kInstallStatusSuccess) {
                    for (const auto& entry : m_owner.m_integrity) {
                        if (entry.first.second == m_owner.m_options.inactivePartitionIsB) {
                            out.IntegrityData.push_back({entry.first.first, entry.second.second});
                        }
                    }
                } else {
                    out.Error.Cluster = "simulated";
                    out.Error.ExpectedHash = "00";
                    out.Error.CalculatedHash = "11";
                }
                return out;
            });
    }

private:
    UpdateManager& m_owner;
};

class UpdateManager::ClusterIntegrityService : public ara::ucm::skeleton::ClusterIntegrityProviderSkeleton {
public:
    ClusterIntegrityService(UpdateManager& owner, const std::string& instance)
        : ClusterIntegrityProviderSkeleton(instance, ara::com::MethodCallProcessingMode::kEvent), m_owner(owner) {}
    ~ClusterIntegrityService() override {
        StopOfferService();
        StopMethodDispatcher();
    }

    jux::com::Future<cip::GetSwClusterIntegrity::Output> GetSwClusterIntegrity(const std::string& cluster,
                                                                               bool readPartitionB) override {
        return m_owner.Answer<cip::GetSwClusterIntegrity::Output>(
            UcmMethod::kGetSwClusterIntegrity, cluster + ", " + (readPartitionB ? "B" : "A"),
            [this, cluster, readPartitionB](const UcmFault& fault) {
                std::lock_guard<std::mutex> lock(m_owner.m_mutex);
                cip::GetSwClusterIntegrity::Output out;
                out.Cluster = cluster;
                const auto found = m_owner.m_integrity.find({cluster, readPartitionB});
                if (found == m_owner.m_integrity.end()) {
                    throw std::runtime_error("unknown cluster " + cluster);
                }
                out.Status = fault.kind == UcmFault::Kind::kAnswer ? fault.value : found->second.first;
                out.IntegrityData = found->second.second;
                return out;
            });
    }
    jux::com::Future<cip::Cancel::Output> Cancel(const std::string& cluster) override {
        return m_owner.Answer<cip::Cancel::Output>(UcmMethod::kCancel, cluster, [](const UcmFault& fault) {
            // 2: the request was cancelled.
            return cip::Cancel::Output{fault.kind == UcmFault::Kind::kAnswer ? fault.value : uint8_t{2}};
        });
    }

private:
    UpdateManager& m_owner;
};

jux::com::Future<void> UpdateManager::PackageManagementService::InstallUpdate(uint32_t id) {
    // Answered when the installation ends, as a real update manager does.
    const UcmFault fault = m_owner.TakeFault(UcmMethod::kInstallUpdate);
    jux::com::Promise<void> refused;
    auto refusal = refused.get_future();
    try {
        if (fault.kind == UcmFault::Kind::kError) {
            throw ServiceFailed(UCMServiceFailed::kInstallUpdateIndex, fault.value);
        }
        if (fault.kind == UcmFault::Kind::kNotAvailable) {
            throw zov::com::Service_not_available_exception();
        }
        std::unique_lock<std::mutex> lock(m_owner.m_mutex);
        SessionRecord& session = m_owner.Find(id, UcmMethod::kInstallUpdate, UCMServiceFailed::kInstallUpdateIndex);
        if (session.info.state != "open" || session.info.transferOpen) {
            throw ServiceFailed(UCMServiceFailed::kInstallUpdateIndex, kGeneralReject);
        }
        session.info.state = "installing";
        session.info.progress = 0;
        session.installDone = false;
        m_owner.SaveLocked();
        auto promise = std::make_shared<jux::com::Promise<void>>();
        auto future = promise->get_future();
        if (fault.kind == UcmFault::Kind::kDrop) {
            lock.unlock();
            m_owner.Record(UcmMethod::kInstallUpdate, std::to_string(id), "dropped");
            // The installation still runs; only its answer waits for ReleaseDropped.
            auto silent = std::make_shared<jux::com::Promise<void>>();
            auto held = promise;
            lock.lock();
            m_owner.m_dropped.push_back([held] { held->set_value(); });
            m_owner.m_installers.emplace_back([this, id, silent] { m_owner.RunInstallation(id, silent); });
            return future;
        }
        m_owner.m_installers.emplace_back([this, id, promise] { m_owner.RunInstallation(id, promise); });
        lock.unlock();
        m_owner.Record(UcmMethod::kInstallUpdate, std::to_string(id), "running");
        return future;
    } catch (...) {
        const auto error = std::current_exception();
        m_owner.Record(UcmMethod::kInstallUpdate, std::to_string(id), Describe(error));
        refused.set_exception(error);
    }
    return refusal;
}

// ---- the manager ---------------------------------------------------------------

UpdateManager::UpdateManager() : UpdateManager(Options()) {}

UpdateManager::UpdateManager(Options options) : m_options(std::move(options)) {
    m_nextId = m_options.firstSessionId;
    Load();
    m_packageManagement = std::make_unique<PackageManagementService>(*this, m_options.instance);
    m_installStatus = std::make_unique<InstallStatusService>(*this, m_options.instance);
    m_clusterIntegrity = std::make_unique<ClusterIntegrityService>(*this, m_options.instance);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        UpdateStatusLocked();
        m_packageManagement->CurrentStatus.Update(m_currentStatus);
    }
    if (m_options.offer) {
        Offer();
    }
}

UpdateManager::~UpdateManager() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_cv.notify_all();
    Withdraw();
    std::vector<std::thread> installers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        installers.swap(m_installers);
    }
    for (auto& installer : installers) {
        installer.join();
    }
    // Stops the dispatchers (waiting for running calls) before the state they use goes.
    m_clusterIntegrity.reset();
    m_installStatus.reset();
    m_packageManagement.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dropped.clear();  // their callers get a broken promise
}

void UpdateManager::Offer() {
    m_packageManagement->OfferService();
    m_installStatus->OfferService();
    m_clusterIntegrity->OfferService();
}

void UpdateManager::Withdraw() {
    m_packageManagement->StopOfferService();
    m_installStatus->StopOfferService();
    m_clusterIntegrity->StopOfferService();
}

bool UpdateManager::IsOffered() const { return m_packageManagement->IsOffered(); }

void UpdateManager::Reconnect() {
    auto packageManagement = std::make_unique<PackageManagementService>(*this, m_options.instance);
    auto installStatus = std::make_unique<InstallStatusService>(*this, m_options.instance);
    auto clusterIntegrity = std::make_unique<ClusterIntegrityService>(*this, m_options.instance);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        packageManagement->CurrentStatus.Update(m_currentStatus);
        std::swap(m_packageManagement, packageManagement);
        std::swap(m_installStatus, installStatus);
        std::swap(m_clusterIntegrity, clusterIntegrity);
    }
    // The retired skeletons go outside the lock: their teardown waits for nothing that takes it.
    clusterIntegrity.reset();
    installStatus.reset();
    packageManagement.reset();
    Offer();
}

void UpdateManager::SetFault(UcmMethod method, UcmFault fault, int times) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults[method] = FaultSlot{fault, times};
}

void UpdateManager::ClearFaults() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

UcmFault UpdateManager::TakeFault(UcmMethod method) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_faults.find(method);
    if (found == m_faults.end() || found->second.remaining == 0) {
        return UcmFault();
    }
    const UcmFault fault = found->second.fault;
    if (found->second.remaining > 0 && --found->second.remaining == 0) {
        m_faults.erase(found);
    }
    return fault;
}

size_t UpdateManager::ReleaseDropped() {
    std::vector<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped.swap(m_dropped);
    }
    for (auto& answer : dropped) {
        answer();
    }
    return dropped.size();
}

void UpdateManager::HoldInstallations(bool hold) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdInstallations = hold;
    }
    m_cv.notify_all();
}

void UpdateManager::SetInstallationStatus(uint8_t status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_installationStatus = status;
}

void UpdateManager::SetInstallLogistics(std::string directory, std::vector<NamedLogisticsFile> files) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logisticsDirectory = std::move(directory);
    m_logisticsFiles = std::move(files);
}

std::vector<NamedLogisticsFile> UpdateManager::MergeLogistics(const std::vector<NamedLogisticsFile>& active,
                                                              const std::vector<NamedLogisticsFile>& installed) {
    std::vector<NamedLogisticsFile> merged = active;
    for (const auto& file : installed) {
        bool replaced = false;
        for (auto& existing : merged) {
            if (existing.first == file.first) {
                existing.second = file.second;
                replaced = true;
            }
        }
        if (!replaced) {
            merged.push_back(file);
        }
    }
    return merged;
}

void UpdateManager::SetClusterIntegrity(const std::string& cluster, bool readPartitionB, uint8_t status,
                                        IntegrityValue value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_integrity[{cluster, readPartitionB}] = {status, value};
}

std::vector<UcmCall> UpdateManager::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

size_t UpdateManager::CountCalls(UcmMethod method) const {
    const std::string name = UcmMethodName(method);
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t count = 0;
    for (const auto& call : m_calls) {
        count += call.method == name ? 1 : 0;
    }
    return count;
}

void UpdateManager::ClearCalls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

std::vector<UpdateManager::Bytes> UpdateManager::ReceivedBlocks(uint32_t sessionId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_sessions.find(sessionId);
    return found == m_sessions.end() ? std::vector<Bytes>() : found->second.blocks;
}

std::optional<UpdateManager::SessionInfo> UpdateManager::Session(uint32_t sessionId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_sessions.find(sessionId);
    if (found == m_sessions.end()) {
        return std::nullopt;
    }
    return found->second.info;
}

uint8_t UpdateManager::CurrentStatus() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_currentStatus;
}

uint32_t UpdateManager::MaxOutstandingBlocking() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_maxOutstanding;
}

uint32_t UpdateManager::OutstandingBlocking() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outstanding;
}

bool UpdateManager::WaitForInstallation(uint32_t sessionId, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] {
        const auto found = m_sessions.find(sessionId);
        return found != m_sessions.end() && found->second.installDone;
    });
}

template <typename T>
jux::com::Future<T> UpdateManager::Answer(UcmMethod method, std::string arguments,
                                          std::function<T(const UcmFault&)> compute) {
    const MethodInfo& info = Info(method);
    const UcmFault fault = TakeFault(method);
    if (info.blocking) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_maxOutstanding = std::max(m_maxOutstanding, ++m_outstanding);
    }
    if (fault.kind == UcmFault::Kind::kDelay && !Waiting(fault.delay)) {
        arguments += " [stopped]";
    }
    auto promise = std::make_shared<jux::com::Promise<T>>();
    auto future = promise->get_future();
    std::string answer;
    std::function<void()> fulfil;
    try {
        if (fault.kind == UcmFault::Kind::kError) {
            if (info.packageManagement) {
                throw ServiceFailed(info.errorField, fault.value);
            }
            throw std::runtime_error("UCM error " + std::to_string(fault.value));
        }
        if (fault.kind == UcmFault::Kind::kNotAvailable) {
            throw zov::com::Service_not_available_exception();
        }
        if constexpr (std::is_void<T>::value) {
            compute(fault);
            answer = "ok";
            fulfil = [promise] { promise->set_value(); };
        } else {
            T value = compute(fault);
            answer = DescribeValue(value);
            fulfil = [promise, value] { promise->set_value(value); };
        }
    } catch (...) {
        const auto error = std::current_exception();
        answer = Describe(error);
        fulfil = [promise, error] { promise->set_exception(error); };
    }
    if (fault.kind == UcmFault::Kind::kDrop) {
        Record(method, arguments, answer + " (dropped)");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dropped.push_back([this, fulfil, method] {
            LeaveBlocking(method);
            fulfil();
        });
        return future;
    }
    Record(method, arguments, answer);
    LeaveBlocking(method);
    fulfil();
    return future;
}

void UpdateManager::LeaveBlocking(UcmMethod method) {
    if (Info(method).blocking) {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_outstanding;
    }
}

bool UpdateManager::Waiting(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_cv.wait_for(lock, delay, [this] { return m_stopping; });
}

void UpdateManager::Record(UcmMethod method, const std::string& arguments, const std::string& answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(UcmCall{UcmMethodName(method), arguments, answer});
}

UpdateManager::SessionRecord& UpdateManager::Find(uint32_t id, UcmMethod method, size_t errorField) {
    const auto found = m_sessions.find(id);
    if (found == m_sessions.end() || found->second.info.state == "closed") {
        if (Info(method).packageManagement) {
            throw ServiceFailed(errorField, kSessionIdInvalid);
        }
        throw std::runtime_error("invalid session id " + std::to_string(id));
    }
    return found->second;
}

void UpdateManager::UpdateStatusLocked() {
    uint8_t status = kReady;
    for (const auto& session : m_sessions) {
        if (session.second.info.state != "closed") {
            status = kBusy;
        }
    }
    if (status != m_currentStatus || !m_packageManagement) {
        m_currentStatus = status;
        if (m_packageManagement) {
            m_packageManagement->CurrentStatus.Update(status);
        }
    }
}

pm::Start::Output UpdateManager::DoStart() {
    std::lock_guard<std::mutex> lock(m_mutex);
    SessionRecord session;
    session.info.id = m_nextId++;
    session.info.state = "open";
    session.log.push_back({0, "Start"});
    const uint32_t id = session.info.id;
    m_sessions[id] = std::move(session);
    UpdateStatusLocked();
    SaveLocked();
    return pm::Start::Output{id};
}

uint8_t UpdateManager::DoTransferStart(uint32_t id, uint32_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SessionRecord& session = Find(id, UcmMethod::kTransferStart, 4);
    if (session.info.state != "open") {
        throw ServiceFailed(4, kGeneralReject);
    }
    session.info.announced = size;
    session.info.received = 0;
    session.info.lastCounter = 0;
    session.info.transferOpen = true;
    session.blocks.emplace_back();
    if (m_options.keepReceivedData) {
        session.blocks.back().reserve(size);
    }
    session.log.push_back({0, "TransferStart " + std::to_string(size)});
    SaveLocked();
    return 0;
}

uint8_t UpdateManager::DoTransferData(uint32_t id, const Bytes& data, uint32_t counter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SessionRecord& session = Find(id, UcmMethod::kTransferData, 5);
    if (!session.info.transferOpen || counter != session.info.lastCounter + 1) {
        return 1;  // incorrect block
    }
    if (data.size() > session.info.announced - session.info.received) {
        return 2;  // incorrect size
    }
    if (m_options.keepReceivedData) {
        session.blocks.back().insert(session.blocks.back().end(), data.begin(), data.end());
    }
    session.info.received += static_cast<uint32_t>(data.size());
    session.info.lastCounter = counter;
    return 0;
}

uint8_t UpdateManager::DoTransferExit(uint32_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SessionRecord& session = Find(id, UcmMethod::kTransferExit, 6);
    if (!session.info.transferOpen || session.info.received < session.info.announced) {
        return 1;  // insufficient data
    }
    session.info.transferOpen = false;
    session.log.push_back({0, "TransferExit"});
    SaveLocked();
    return 0;
}

void UpdateManager::DoCommit(uint32_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SessionRecord& session = Find(id, UcmMethod::kCommitUpdate, UCMServiceFailed::kCommitUpdateIndex);
    if (session.info.state != "installed") {
        throw ServiceFailed(UCMServiceFailed::kCommitUpdateIndex, kServiceNotSupported);
    }
    session.info.state = "committed";
    session.log.push_back({0, "CommitUpdate"});
    SaveLocked();
}

void UpdateManager::DoCancel(uint32_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SessionRecord& session = Find(id, UcmMethod::kCancelUpdate, 7);
    if (session.info.state == "committed" || session.info.state == "installing") {
        throw ServiceFailed(7, kGeneralReject);
    }
    session.info.state = "cancelled";
    session.info.transferOpen = false;
    session.log.push_back({0, "CancelUpdate"});
    SaveLocked();
}

void UpdateManager::DoClose(uint32_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SessionRecord& session = Find(id, UcmMethod::kClose, UCMServiceFailed::kCloseIndex);
    if (session.info.state == "installing") {
        throw ServiceFailed(UCMServiceFailed::kCloseIndex, kGeneralReject);
    }
    session.info.state = "closed";
    session.info.transferOpen = false;
    UpdateStatusLocked();
    SaveLocked();
}

void UpdateManager::RunInstallation(uint32_t id, std::shared_ptr<jux::com::Promise<void>> promise) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (uint8_t progress = 10; progress <= 100 && !m_stopping; progress += 10) {
        m_cv.wait_for(lock, m_options.installStepTime, [this] { return m_stopping; });
        m_sessions[id].info.progress = progress;
    }
    m_cv.wait(lock, [this] { return m_stopping || !m_holdInstallations; });
    SessionRecord& session = m_sessions[id];
    const bool success = !m_stopping && m_installationStatus == kInstallStatusSuccess;
    session.installStatus = m_stopping ? 6 : m_installationStatus;
    session.installResult = success ? 0 : 1;
    session.info.state = success ? "installed" : "install-failed";
    session.installDone = true;
    session.log.push_back({session.installResult, success ? "InstallUpdate succeeded" : "InstallUpdate failed"});
    if (success && !m_logisticsDirectory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_logisticsDirectory, ignored);
        std::filesystem::create_directories(m_logisticsDirectory, ignored);
        for (const auto& file : m_logisticsFiles) {
            std::ofstream(m_logisticsDirectory + "/" + file.first) << file.second.Text();
        }
    }
    SaveLocked();
    lock.unlock();
    m_cv.notify_all();
    if (success) {
        promise->set_value();
    } else {
        promise->set_exception(
            std::make_exception_ptr(ServiceFailed(UCMServiceFailed::kInstallUpdateIndex, kGeneralReject)));
    }
}

void UpdateManager::SaveLocked() const {
    if (m_options.sessionTablePath.empty()) {
        return;
    }
    nlohmann::json table;
    table["nextId"] = m_nextId;
    table["sessions"] = nlohmann::json::array();
    for (const auto& entry : m_sessions) {
        const SessionInfo& info = entry.second.info;
        table["sessions"].push_back({{"id", info.id},
                                     {"state", info.state},
                                     {"announced", info.announced},
                                     {"received", info.received},
                                     {"lastCounter", info.lastCounter},
                                     {"transferOpen", info.transferOpen},
                                     {"progress", info.progress},
                                     {"installResult", entry.second.installResult},
                                     {"installStatus", entry.second.installStatus}});
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(m_options.sessionTablePath).parent_path(), ignored);
    const std::string temporary = m_options.sessionTablePath + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << table.dump(2) << "\n";
    }
    std::filesystem::rename(temporary, m_options.sessionTablePath, ignored);
}

void UpdateManager::Load() {
    if (m_options.sessionTablePath.empty()) {
        return;
    }
    std::ifstream in(m_options.sessionTablePath);
    if (!in) {
        return;
    }
    const nlohmann::json table = nlohmann::json::parse(in, nullptr, false);
    if (table.is_discarded() || !table.is_object()) {
        return;
    }
    m_nextId = std::max(m_nextId, table.value("nextId", m_nextId));
    for (const auto& entry : table.value("sessions", nlohmann::json::array())) {
        SessionRecord session;
        session.info.id = entry.value("id", 0u);
        session.info.state = entry.value("state", std::string("closed"));
        session.info.announced = entry.value("announced", 0u);
        session.info.received = entry.value("received", 0u);
        session.info.lastCounter = entry.value("lastCounter", 0u);
        session.info.transferOpen = entry.value("transferOpen", false);
        session.info.progress = entry.value("progress", uint8_t{0});
        session.installResult = entry.value("installResult", uint8_t{0xFF});
        session.installStatus = entry.value("installStatus", uint8_t{0xFF});
        // An installation interrupted by the restart did not finish.
        if (session.info.state == "installing") {
            session.info.state = "install-failed";
            session.installStatus = 6;
        }
        session.installDone = session.info.state != "open";
        m_sessions[session.info.id] = std::move(session);
    }
}

}  // namespace sim
