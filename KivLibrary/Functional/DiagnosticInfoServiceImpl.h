// The DiagnosticInfo service: this VM's identification (diagnostic address,
// installed software version, hardware version, spare part number) published
// once, at launch, in the field "identificationData". Launch and Shutdown run
// on the runtime thread; the binding serves the field's value from its own
// threads, so the object takes no lock.
#ifndef KIVLIBRARY_FUNCTIONAL_DIAGNOSTICINFOSERVICEIMPL_H
#define KIVLIBRARY_FUNCTIONAL_DIAGNOSTICINFOSERVICEIMPL_H

#include "communication/BasicEndpoint.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_skeleton.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class KivConfiguration;
class SessionData;

// The identification record; every byte but the address starts as '-'.
struct DiagnosticInfoData {
    uint16_t DiagAddr = 0;
    std::array<uint8_t, 4> SwVersion{{'-', '-', '-', '-'}};
    std::array<uint8_t, 3> HwVersion{{'-', '-', '-'}};
    std::array<uint8_t, 11> PartNumber{{'-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-'}};
};

class DiagnosticInfoServiceInterface : public BasicEndpoint {
public:
    using BasicEndpoint::BasicEndpoint;
    virtual void PublishIdentificationData(
        const std::vector<zenqo::services::diagnosticinfo::datatypes::DT_identificationData_struct>& data) = 0;
};

class DiagnosticInfoServiceImpl : public DiagnosticInfoServiceInterface {
public:
    static constexpr uint16_t kHousekeepingDiagAddr = 0xC003;
    static constexpr uint16_t kJavaDiagAddr = 0x8124;

    DiagnosticInfoServiceImpl(const std::string& instance, const DiagnosticInfoData& data);
    ~DiagnosticInfoServiceImpl() override;

    std::string GetServiceName() const override;
    std::string GetVersion() const override { return "1"; }

    void PublishIdentificationData(
        const std::vector<zenqo::services::diagnosticinfo::datatypes::DT_identificationData_struct>& data) override;

protected:
    void Create() override;
    void Delete() override;
    void Initialize() override;
    void Uninitialize() override {}
    void Start() override;
    void Stop() override;

private:
    std::shared_ptr<zenqo::services::diagnosticinfo::skeleton::DiagnosticInfoSkeleton> m_skeleton;
    const DiagnosticInfoData m_data;
};

// "DiagnosticInfoData: " and the four fields, for log lines.
std::string FormatDiagnosticInfoData(const DiagnosticInfoData& data);
// The record of a VM that publishes one (housekeeping, Java), else null.
std::unique_ptr<DiagnosticInfoData> InitDiagnosticInfoData(uint8_t vmKind);
// The record of this VM filled from the ACTIVE logistics and the peer's
// hardware id; null on a VM that publishes none.
std::unique_ptr<DiagnosticInfoData> RetrieveDiagnosticInfoData(const std::shared_ptr<SessionData>& sessionData);
// The service of this VM, not yet launched; null without a session or on a
// VM that publishes none.
std::shared_ptr<DiagnosticInfoServiceImpl> InitDiagnosticInfoService(const std::shared_ptr<SessionData>& sessionData);

#endif
