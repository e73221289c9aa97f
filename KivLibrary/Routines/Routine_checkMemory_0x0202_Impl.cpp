#include "KivLibrary/Routines/Routine_checkMemory_0x0202_Impl.h"

#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Routines/RoutineNrc.h"

#include <stdexcept>

using CheckMemoryOutput = CheckMemoryInterface::Start::Output;

RoutineService_0202_Impl::RoutineService_0202_Impl(const std::string& instance, uint8_t mode,
                                                   const RoutineDependencies& dependencies)
    : PlainRoutine(instance, mode, dependencies, "checkMemory"),
      m_sessionData(dependencies.sessionData),
      m_storage(dependencies.storage),
      m_configuration(dependencies.configuration) {}

jux::com::Future<CheckMemoryOutput> RoutineService_0202_Impl::Start(const MetaInfo& metaInfo,
                                                                    const std::vector<uint8_t>& data) {
    return Guard<CheckMemoryOutput>(
        "Start",
        [&] {
            LogInfo() << "Start CheckMemory" << VLMR_FILE_LINE;
            if (!m_sessionData || !m_storage) {
                throw std::logic_error("no session data or storage");
            }
            RegisterConversation(metaInfo);
            // The exit of a download may still hand its last pieces to the
            // signature check: the check waits for it rather than verify a
            // part and keep that result. Taken after the registration, which
            // waits for the diagnostic-status thread, whose cancel of a
            // download needs this lock.
            const SessionData::TransferLock transfer = m_sessionData->WaitForTurn("checkMemory", m_conversation);
            if (transfer.Overtaken()) {
                // Verifying what a later download or the end of the session
                // left would fail, and its flag, cached signature result and
                // discarded table would stay with the next download.
                LogError() << "ConditionsNotCorrect: the download this check was sent for is gone" << VLMR_FILE_LINE;
                return Refuse<CheckMemoryOutput>(RoutineNrc::k0202ConditionsNotCorrect);
            }
            if (!transfer.owns_lock()) {
                throw std::runtime_error("the previous download step did not end");
            }
            m_sessionData->SetMemoryFailureFlag(false);
            CheckMemoryOutput output;
            output.routineStatus = CheckMemoryData(data);
            LogDebug() << "Start checkMemory completed with routine Status : "
                       << static_cast<uint32_t>(output.routineStatus) << VLMR_FILE_LINE;
            return Answer(output);
        },
        [this] {
            // A check that could not run has not passed.
            if (m_sessionData) {
                m_sessionData->SetMemoryFailureFlag(true);
            }
            CheckMemoryOutput output;
            output.routineStatus = kStatusSignature;
            return Answer(output);
        });
}

uint8_t RoutineService_0202_Impl::CheckMemoryData(const std::vector<uint8_t>& request) {
    uint8_t status = kStatusPassed;
    m_sessionData->FeedRfsToSignature();
    if (request.size() != kSignatureSize && request.size() != kSignatureWithTrailerSize) {
        LogError() << "Routine Control option less that number of bytes that are needed" << VLMR_FILE_LINE;
        FailureCleanup();
        return kStatusSignature;
    }
    const std::vector<uint8_t> signature(request.begin(), request.begin() + kSignatureSize);
    if (!m_sessionData->IsSignatureValid(signature)) {
        LogError() << "CompareSignature failed" << VLMR_FILE_LINE;
        FailureCleanup();
        return kStatusSignature;
    }
    LogInfo() << "Valid signature" << VLMR_FILE_LINE;

    if (!m_sessionData->GetDownloadedLogicalBlocks().empty()) {
        LogInfo() << "Comparing the versions for the last downloaded datablock" << VLMR_FILE_LINE;
        const auto id = static_cast<uint16_t>(FromBigEndian(m_sessionData->GetLastLogicalBlockEntry().logicalBlockId));
        CompareDptWithRfs(id, status);
    } else {
        LogInfo() << "Converting the data to downgrade table" << VLMR_FILE_LINE;
        LogicalBlocks updated;
        // The stored UPDATED list is the downgrade floor: when it exists but
        // cannot be read, the floor is unknown and the check must not pass.
        if (m_storage->HasUpdatedLogicalBlocks() && !m_storage->ReadUpdatedLogicalBlocks(updated)) {
            LogError() << "Cannot read the UPDATED logical blocks; downgrade protection cannot be checked"
                       << VLMR_FILE_LINE;
            status = kStatusDowngrade;
        } else {
            const std::vector<uint32_t> configured =
                m_configuration ? m_configuration->flashBlocks : std::vector<uint32_t>();
            if (m_sessionData->GetRFS()->ConvertToDpt(updated, status, configured) && status == kStatusPassed) {
                CheckHwVersionId(status);
            } else if (status == kStatusPassed) {
                status = kStatusInvalidRecord;
            }
        }
    }
    if (status != kStatusPassed) {
        FailureCleanup();
    }
    return status;
}

void RoutineService_0202_Impl::CompareDptWithRfs(uint16_t id, uint8_t& status) {
    const RFS::VersionTable table = m_sessionData->GetRFS()->GetDowngradeTable();
    const auto entry = table.find(id);
    if (entry == table.end()) {
        LogError() << "There is no entry in the dpt for id : " << static_cast<uint32_t>(id) << VLMR_FILE_LINE;
        status = kStatusDowngrade;
        WriteEcuInfo(false);
        return;
    }
    const std::shared_ptr<LogicalBlockCacheData> installed = m_sessionData->GetInstalledLogistics();
    if (installed) {
        for (const LogicalBlockCache& block : installed->blocks) {
            // Four version bytes, the first most significant.
            if (block.id == id && entry->second < block.rfsCurrentVersion) {
                LogError() << "There is a difference in the dpt rfs and the current one for id : "
                           << static_cast<uint32_t>(id) << VLMR_FILE_LINE;
                status = kStatusDowngrade;
                WriteEcuInfo(false);
                return;
            }
        }
    }
    LogInfo() << "Every thing is correct with the datablock with id : " << static_cast<uint32_t>(id) << VLMR_FILE_LINE;
    WriteEcuInfo(true);
}

void RoutineService_0202_Impl::CheckHwVersionId(uint8_t& status) {
    LogInfo() << "Checking HW version id" << VLMR_FILE_LINE;
    if (!m_sessionData->GetRFS()->ValidateHwVersion()) {
        status = kStatusDowngrade;
        LogError() << "HW version ID does not match" << VLMR_FILE_LINE;
        return;
    }
    status = kStatusPassed;
    WriteEcuInfo(true);
}

void RoutineService_0202_Impl::FailureCleanup() {
    if (m_sessionData->GetDownloadedLogicalBlocks().empty()) {
        const std::shared_ptr<RFS> rfs = m_sessionData->GetRFS();
        rfs->ClearDowngradeTable();
        LogError() << "Check Memory for dpt failed! Removing downgrade table" << VLMR_FILE_LINE;
        LogInfo() << "Clear RFS binary data of length = " << static_cast<uint64_t>(rfs->GetData().size())
                  << VLMR_FILE_LINE;
        rfs->WipeData();
        LogInfo() << "DPT clearance done" << VLMR_FILE_LINE;
    } else {
        LogError() << "Check Memory for data failed!" << VLMR_FILE_LINE;
    }
    m_sessionData->SetMemoryFailureFlag(true);
}

void RoutineService_0202_Impl::WriteEcuInfo(bool consistent) {
    const EcuInfo info = consistent ? EcuInfo::ReprogrammableAndConsistent : EcuInfo::ProgrammingNotConsistent;
    if (!m_storage->WriteUpdatedEcuInfo(info)) {
        LogError() << "checkMemory: writing the UPDATED EcuInfo failed" << VLMR_FILE_LINE;
    }
}
