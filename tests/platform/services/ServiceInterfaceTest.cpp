// Representative service interfaces offered through their skeletons and used
// through their proxies: arguments, outputs, application errors as their own
// types, fields and events.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/Runtime.h"
#include "platform/services/ara/ucm/PackageManagement_proxy.h"
#include "platform/services/ara/ucm/PackageManagement_skeleton.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_common.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_proxy.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_skeleton.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_proxy.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_skeleton.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_proxy.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_skeleton.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_proxy.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_skeleton.h"

namespace {

using jux::com::Future;
using zov::dm::types::MetaInfoType;

constexpr auto kTimeout = std::chrono::seconds(10);

template <typename Proxy>
std::unique_ptr<Proxy> Connect(const std::string& instance) {
    auto handles = Proxy::FindService(instance);
    return handles.empty() ? nullptr : std::make_unique<Proxy>(handles.front());
}

// Values delivered on a binding thread, waited for by the test.
template <typename T>
class Received {
public:
    void Add(const T& value) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_values.push_back(value);
        }
        m_cv.notify_all();
    }
    bool WaitForLast(const T& value) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kTimeout, [&] { return !m_values.empty() && m_values.back() == value; });
    }
    std::vector<T> Values() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<T> m_values;
};

class ServiceInterfaceTest : public ::testing::Test {
protected:
    void TearDown() override { zov::com::testing::ResetRegistry(); }
};

// --- GenericUDSService -------------------------------------------------------

namespace uds = zov::dm::genericuds;

// Echoes the request; SID 0x10 is refused the way a negative response is.
class EchoUdsService : public uds::skeleton::GenericUDSServiceSkeleton {
public:
    using GenericUDSServiceSkeleton::GenericUDSServiceSkeleton;
    ~EchoUdsService() override {
        StopOfferService();
        StopMethodDispatcher();
    }

    Future<uds::GenericUDSService::HandleMessage::Output> HandleMessage(uint8_t sid,
                                                                        const std::vector<uint8_t>& requestData,
                                                                        const MetaInfoType& metaInfo) override {
        jux::com::Promise<uds::GenericUDSService::HandleMessage::Output> promise;
        if (sid == 0x10) {
            promise.set_exception(std::make_exception_ptr(uds::GenericUDSService::UDSServiceFailed(0x11)));
        } else {
            uds::GenericUDSService::HandleMessage::Output output;
            output.responseData = requestData;
            output.responseData.push_back(sid);
            output.responseData.push_back(static_cast<uint8_t>(metaInfo.count("ProtocolId")));
            promise.set_value(output);
        }
        return promise.get_future();
    }

    Future<void> Cancel(const MetaInfoType&) override { return jux::com::MakeReadyFuture(); }
};

TEST_F(ServiceInterfaceTest, GenericUdsAnswersOutputOrItsApplicationError) {
    EchoUdsService service("uds");
    service.OfferService();
    auto proxy = Connect<uds::proxy::GenericUDSServiceProxy>("uds");
    ASSERT_NE(proxy, nullptr);

    const MetaInfoType meta{{"ProtocolId", "7"}};
    auto output = proxy->HandleMessage(0x22, {0xF1, 0x87}, meta).get();
    EXPECT_EQ(output.responseData, (std::vector<uint8_t>{0xF1, 0x87, 0x22, 0x01}));

    try {
        proxy->HandleMessage(0x10, {}, meta).get();
        FAIL() << "negative response arrived as a value";
    } catch (const uds::GenericUDSService::UDSServiceFailed& error) {
        EXPECT_EQ(error.GetCode(), 0x11);
        EXPECT_STREQ(error.what(), "GenericUDSService::UDSServiceFailed::2");
    }
    EXPECT_NO_THROW(proxy->Cancel(meta).get());
}

// --- Routine 0xC010: three-byte application error ----------------------------

namespace c010 = zenqo::services::diag::r_c010;
namespace r029a = zenqo::services::diag::r_029a;

class StartUpdateRoutine : public c010::skeleton::RoutineService_StartUpdateSkeleton {
public:
    using RoutineService_StartUpdateSkeleton::RoutineService_StartUpdateSkeleton;
    ~StartUpdateRoutine() override {
        StopOfferService();
        StopMethodDispatcher();
    }

    // Refuses an empty memory address.
    Future<c010::RoutineService_StartUpdate::Start::Output> Start(const MetaInfoType&, uint8_t logLevel,
                                                                  uint8_t addressFormat,
                                                                  const std::vector<uint8_t>& memoryAddress) override {
        if (memoryAddress.empty()) {
            return jux::com::MakeExceptionalFuture<c010::RoutineService_StartUpdate::Start::Output>(
                std::make_exception_ptr(c010::RoutineService_StartUpdate::UDSServiceFailed(0, 0x22, 0)));
        }
        m_memoryAddressFirst = memoryAddress.front();
        m_addressLength = static_cast<uint8_t>(addressFormat & 0x0F);
        c010::RoutineService_StartUpdate::Start::Output output;
        output.routineInfo = logLevel;
        return jux::com::MakeReadyFuture(output);
    }
    Future<void> Stop(const MetaInfoType&) override {
        return jux::com::MakeExceptionalFuture<void>(
            std::make_exception_ptr(c010::RoutineService_StartUpdate::UDSServiceFailed(0, 0, 0x22)));
    }
    Future<void> Cancel(const MetaInfoType&) override { return jux::com::MakeReadyFuture(); }
    Future<c010::RoutineService_StartUpdate::RequestResults::Output> RequestResults(const MetaInfoType&) override {
        c010::RoutineService_StartUpdate::RequestResults::Output output;
        output.Resp_Status = 0x14;
        output.Progress = 100;
        output.Address_Length = m_addressLength;
        output.Memory_Address_First = m_memoryAddressFirst;
        output.Add_Info = {'E', 'r', 'r'};
        return jux::com::MakeReadyFuture(output);
    }

private:
    // Written and read by calls the test makes one after the other.
    uint8_t m_memoryAddressFirst = 0;
    uint8_t m_addressLength = 0;
};

TEST_F(ServiceInterfaceTest, RoutineErrorCarriesOneCodePerMethodAsItsOwnType) {
    StartUpdateRoutine routine("c010");
    routine.OfferService();
    auto proxy = Connect<c010::proxy::RoutineService_StartUpdateProxy>("c010");
    ASSERT_NE(proxy, nullptr);
    const MetaInfoType meta;

    auto refused = proxy->Start(meta, 1, 0x44, {});
    try {
        refused.get();
        FAIL() << "refusal arrived as a value";
    } catch (const r029a::RoutineService_CalculateModuleHashValue::UDSServiceFailed&) {
        FAIL() << "caught as another routine's error";
    } catch (const c010::RoutineService_StartUpdate::UDSServiceFailed& error) {
        EXPECT_EQ(error.GetRequestResultsCode(), 0);
        EXPECT_EQ(error.GetStartCode(), 0x22);
        EXPECT_EQ(error.GetStopCode(), 0);
        EXPECT_STREQ(error.what(), "RoutineService_StartUpdate::UDSServiceFailed::2");
    }

    try {
        proxy->Stop(meta).get();
        FAIL() << "refusal arrived as a value";
    } catch (const c010::RoutineService_StartUpdate::UDSServiceFailed& error) {
        EXPECT_EQ(error.GetStopCode(), 0x22);
        EXPECT_EQ(error.GetStartCode(), 0);
    }

    EXPECT_EQ(proxy->Start(meta, 1, 0x44, {0xA0, 0x00, 0x10, 0x00}).get().routineInfo, 1);
    const auto results = proxy->RequestResults(meta).get();
    EXPECT_EQ(results.Resp_Status, 0x14);
    EXPECT_EQ(results.Progress, 100);
    EXPECT_EQ(results.Address_Length, 4);
    EXPECT_EQ(results.Memory_Address_First, 0xA0);
    EXPECT_EQ(results.Add_Info, (std::vector<uint8_t>{'E', 'r', 'r'}));
}

// --- PackageManagement: methods, UCMServiceFailed and the CurrentStatus field --

namespace ucm = ara::ucm;

class FakePackageManagement : public ucm::skeleton::PackageManagementSkeleton {
public:
    explicit FakePackageManagement(std::string instance) : PackageManagementSkeleton(std::move(instance)) {
        CurrentStatus.Update(0);
    }
    ~FakePackageManagement() override {
        StopOfferService();
        StopMethodDispatcher();
    }

    Future<ucm::PackageManagement::Start::Output> Start() override {
        return jux::com::MakeReadyFuture(ucm::PackageManagement::Start::Output{42});
    }
    Future<ucm::PackageManagement::TransferStart::Output> TransferStart(uint32_t, uint32_t) override {
        return jux::com::MakeReadyFuture(ucm::PackageManagement::TransferStart::Output{});
    }
    // Incorrect block (1) unless the counter matches the block's length.
    Future<ucm::PackageManagement::TransferData::Output> TransferData(uint32_t id, const std::vector<uint8_t>& data,
                                                                      uint32_t blockCounter) override {
        ucm::PackageManagement::TransferData::Output output;
        output.result = (id == 42 && blockCounter == data.size()) ? 0 : 1;
        return jux::com::MakeReadyFuture(output);
    }
    Future<ucm::PackageManagement::TransferExit::Output> TransferExit(uint32_t) override {
        return jux::com::MakeReadyFuture(ucm::PackageManagement::TransferExit::Output{});
    }
    Future<void> InstallUpdate(uint32_t) override { return jux::com::MakeReadyFuture(); }
    Future<void> CommitUpdate(uint32_t) override { return jux::com::MakeReadyFuture(); }
    Future<void> CancelUpdate(uint32_t) override { return jux::com::MakeReadyFuture(); }
    // Every session but 42 is unknown: SessionIdInvalid (3) at Close's position.
    Future<void> Close(uint32_t id) override {
        if (id != 42) {
            ucm::PackageManagement::UCMServiceFailed::Fields fields{};
            fields[ucm::PackageManagement::UCMServiceFailed::kCloseIndex] = 3;
            return jux::com::MakeExceptionalFuture<void>(
                std::make_exception_ptr(ucm::PackageManagement::UCMServiceFailed(fields)));
        }
        return jux::com::MakeReadyFuture();
    }
    Future<ucm::PackageManagement::GetProgress::Output> GetProgress(uint32_t) override {
        return jux::com::MakeReadyFuture(ucm::PackageManagement::GetProgress::Output{55});
    }
    Future<ucm::PackageManagement::GetLog::Output> GetLog(uint32_t) override {
        ucm::PackageManagement::GetLog::Output output;
        output.log = {{1, "transfer"}, {2, "install"}};
        return jux::com::MakeReadyFuture(output);
    }
    Future<ucm::PackageManagement::GetInstallationResult::Output> GetInstallationResult(uint32_t) override {
        return jux::com::MakeReadyFuture(ucm::PackageManagement::GetInstallationResult::Output{});
    }
};

TEST_F(ServiceInterfaceTest, PackageManagementMethodsAndCloseError) {
    FakePackageManagement ucmService("ucm");
    ucmService.OfferService();
    auto proxy = Connect<ucm::proxy::PackageManagementProxy>("ucm");
    ASSERT_NE(proxy, nullptr);

    const uint32_t id = proxy->Start().get().id;
    EXPECT_EQ(id, 42u);
    EXPECT_EQ(proxy->TransferData(id, {1, 2, 3}, 3).get().result, 0);
    EXPECT_EQ(proxy->TransferData(id, {1, 2, 3}, 4).get().result, 1);
    EXPECT_EQ(proxy->GetProgress(id).get().progress, 55);
    const auto log = proxy->GetLog(id).get().log;
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].value, 2);
    EXPECT_EQ(log[1].text, "install");

    EXPECT_NO_THROW(proxy->Close(id).get());
    try {
        proxy->Close(7).get();
        FAIL() << "unknown session closed";
    } catch (const ucm::PackageManagement::UCMServiceFailed& error) {
        EXPECT_EQ(error.GetField(ucm::PackageManagement::UCMServiceFailed::kCloseIndex), 3);
        EXPECT_EQ(error.GetField(ucm::PackageManagement::UCMServiceFailed::kCommitUpdateIndex), 0);
        EXPECT_EQ(error.GetField(ucm::PackageManagement::UCMServiceFailed::kFieldCount), 0);
    }
}

TEST_F(ServiceInterfaceTest, CurrentStatusFieldIsReadAndNotified) {
    FakePackageManagement ucmService("ucm");
    ucmService.OfferService();
    auto proxy = Connect<ucm::proxy::PackageManagementProxy>("ucm");
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->CurrentStatus.Get().get(), 0);

    Received<ucm::events::CurrentStatusEventDataType> statuses;
    proxy->CurrentStatus.SetReceiveHandler([&] {
        proxy->CurrentStatus.GetNewSamples(
            [&](ara::com::SamplePtr<const ucm::events::CurrentStatusEventDataType> sample) { statuses.Add(*sample); });
    });
    proxy->CurrentStatus.Subscribe(1);
    ASSERT_TRUE(statuses.WaitForLast(0));

    ucmService.CurrentStatus.Update(1);
    ASSERT_TRUE(statuses.WaitForLast(1));
    ucmService.CurrentStatus.Update(0x7A);  // a value without a name passes unchanged
    ASSERT_TRUE(statuses.WaitForLast(0x7A));
    EXPECT_EQ(proxy->CurrentStatus.Get().get(), 0x7A);
    proxy->CurrentStatus.Unsubscribe();
    proxy->CurrentStatus.UnsetReceiveHandler();
}

// --- DiagnosticMonitor: method and event ---------------------------------------

namespace dem = zov::dm::dem;

class RecordingMonitor : public dem::skeleton::DiagnosticMonitorSkeleton {
public:
    using DiagnosticMonitorSkeleton::DiagnosticMonitorSkeleton;
    ~RecordingMonitor() override {
        StopOfferService();
        StopMethodDispatcher();
    }
    Future<void> InitMonitor(dem::InitMonitorReasonType reason) override {
        reasons.Add(reason);
        return jux::com::MakeReadyFuture();
    }
    Received<dem::InitMonitorReasonType> reasons;
};

TEST_F(ServiceInterfaceTest, DiagnosticMonitorDeliversActionsAndInitReasons) {
    RecordingMonitor monitor("1472");
    monitor.OfferService();
    auto proxy = Connect<dem::proxy::DiagnosticMonitorProxy>("1472");
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(Connect<dem::proxy::DiagnosticMonitorProxy>("1473"), nullptr);

    Received<dem::MonitorActionType> actions;
    proxy->MonitorAction.SetReceiveHandler([&] {
        proxy->MonitorAction.GetNewSamples(
            [&](ara::com::SamplePtr<const dem::MonitorActionType> sample) { actions.Add(*sample); });
    });
    proxy->MonitorAction.Subscribe(10);
    monitor.MonitorAction.Send(dem::MonitorActionType::kFailed);
    ASSERT_TRUE(actions.WaitForLast(dem::MonitorActionType::kFailed));
    monitor.MonitorAction.Send(dem::MonitorActionType::kPassed);
    ASSERT_TRUE(actions.WaitForLast(dem::MonitorActionType::kPassed));
    EXPECT_EQ(actions.Values(),
              (std::vector<dem::MonitorActionType>{dem::MonitorActionType::kFailed, dem::MonitorActionType::kPassed}));

    proxy->InitMonitor(dem::InitMonitorReasonType::kRestart).get();
    EXPECT_EQ(monitor.reasons.Values(), std::vector<dem::InitMonitorReasonType>{dem::InitMonitorReasonType::kRestart});
    proxy->MonitorAction.UnsetReceiveHandler();
}

// --- DiagnosticInfo: a field-only service --------------------------------------

TEST_F(ServiceInterfaceTest, DiagnosticInfoServesItsIdentificationRecord) {
    namespace info = zenqo::services::diagnosticinfo;
    info::datatypes::DT_identificationData_struct record;
    record.recordVersion = 1;
    record.diagAddress = 0x8124;
    record.softwareVersion = std::vector<uint8_t>{1, 2, 3, 4};
    record.hardwareVersion = std::vector<uint8_t>{0x2D, 0x2D, 0x2D};

    info::skeleton::DiagnosticInfoSkeleton service("diaginfo");
    service.identificationData.Update({record});
    service.OfferService();
    auto proxy = Connect<info::proxy::DiagnosticInfoProxy>("diaginfo");
    ASSERT_NE(proxy, nullptr);

    const auto value = proxy->identificationData.Get().get();
    ASSERT_EQ(value.size(), 1u);
    EXPECT_EQ(value[0], record);
    EXPECT_FALSE(value[0].sparePartNumber.has_value());
    proxy.reset();
    service.StopOfferService();
    service.StopMethodDispatcher();
}

}  // namespace
