#include "KivLibrary/Functional/DiagnosticInfoServiceImpl.h"

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"

#include <algorithm>
#include <stdexcept>

namespace {
namespace datatypes = zenqo::services::diagnosticinfo::datatypes;

constexpr uint8_t kVmJava = 2;
constexpr uint8_t kVmHousekeeping = 3;
constexpr uint32_t kRecordVersion = 1;
}  // namespace

DiagnosticInfoServiceImpl::DiagnosticInfoServiceImpl(const std::string& instance, const DiagnosticInfoData& data)
    : DiagnosticInfoServiceInterface(instance, "Service"), m_data(data) {}

DiagnosticInfoServiceImpl::~DiagnosticInfoServiceImpl() = default;

std::string DiagnosticInfoServiceImpl::GetServiceName() const {
    return zenqo::services::diagnosticinfo::DiagnosticInfo::kServiceName;
}

void DiagnosticInfoServiceImpl::Create() {
    m_skeleton = std::make_shared<zenqo::services::diagnosticinfo::skeleton::DiagnosticInfoSkeleton>(GetInstance());
}

void DiagnosticInfoServiceImpl::Delete() { m_skeleton.reset(); }

void DiagnosticInfoServiceImpl::Initialize() {
    datatypes::DT_identificationData_struct element;
    element.recordVersion = kRecordVersion;
    element.diagAddress = m_data.DiagAddr;
    element.softwareVersion = std::vector<uint8_t>(m_data.SwVersion.begin(), m_data.SwVersion.end());
    element.hardwareVersion = std::vector<uint8_t>(m_data.HwVersion.begin(), m_data.HwVersion.end());
    element.sparePartNumber = std::vector<uint8_t>(m_data.PartNumber.begin(), m_data.PartNumber.end());
    PublishIdentificationData({element});
}

void DiagnosticInfoServiceImpl::PublishIdentificationData(
    const std::vector<datatypes::DT_identificationData_struct>& data) {
    if (!m_skeleton) {
        throw std::logic_error("no DiagnosticInfo skeleton");
    }
    m_skeleton->identificationData.Update(data);
}

void DiagnosticInfoServiceImpl::Start() {
    if (!m_skeleton) {
        throw std::logic_error("no DiagnosticInfo skeleton");
    }
    m_skeleton->OfferService();
}

void DiagnosticInfoServiceImpl::Stop() {
    if (m_skeleton) {
        m_skeleton->StopOfferService();
        m_skeleton->StopMethodDispatcher();
    }
}

std::string FormatDiagnosticInfoData(const DiagnosticInfoData& data) {
    return "DiagnosticInfoData:  DiagAddr: " + FormatUint16DecHex(data.DiagAddr) +
           " SwVersion: " + FormatCharField4(data.SwVersion.data()) +
           " HwVersion: " + FormatCharField3(data.HwVersion.data()) +
           " PartNumber: " + FormatCharField11(data.PartNumber.data());
}

std::unique_ptr<DiagnosticInfoData> InitDiagnosticInfoData(uint8_t vmKind) {
    std::unique_ptr<DiagnosticInfoData> data;
    if (vmKind == kVmHousekeeping) {
        data = std::make_unique<DiagnosticInfoData>();
        data->DiagAddr = DiagnosticInfoServiceImpl::kHousekeepingDiagAddr;
        LogInfo() << "Init DiagnosticInfoData for Houskeeping VM " << FormatDiagnosticInfoData(*data) << VLMR_FILE_LINE;
    } else if (vmKind == kVmJava) {
        data = std::make_unique<DiagnosticInfoData>();
        data->DiagAddr = DiagnosticInfoServiceImpl::kJavaDiagAddr;
        LogInfo() << "Init DiagnosticInfoData for Java VM " << FormatDiagnosticInfoData(*data) << VLMR_FILE_LINE;
    } else {
        LogInfo() << "Init DiagnosticInfoData not needed for this VM" << VLMR_FILE_LINE;
    }
    return data;
}

std::unique_ptr<DiagnosticInfoData> RetrieveDiagnosticInfoData(const std::shared_ptr<SessionData>& sessionData) {
    const std::shared_ptr<KivConfiguration>& configuration = sessionData->GetConfiguration();
    std::unique_ptr<DiagnosticInfoData> data = InitDiagnosticInfoData(configuration ? configuration->vmId : 0);
    if (!data) {
        return data;
    }
    SharedMemoryInterface& shared = SharedMemoryInterface::Instance();
    if (!shared.UseDummyValuesForRcar() && shared.IsRcarValid()) {
        LogInfo() << "DiagnosticInfoData at VLMR startup : retrieve HW version" << VLMR_FILE_LINE;
        // The peer's file holds the id most significant byte first.
        const std::array<uint8_t, 3> hwId = shared.ReadHwVersion(SharedMemoryInterface::kRcarHardwareIdPath);
        std::reverse_copy(hwId.begin(), hwId.end(), data->HwVersion.begin());
    }
    if (const std::shared_ptr<LogicalBlockCacheData> installed = sessionData->GetInstalledLogistics()) {
        const ecuInfoCache& ecu = installed->ecuInfo;
        std::copy_n(ecu.begin() + EcuInfoLayout::kVersionOffset, data->SwVersion.size(), data->SwVersion.begin());
        std::copy_n(ecu.begin() + EcuInfoLayout::kSparePartNumberOffset, data->PartNumber.size(),
                    data->PartNumber.begin());
    }
    LogInfo() << "DiagnosticInfoData at VLMR startup " << FormatDiagnosticInfoData(*data) << VLMR_FILE_LINE;
    return data;
}

std::shared_ptr<DiagnosticInfoServiceImpl> InitDiagnosticInfoService(const std::shared_ptr<SessionData>& sessionData) {
    if (!sessionData) {
        LogError() << "No information about the VM is available, diagnostic info service can not be instantiated"
                   << VLMR_FILE_LINE;
        return nullptr;
    }
    const std::unique_ptr<DiagnosticInfoData> data = RetrieveDiagnosticInfoData(sessionData);
    if (!data) {
        LogInfo() << "No diagnostic info data is available, diagnostic info service can not be instantiated"
                  << VLMR_FILE_LINE;
        return nullptr;
    }
    const std::shared_ptr<KivConfiguration>& configuration = sessionData->GetConfiguration();
    return std::make_shared<DiagnosticInfoServiceImpl>(configuration ? configuration->diagnosticInfoInstanceId : "",
                                                       *data);
}
