#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using testsupport::Level;
using PeerState = SharedMemoryInterface::SWupdateState;

const std::string kVersion1("\x01\x00\x00\x00", 4);

class SharedMemoryInterfaceTest : public ::testing::Test {
protected:
    SharedMemoryInterfaceTest() { box.MakeDir("sys/swupd"); }
    ~SharedMemoryInterfaceTest() override { shm.SetUseDummyValuesForRcar(false); }

    void WriteRcar(const std::string& name, const std::string& content) { box.WriteFile("sys/swupd/" + name, content); }
    void MakeRcarValid() {
        WriteRcar("rcar_magic", "swUpDvCa");
        WriteRcar("rcar_version", kVersion1);
    }
    std::string Read(const std::string& name) { return box.ReadFile("sys/swupd/" + name); }
    size_t ErrorCount() const {
        size_t count = 0;
        for (const auto& message : capture.Messages()) {
            count += message.level == Level::kError ? 1 : 0;
        }
        return count;
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    SharedMemoryInterface& shm = SharedMemoryInterface::Instance();
};

// ---- writes ----

TEST_F(SharedMemoryInterfaceTest, MagicIsWrittenAndClearedWithoutTerminator) {
    shm.WriteSwMagic(SharedMemoryInterface::kVmMagicPath);
    EXPECT_EQ(Read("vm_magic"), "swUpDvMx");
    shm.ClearSwMagic(SharedMemoryInterface::kVmMagicPath);
    EXPECT_EQ(Read("vm_magic"), "xxxxxxxx");
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Written VM magic to shared memory interface: xxxxxxxx["));
}

TEST_F(SharedMemoryInterfaceTest, UpdateStateTextsReplaceThePreviousContent) {
    const struct {
        uint8_t value;
        const char* text;
    } cases[] = {{0, "invalid"},      {1, "invalid"},   {2, "idle"},    {3, "transfer_prog"}, {4, "install_prog"},
                 {5, "install_comp"}, {6, "copy_prog"}, {7, "invalid"}, {255, "invalid"}};
    for (const auto& c : cases) {
        shm.WriteSwUpdateState(static_cast<PeerState>(c.value), SharedMemoryInterface::kVmStatusPath);
        EXPECT_EQ(Read("vm_status"), c.text) << "peer state " << int(c.value);
        EXPECT_TRUE(capture.Contains(Level::kInfo,
                                     std::string("Written SW-Update status to shared memory interface: ") + c.text));
    }
}

TEST_F(SharedMemoryInterfaceTest, WriteRfsPublishesDataThenVersionThenMagic) {
    shm.WriteRFS({1, 2, 0x2D, 255}, SharedMemoryInterface::kVmRfsPath);
    EXPECT_EQ(Read("vm_rfs"), std::string("\x01\x02\x2D\xFF", 4));
    EXPECT_EQ(Read("vm_version"), kVersion1);
    EXPECT_EQ(Read("vm_magic"), "swUpDvMx");

    const auto texts = capture.Texts();
    ASSERT_EQ(texts.size(), 3u) << capture.Dump();
    EXPECT_EQ(texts[0].rfind("Written rfs to shared memory interface: 1,  2,  45,  255[", 0), 0u);
    EXPECT_EQ(texts[1].rfind("Written application version to shared memory interface: 1[", 0), 0u);
    EXPECT_EQ(texts[2].rfind("Written VM magic to shared memory interface: swUpDvMx[", 0), 0u);
}

TEST_F(SharedMemoryInterfaceTest, UnwritableRfsStillPublishesVersionAndMagic) {
    box.MakeDir("sys/swupd/vm_rfs");  // a directory cannot be opened for writing
    shm.WriteRFS({1, 2, 3, 4}, SharedMemoryInterface::kVmRfsPath);
    EXPECT_EQ(Read("vm_version"), kVersion1);
    EXPECT_EQ(Read("vm_magic"), "swUpDvMx");
    EXPECT_TRUE(capture.Contains(Level::kError, "WriteRFS: Exception: "));
    EXPECT_FALSE(capture.Contains("Written rfs"));
}

TEST_F(SharedMemoryInterfaceTest, MissingDirectoryIsLoggedNotThrown) {
    testsupport::Sandbox empty(true);
    EXPECT_NO_THROW(shm.ClearSwMagic(SharedMemoryInterface::kVmMagicPath));
    EXPECT_NO_THROW(shm.WriteSwUpdateState(PeerState::kIdle, SharedMemoryInterface::kVmStatusPath));
    EXPECT_TRUE(capture.Contains(Level::kError, "ClearSwMagic: Exception: "));
    EXPECT_TRUE(capture.Contains(Level::kError, "WriteSwUpdateState: Exception: "));
    EXPECT_FALSE(capture.Contains("Written"));
}

// A stream without exceptions enabled still must not report a failed write as done.
class FailingOfstream : public FileOfstreamInterface {
public:
    FailingOfstream() { stream.setstate(std::ios_base::badbit); }
    std::ostream& Write(const char* data, size_t count) override {
        return stream.write(data, static_cast<std::streamsize>(count));
    }
    std::ostringstream stream;
};

TEST_F(SharedMemoryInterfaceTest, FailedStreamWriteSkipsSuccessLine) {
    FailingOfstream out;
    shm.WriteSwVersion(1, out);
    EXPECT_TRUE(capture.Contains(Level::kError, "WriteSwVersion: Exception: "));
    EXPECT_FALSE(capture.Contains("Written application version"));
}

// ---- RT side validity ----

TEST_F(SharedMemoryInterfaceTest, RcarValidOnlyWithExactMagicAndVersionOne) {
    const struct {
        const char* what;
        std::string magic;
        std::string version;
        bool valid;
    } cases[] = {
        {"valid", "swUpDvCa", kVersion1, true},
        {"trailing newline", "swUpDvCa\n", kVersion1, false},
        {"wrong magic", "swUpDvMx", kVersion1, false},
        {"short magic", "swUp", kVersion1, false},
        {"empty magic", "", kVersion1, false},
        {"garbage magic", std::string("\xFF\x00\x13swUpDvCa", 11), kVersion1, false},
        {"version 2", "swUpDvCa", std::string("\x02\x00\x00\x00", 4), false},
        // Two bytes 01 00 over the 1235 default would read as 1 if kept partially.
        {"short version", "swUpDvCa", std::string("\x01\x00", 2), false},
        {"empty version", "swUpDvCa", "", false},
        {"longer version file", "swUpDvCa", kVersion1 + "junk", true},
    };
    for (const auto& c : cases) {
        WriteRcar("rcar_magic", c.magic);
        WriteRcar("rcar_version", c.version);
        EXPECT_EQ(shm.IsRcarValid(), c.valid) << c.what;
    }
}

TEST_F(SharedMemoryInterfaceTest, MissingRcarFilesAreInvalid) {
    EXPECT_FALSE(shm.IsRcarValid());
    EXPECT_TRUE(capture.Contains(Level::kError, "ReadRcarMagic: Exception: "));
    EXPECT_TRUE(capture.Contains(Level::kError, "ReadRcarVersion: Exception: "));
    EXPECT_EQ(shm.ReadRcarVersion(SharedMemoryInterface::kRcarVersionPath), 0u);
    EXPECT_EQ(shm.ReadRcarMagic(SharedMemoryInterface::kRcarMagicPath), "");
}

TEST_F(SharedMemoryInterfaceTest, EmptyVersionFileYieldsUnreadValueAndOneError) {
    WriteRcar("rcar_version", "");
    EXPECT_EQ(shm.ReadRcarVersion(SharedMemoryInterface::kRcarVersionPath), 1235u);
    EXPECT_EQ(capture.Count("ReadRcarVersion: Exception: "), 1u);
    EXPECT_EQ(ErrorCount(), 1u);
}

// ---- programming flag ----

TEST_F(SharedMemoryInterfaceTest, ProgrammingFlagFromStatusFile) {
    MakeRcarValid();
    const struct {
        std::string content;
        int32_t flag;
    } cases[] = {{"prog_allowed", 2},     {"prog_allowed\n", 3},       {"prog_allowed ", 3}, {"prog_allow", 3}, {"", 3},
                 {"prog_not_allowed", 3}, {std::string(10000, 'p'), 3}};
    for (const auto& c : cases) {
        WriteRcar("rcar_status", c.content);
        EXPECT_EQ(shm.ReadSwUpdateFlag(SharedMemoryInterface::kRcarStatusPath), c.flag) << c.content.substr(0, 20);
    }
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Read SW-Update status from shared memory interface: 2["));
}

TEST_F(SharedMemoryInterfaceTest, InvalidRcarSkipsStatusFile) {
    WriteRcar("rcar_magic", "swUpDvCa");
    WriteRcar("rcar_version", std::string("\x02\x00\x00\x00", 4));
    WriteRcar("rcar_status", "prog_allowed");
    EXPECT_EQ(shm.ReadSwUpdateFlag(SharedMemoryInterface::kRcarStatusPath), 3);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "No valid Rcar magic or wrong version"));
    EXPECT_FALSE(capture.Contains("Read SW-Update status"));
}

TEST_F(SharedMemoryInterfaceTest, MissingStatusFileIsNotAllowed) {
    MakeRcarValid();
    EXPECT_EQ(shm.ReadSwUpdateFlag(SharedMemoryInterface::kRcarStatusPath), 3);
    EXPECT_TRUE(capture.Contains(Level::kError, "ReadSwUpdateFlag: Exception: "));
}

TEST_F(SharedMemoryInterfaceTest, DummyValuesAllowWithoutReadingOrLogging) {
    testsupport::Sandbox empty(true);
    shm.SetUseDummyValuesForRcar(true);
    EXPECT_EQ(shm.ReadSwUpdateFlag(SharedMemoryInterface::kRcarStatusPath), 2);
    EXPECT_TRUE(capture.Messages().empty()) << capture.Dump();
    // The fingerprint and hardware-id reads ignore the dummy flag.
    EXPECT_EQ(shm.ReadHwVersion(SharedMemoryInterface::kRcarHardwareIdPath), (std::array<uint8_t, 3>{'-', '-', '-'}));
}

// ---- fingerprint and hardware id ----

TEST_F(SharedMemoryInterfaceTest, ByteReadsTakeTheFirstBytes) {
    MakeRcarValid();
    WriteRcar("rcar_fingerprint_serial", std::string("\x01\x02\x03\x04\x05\x06\x07", 7));
    WriteRcar("rcar_fingerprint_date", std::string("\x18\x0C\x1F", 3));
    WriteRcar("rcar_hardware_id", "H01\n");
    EXPECT_EQ(shm.ReadFingerprintSerial(SharedMemoryInterface::kRcarFingerprintSerialPath),
              (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(shm.ReadFingerprintDate(SharedMemoryInterface::kRcarFingerprintDatePath),
              (std::array<uint8_t, 3>{24, 12, 31}));
    EXPECT_EQ(shm.ReadHwVersion(SharedMemoryInterface::kRcarHardwareIdPath), (std::array<uint8_t, 3>{'H', '0', '1'}));
    EXPECT_TRUE(
        capture.Contains(Level::kInfo, "Read fingerprint serial from shared memory interface: 1,  2,  3,  4,  5,  6["));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Read fingerprint date from shared memory interface: 24,  12,  31["));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Read HwId from shared memory interface: 72,  48,  49["));
}

TEST_F(SharedMemoryInterfaceTest, ShortOrMissingByteFilesGiveZerosNeverPartialValues) {
    MakeRcarValid();
    WriteRcar("rcar_fingerprint_serial", "\x07\x07\x07\x07\x07");
    WriteRcar("rcar_hardware_id", "AB");
    const std::array<uint8_t, 3> zero3{};
    EXPECT_EQ(shm.ReadFingerprintSerial(SharedMemoryInterface::kRcarFingerprintSerialPath), (std::array<uint8_t, 6>{}));
    EXPECT_EQ(shm.ReadHwVersion(SharedMemoryInterface::kRcarHardwareIdPath), zero3);
    EXPECT_EQ(shm.ReadFingerprintDate(SharedMemoryInterface::kRcarFingerprintDatePath), zero3);
    EXPECT_EQ(capture.Count("ReadFingerprintSerial: Exception: "), 1u);
    EXPECT_EQ(capture.Count("ReadHwVersion: Exception: "), 1u);
    EXPECT_EQ(capture.Count("ReadFingerprintDate: Exception: "), 1u);
}

TEST_F(SharedMemoryInterfaceTest, InvalidRcarGivesFallbacksWithoutReadingTheFiles) {
    WriteRcar("rcar_magic", "garbage");
    WriteRcar("rcar_version", kVersion1);
    WriteRcar("rcar_hardware_id", "H01");
    WriteRcar("rcar_fingerprint_serial", "123456");
    EXPECT_EQ(shm.ReadHwVersion(SharedMemoryInterface::kRcarHardwareIdPath), (std::array<uint8_t, 3>{'-', '-', '-'}));
    EXPECT_EQ(shm.ReadFingerprintSerial(SharedMemoryInterface::kRcarFingerprintSerialPath), (std::array<uint8_t, 6>{}));
    EXPECT_EQ(shm.ReadFingerprintDate(SharedMemoryInterface::kRcarFingerprintDatePath), (std::array<uint8_t, 3>{}));
    EXPECT_EQ(capture.Count("No valid Rcar magic or wrong version"), 3u);
    EXPECT_EQ(ErrorCount(), 0u);
}

// ---- injected streams ----

class StringIfstream : public FileIfstreamInterface {
public:
    explicit StringIfstream(const std::string& content) { buffer.str(content); }
    bool IsOpen() override { return true; }
    std::istream& Read(char* out, size_t count) override {
        return stream.read(out, static_cast<std::streamsize>(count));
    }
    std::istream& Seek(std::streamoff offset, std::ios_base::seekdir direction) override {
        return stream.seekg(offset, direction);
    }
    std::filebuf* GetStreamBuffer() override { return nullptr; }

    std::stringbuf buffer;
    std::istream stream{&buffer};
};

TEST_F(SharedMemoryInterfaceTest, StreamOverloadsDetectShortReadsWithoutExceptions) {
    StringIfstream shortVersion(std::string("\x01\x00", 2));
    EXPECT_EQ(shm.ReadRcarVersion(shortVersion), 1235u);
    StringIfstream shortId("A");
    EXPECT_EQ(shm.ReadHwVersion(shortId), (std::array<uint8_t, 3>{}));
    StringIfstream noBuffer("prog_allowed");
    EXPECT_EQ(shm.ReadSwUpdateFlag(noBuffer), 3);
    EXPECT_EQ(ErrorCount(), 3u) << capture.Dump();
}

}  // namespace
