#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"

#include "KivLibrary/Logger/Logging.h"
#include "platform/HostPath.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <ios>
#include <istream>
#include <ostream>
#include <streambuf>

namespace {

constexpr const char* kNoValidRcar = "No valid Rcar magic or wrong version";

// Streams handed in from outside may not have exceptions enabled; a failure
// must still end the operation before its success line.
void WriteAll(FileOfstreamInterface& stream, const char* data, size_t count) {
    std::ostream& out = stream.Write(data, count);
    out.flush();
    if (!out) {
        throw std::ios_base::failure("write of " + std::to_string(count) + " bytes failed");
    }
}

void ReadExactly(FileIfstreamInterface& stream, char* buffer, size_t count) {
    std::istream& in = stream.Read(buffer, count);
    if (!in || in.gcount() != static_cast<std::streamsize>(count)) {
        throw std::ios_base::failure("read of " + std::to_string(count) + " bytes failed");
    }
}

// Appends to content as it goes, so a failure keeps what was read before it.
void ReadContent(FileIfstreamInterface& stream, std::string& content) {
    std::streambuf* buffer = stream.GetStreamBuffer();
    if (buffer == nullptr) {
        throw std::ios_base::failure("no stream buffer");
    }
    char chunk[256];
    while (content.size() < SharedMemoryInterface::kMaxContentSize) {
        const size_t wanted = std::min(sizeof(chunk), SharedMemoryInterface::kMaxContentSize - content.size());
        const std::streamsize got = buffer->sgetn(chunk, static_cast<std::streamsize>(wanted));
        if (got <= 0) {
            return;
        }
        content.append(chunk, static_cast<size_t>(got));
    }
    if (buffer->sgetc() != std::char_traits<char>::eof()) {
        LogWarn() << "Shared memory content longer than "
                  << static_cast<uint64_t>(SharedMemoryInterface::kMaxContentSize) << " bytes, the rest is ignored"
                  << VLMR_FILE_LINE;
    }
}

template <size_t N>
std::string JoinDecimal(const std::array<uint8_t, N>& bytes) {
    std::string text;
    for (size_t i = 0; i < N; ++i) {
        if (i != 0) {
            text += ",  ";
        }
        text += std::to_string(static_cast<unsigned>(bytes[i]));
    }
    return text;
}

}  // namespace

SharedMemoryInterface& SharedMemoryInterface::Instance() {
    static SharedMemoryInterface instance;
    return instance;
}

std::string SharedMemoryInterface::ToText(SWupdateState state) {
    switch (state) {
        case SWupdateState::kIdle:
            return "idle";
        case SWupdateState::kTransferProg:
            return "transfer_prog";
        case SWupdateState::kInstallProg:
            return "install_prog";
        case SWupdateState::kInstallComp:
            return "install_comp";
        case SWupdateState::kCopyProg:
            return "copy_prog";
        case SWupdateState::kInvalid:
            break;
    }
    return "invalid";
}

bool SharedMemoryInterface::RunGuarded(const std::string& name, const std::function<void()>& function) {
    try {
        function();
        return true;
    } catch (const std::exception& e) {
        LogError() << name << ": Exception: " << e.what() << VLMR_FILE_LINE;
    } catch (...) {
        LogError() << "Unknown Exception in: " << name << VLMR_FILE_LINE;
    }
    return false;
}

// ---- writes ----

void SharedMemoryInterface::WriteMagic(const char* magic, const char* name, FileOfstreamInterface& stream) const {
    RunGuarded(name, [&] {
        WriteAll(stream, magic, std::strlen(magic));
        LogInfo() << "Written VM magic to shared memory interface: " << magic << VLMR_FILE_LINE;
    });
}

void SharedMemoryInterface::WriteMagic(const char* magic, const char* name, const std::string& path) const {
    RunGuarded(name, [&] {
        AutoCloseFileOfstream file(platform::HostPath(path));
        WriteMagic(magic, name, file);
    });
}

void SharedMemoryInterface::WriteSwMagic(const std::string& path) const {
    WriteMagic(kVmMagicValid, "WriteSwMagic", path);
}

void SharedMemoryInterface::WriteSwMagic(FileOfstreamInterface& stream) const {
    WriteMagic(kVmMagicValid, "WriteSwMagic", stream);
}

void SharedMemoryInterface::ClearSwMagic(const std::string& path) const {
    WriteMagic(kVmMagicCleared, "ClearSwMagic", path);
}

void SharedMemoryInterface::ClearSwMagic(FileOfstreamInterface& stream) const {
    WriteMagic(kVmMagicCleared, "ClearSwMagic", stream);
}

void SharedMemoryInterface::WriteSwVersion(uint32_t version, FileOfstreamInterface& stream) const {
    RunGuarded("WriteSwVersion", [&] {
        char bytes[sizeof(version)];
        std::memcpy(bytes, &version, sizeof(version));
        WriteAll(stream, bytes, sizeof(bytes));
        LogInfo() << "Written application version to shared memory interface: " << version << VLMR_FILE_LINE;
    });
}

void SharedMemoryInterface::WriteSwVersion(uint32_t version, const std::string& path) const {
    RunGuarded("WriteSwVersion", [&] {
        AutoCloseFileOfstream file(platform::HostPath(path));
        WriteSwVersion(version, file);
    });
}

void SharedMemoryInterface::WriteSwUpdateState(SWupdateState state, FileOfstreamInterface& stream) const {
    RunGuarded("WriteSwUpdateState", [&] {
        const std::string text = ToText(state);
        WriteAll(stream, text.data(), text.size());
        LogInfo() << "Written SW-Update status to shared memory interface: " << text << VLMR_FILE_LINE;
    });
}

void SharedMemoryInterface::WriteSwUpdateState(SWupdateState state, const std::string& path) const {
    RunGuarded("WriteSwUpdateState", [&] {
        AutoCloseFileOfstream file(platform::HostPath(path));
        WriteSwUpdateState(state, file);
    });
}

void SharedMemoryInterface::WriteRFS(const std::array<uint8_t, 4>& rfs, FileOfstreamInterface& stream) const {
    RunGuarded("WriteRFS", [&] {
        WriteAll(stream, reinterpret_cast<const char*>(rfs.data()), rfs.size());
        LogInfo() << "Written rfs to shared memory interface: " << JoinDecimal(rfs) << VLMR_FILE_LINE;
    });
}

void SharedMemoryInterface::WriteRFS(const std::array<uint8_t, 4>& rfs, const std::string& path) const {
    RunGuarded("WriteRFS", [&] {
        AutoCloseFileOfstream file(platform::HostPath(path));
        WriteRFS(rfs, file);
    });
    // The RT side trusts the data once the magic is valid, so the magic goes last.
    WriteSwVersion(kInterfaceVersion, kVmVersionPath);
    WriteSwMagic(kVmMagicPath);
}

// ---- reads ----

std::string SharedMemoryInterface::ReadRcarMagic(FileIfstreamInterface& stream) const {
    std::string magic;
    RunGuarded("ReadRcarMagic", [&] {
        ReadContent(stream, magic);
        LogInfo() << "Read Rcar magic from shared memory interface" << VLMR_FILE_LINE;
    });
    return magic;
}

std::string SharedMemoryInterface::ReadRcarMagic(const std::string& path) const {
    std::string magic;
    RunGuarded("ReadRcarMagic", [&] {
        AutoCloseFileIfstream file(platform::HostPath(path), true);
        magic = ReadRcarMagic(file);
    });
    return magic;
}

uint32_t SharedMemoryInterface::ReadRcarVersion(FileIfstreamInterface& stream) const {
    uint32_t version = kRcarVersionUnread;
    RunGuarded("ReadRcarVersion", [&] {
        // Read into a scratch value: a short file must not leave a half-replaced version
        // that could happen to equal a valid one.
        char bytes[sizeof(version)];
        ReadExactly(stream, bytes, sizeof(bytes));
        std::memcpy(&version, bytes, sizeof(version));
        LogInfo() << "Read Rcar Version status from shared memory interface: " << version << VLMR_FILE_LINE;
    });
    return version;
}

uint32_t SharedMemoryInterface::ReadRcarVersion(const std::string& path) const {
    uint32_t version = 0;
    RunGuarded("ReadRcarVersion", [&] {
        AutoCloseFileIfstream file(platform::HostPath(path), true);
        version = ReadRcarVersion(file);
    });
    return version;
}

bool SharedMemoryInterface::IsRcarValid() const {
    const std::string magic = ReadRcarMagic(kRcarMagicPath);
    const uint32_t version = ReadRcarVersion(kRcarVersionPath);
    return magic == kRcarMagicValid && version == kInterfaceVersion;
}

int32_t SharedMemoryInterface::ReadSwUpdateFlag(FileIfstreamInterface& stream) const {
    int32_t flag = kSwUpdateFlagNotAllowed;
    RunGuarded("ReadSwUpdateFlag", [&] {
        std::string content;
        ReadContent(stream, content);
        flag = content == kRcarProgAllowed ? kSwUpdateFlagAllowed : kSwUpdateFlagNotAllowed;
        LogInfo() << "Read SW-Update status from shared memory interface: " << flag << VLMR_FILE_LINE;
    });
    return flag;
}

int32_t SharedMemoryInterface::ReadSwUpdateFlag(const std::string& path) const {
    if (UseDummyValuesForRcar()) {
        return kSwUpdateFlagAllowed;
    }
    if (!IsRcarValid()) {
        LogInfo() << kNoValidRcar << VLMR_FILE_LINE;
        return kSwUpdateFlagNotAllowed;
    }
    int32_t flag = kSwUpdateFlagNotAllowed;
    RunGuarded("ReadSwUpdateFlag", [&] {
        AutoCloseFileIfstream file(platform::HostPath(path), true);
        flag = ReadSwUpdateFlag(file);
    });
    return flag;
}

template <size_t N>
std::array<uint8_t, N> SharedMemoryInterface::ReadBytes(const char* name, const char* text,
                                                        FileIfstreamInterface& stream) const {
    std::array<uint8_t, N> result{};
    RunGuarded(name, [&] {
        std::array<uint8_t, N> bytes{};
        ReadExactly(stream, reinterpret_cast<char*>(bytes.data()), N);
        result = bytes;
        LogInfo() << text << JoinDecimal(result) << VLMR_FILE_LINE;
    });
    return result;
}

template <size_t N>
std::array<uint8_t, N> SharedMemoryInterface::ReadBytesChecked(const char* name, const std::string& path,
                                                               const std::array<uint8_t, N>& invalidValue,
                                                               StreamRead<N> streamRead) const {
    if (!IsRcarValid()) {
        LogInfo() << kNoValidRcar << VLMR_FILE_LINE;
        return invalidValue;
    }
    std::array<uint8_t, N> result{};
    RunGuarded(name, [&] {
        AutoCloseFileIfstream file(platform::HostPath(path), true);
        result = (this->*streamRead)(file);
    });
    return result;
}

std::array<uint8_t, 6> SharedMemoryInterface::ReadFingerprintSerial(FileIfstreamInterface& stream) const {
    return ReadBytes<6>("ReadFingerprintSerial", "Read fingerprint serial from shared memory interface: ", stream);
}

std::array<uint8_t, 3> SharedMemoryInterface::ReadFingerprintDate(FileIfstreamInterface& stream) const {
    return ReadBytes<3>("ReadFingerprintDate", "Read fingerprint date from shared memory interface: ", stream);
}

std::array<uint8_t, 3> SharedMemoryInterface::ReadHwVersion(FileIfstreamInterface& stream) const {
    return ReadBytes<3>("ReadHwVersion", "Read HwId from shared memory interface: ", stream);
}

std::array<uint8_t, 6> SharedMemoryInterface::ReadFingerprintSerial(const std::string& path) const {
    return ReadBytesChecked<6>("ReadFingerprintSerial", path, {}, &SharedMemoryInterface::ReadFingerprintSerial);
}

std::array<uint8_t, 3> SharedMemoryInterface::ReadFingerprintDate(const std::string& path) const {
    return ReadBytesChecked<3>("ReadFingerprintDate", path, {}, &SharedMemoryInterface::ReadFingerprintDate);
}

std::array<uint8_t, 3> SharedMemoryInterface::ReadHwVersion(const std::string& path) const {
    return ReadBytesChecked<3>("ReadHwVersion", path, {'-', '-', '-'}, &SharedMemoryInterface::ReadHwVersion);
}
