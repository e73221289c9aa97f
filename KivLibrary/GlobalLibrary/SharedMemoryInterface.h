// The small files under /sys/swupd through which this VM and the RT side of the
// SoC exchange their update state. Every operation opens, uses and closes its
// file in one call and never throws: failures are logged and answered with a
// fixed default. Paths given to the path overloads are logical system paths;
// the file access goes through the host root.
#ifndef KIVLIBRARY_GLOBALLIBRARY_SHAREDMEMORYINTERFACE_H
#define KIVLIBRARY_GLOBALLIBRARY_SHAREDMEMORYINTERFACE_H

#include "KivLibrary/Helper/AutoCloseFile.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class SharedMemoryInterface {
public:
    // The update state as the RT side sees it (file "vm_status").
    enum class SWupdateState : uint8_t {
        kInvalid = 1,
        kIdle = 2,
        kTransferProg = 3,
        kInstallProg = 4,
        kInstallComp = 5,
        kCopyProg = 6,
    };

    // Answers of ReadSwUpdateFlag; holders use kSwUpdateFlagInvalid before the first read.
    static constexpr int32_t kSwUpdateFlagInvalid = 1;
    static constexpr int32_t kSwUpdateFlagAllowed = 2;
    static constexpr int32_t kSwUpdateFlagNotAllowed = 3;

    static constexpr const char* kVmMagicPath = "/sys/swupd/vm_magic";
    static constexpr const char* kVmVersionPath = "/sys/swupd/vm_version";
    static constexpr const char* kVmStatusPath = "/sys/swupd/vm_status";
    static constexpr const char* kVmRfsPath = "/sys/swupd/vm_rfs";
    static constexpr const char* kRcarMagicPath = "/sys/swupd/rcar_magic";
    static constexpr const char* kRcarVersionPath = "/sys/swupd/rcar_version";
    static constexpr const char* kRcarStatusPath = "/sys/swupd/rcar_status";
    static constexpr const char* kRcarFingerprintSerialPath = "/sys/swupd/rcar_fingerprint_serial";
    static constexpr const char* kRcarFingerprintDatePath = "/sys/swupd/rcar_fingerprint_date";
    static constexpr const char* kRcarHardwareIdPath = "/sys/swupd/rcar_hardware_id";

    static constexpr const char* kVmMagicValid = "swUpDvMx";
    static constexpr const char* kVmMagicCleared = "xxxxxxxx";
    static constexpr const char* kRcarMagicValid = "swUpDvCa";
    static constexpr const char* kRcarProgAllowed = "prog_allowed";
    static constexpr uint32_t kInterfaceVersion = 1;
    // Left in place when "rcar_version" cannot be read completely.
    static constexpr uint32_t kRcarVersionUnread = 1235;
    // Whole-content reads stop here; the RT side's files are a few bytes long.
    static constexpr size_t kMaxContentSize = 4096;

    static SharedMemoryInterface& Instance();

    // Set once from the configuration before other threads start.
    void SetUseDummyValuesForRcar(bool value) { useDummyValuesForRcar_.store(value); }
    bool UseDummyValuesForRcar() const { return useDummyValuesForRcar_.load(); }

    // The text of a peer state in "vm_status" ("invalid" for an unknown value).
    static std::string ToText(SWupdateState state);

    void WriteSwMagic(const std::string& path) const;
    void WriteSwMagic(FileOfstreamInterface& stream) const;
    void ClearSwMagic(const std::string& path) const;
    void ClearSwMagic(FileOfstreamInterface& stream) const;
    void WriteSwVersion(uint32_t version, const std::string& path) const;
    void WriteSwVersion(uint32_t version, FileOfstreamInterface& stream) const;
    void WriteSwUpdateState(SWupdateState state, const std::string& path) const;
    void WriteSwUpdateState(SWupdateState state, FileOfstreamInterface& stream) const;
    // The path overload publishes the version and then the magic afterwards.
    void WriteRFS(const std::array<uint8_t, 4>& rfs, const std::string& path) const;
    void WriteRFS(const std::array<uint8_t, 4>& rfs, FileOfstreamInterface& stream) const;

    std::string ReadRcarMagic(const std::string& path) const;
    std::string ReadRcarMagic(FileIfstreamInterface& stream) const;
    uint32_t ReadRcarVersion(const std::string& path) const;
    uint32_t ReadRcarVersion(FileIfstreamInterface& stream) const;
    int32_t ReadSwUpdateFlag(const std::string& path) const;
    int32_t ReadSwUpdateFlag(FileIfstreamInterface& stream) const;
    std::array<uint8_t, 6> ReadFingerprintSerial(const std::string& path) const;
    std::array<uint8_t, 6> ReadFingerprintSerial(FileIfstreamInterface& stream) const;
    std::array<uint8_t, 3> ReadFingerprintDate(const std::string& path) const;
    std::array<uint8_t, 3> ReadFingerprintDate(FileIfstreamInterface& stream) const;
    std::array<uint8_t, 3> ReadHwVersion(const std::string& path) const;
    std::array<uint8_t, 3> ReadHwVersion(FileIfstreamInterface& stream) const;

    // Magic and version of the RT side; both files are read on every call.
    bool IsRcarValid() const;

    // Runs the function; any exception is logged under the name and gives false.
    static bool RunGuarded(const std::string& name, const std::function<void()>& function);

    SharedMemoryInterface(const SharedMemoryInterface&) = delete;
    SharedMemoryInterface& operator=(const SharedMemoryInterface&) = delete;

private:
    SharedMemoryInterface() = default;

    void WriteMagic(const char* magic, const char* name, const std::string& path) const;
    void WriteMagic(const char* magic, const char* name, FileOfstreamInterface& stream) const;
    template <size_t N>
    std::array<uint8_t, N> ReadBytes(const char* name, const char* text, FileIfstreamInterface& stream) const;
    template <size_t N>
    using StreamRead = std::array<uint8_t, N> (SharedMemoryInterface::*)(FileIfstreamInterface&) const;
    template <size_t N>
    std::array<uint8_t, N> ReadBytesChecked(const char* name, const std::string& path,
                                            const std::array<uint8_t, N>& invalidValue, StreamRead<N> streamRead) const;

    std::atomic<bool> useDummyValuesForRcar_{false};
};

#endif
