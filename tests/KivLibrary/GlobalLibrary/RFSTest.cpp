#include "KivLibrary/GlobalLibrary/RFS.h"

#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::Level;
using testsupport::LogCapture;
using testsupport::Sandbox;
using Bytes = std::vector<uint8_t>;
using Version = std::array<uint8_t, 4>;

constexpr uint8_t kUntouched = 0x55;
const Version k0002{{'0', '0', '0', '2'}};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Entry(uint8_t id, const std::string& rfs, const std::string& f1ab) {
    Bytes entry{id};
    for (const std::string& part : {rfs, f1ab}) {
        const Bytes bytes = Text(part);
        entry.insert(entry.end(), bytes.begin(), bytes.end());
    }
    return entry;
}

// A record assembled field by field; counts are given separately so they can lie.
Bytes Record(uint16_t bvta, const std::vector<Bytes>& entries, uint16_t hwCount, const std::vector<Bytes>& hwIds,
             uint16_t ptil = 7, const std::string& ptid = "RFSV2.1") {
    Bytes record{static_cast<uint8_t>(ptil >> 8), static_cast<uint8_t>(ptil)};
    const Bytes ptidBytes = Text(ptid);
    record.insert(record.end(), ptidBytes.begin(), ptidBytes.end());
    record.push_back(static_cast<uint8_t>(bvta >> 8));
    record.push_back(static_cast<uint8_t>(bvta));
    for (const Bytes& entry : entries) {
        record.insert(record.end(), entry.begin(), entry.end());
    }
    record.push_back(static_cast<uint8_t>(hwCount >> 8));
    record.push_back(static_cast<uint8_t>(hwCount));
    for (const Bytes& hwId : hwIds) {
        record.insert(record.end(), hwId.begin(), hwId.end());
    }
    return record;
}

Bytes SampleRecord() { return Record(1, {Entry(5, "0002", "AB12")}, 1, {Text("ABC")}); }

LogicalBlock Stored(uint8_t id, const std::string& minVersion) {
    LogicalBlock block;
    block.m_id = id;
    std::memcpy(block.m_rfsMinVersion.data(), minVersion.data(), 4);
    return block;
}

class RFSTest : public ::testing::Test {
protected:
    // Converts the record into a fresh RFS object; the record arrives in two chunks.
    bool Convert(const Bytes& record, const LogicalBlocks& stored = {}, std::vector<uint32_t> configured = {5, 6, 7}) {
        const size_t half = record.size() / 2;
        rfs.AppendData(Bytes(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(half)));
        rfs.AppendData(Bytes(record.begin() + static_cast<std::ptrdiff_t>(half), record.end()));
        return rfs.ConvertToDpt(stored, result, configured);
    }

    void ExpectRefused(const Bytes& record, uint8_t code, const std::string& message,
                       const LogicalBlocks& stored = {}) {
        rfs.ClearData();
        capture.Clear();
        result = kUntouched;
        EXPECT_FALSE(Convert(record, stored)) << message;
        EXPECT_EQ(result, code) << message;
        EXPECT_TRUE(capture.Contains(Level::kError, message)) << capture.Dump();
        EXPECT_TRUE(rfs.GetDowngradeTable().empty());
        EXPECT_TRUE(rfs.GetF1abTable().empty());
        EXPECT_TRUE(rfs.GetVersionInfo().empty());
    }

    RFS rfs;
    uint8_t result = kUntouched;
    LogCapture capture;
};

TEST_F(RFSTest, SampleRecordConverts) {
    const Bytes record = SampleRecord();
    ASSERT_EQ(record.size(), 25u);

    ASSERT_TRUE(Convert(record));

    EXPECT_EQ(result, kUntouched);
    EXPECT_EQ(rfs.GetDowngradeTable(), (RFS::VersionTable{{5, k0002}}));
    EXPECT_EQ(rfs.GetF1abTable(), (RFS::VersionTable{{5, Version{{'A', 'B', '1', '2'}}}}));
    EXPECT_EQ(rfs.GetVersionInfo(), (RFS::HwIdList{{{'A', 'B', 'C'}}}));
    EXPECT_EQ(rfs.GetData(), record);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "dpt data size validation steps passed"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Inserting rfs to downgrade table for id : 5"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "TBL RFS-DPT: t_size=1 : <{5, 0x0005}; {[0002] 0x(30 30 30 32)}>, "));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "TBL RFS-F1AB: t_size=1 : <{5, 0x0005}; {[AB12] 0x(41 42 31 32)}>, "));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "TBL RFS-HW: t_size=1 : {[ABC] 0x(41 42 43)}>, "));
}

TEST_F(RFSTest, RecordDumpShowsParametersAndData) {
    rfs.StartTransfer(25, {0x00, 0x0F}, 0x24);
    rfs.DecreaseRemainingSize(25);
    Bytes record = Record(6,
                          {Entry(1, "0001", "F1AB"), Entry(2, "0001", "F1AB"), Entry(3, "0001", "F1AB"),
                           Entry(4, "0001", "F1AB"), Entry(5, "0001", "F1AB"), Entry(6, "0001", "F1AB")},
                          1, {Text("ABC")});
    ASSERT_TRUE(Convert(record, {}, {1, 2, 3, 4, 5, 6}));

    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "MSG RFS-RAW: PARAMETERS: memorySize={25, 0x00000019}, "
                                 "remainingMemorySize={0, 0x00000000}, "
                                 "memoryAddress={v_size=2, 0x(00 0F)}, "
                                 "formatIdentifier={36, 0x24}, finished={0, 0x00}, "));
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "MSG RFS-RAW: DATA(HEX): data header =  v_data_len=70 header= "
                                 "{v_size=11, 0x(00 07 52 46 53 56 32 2E 31 00 06)}"));
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "MSG RFS-RAW: DATA(ASCII): data header =  v_data_len=70 header= "
                                 "{v_size=11, [  RFSV2.1  ]}"));
    EXPECT_EQ(capture.Count("MSG RFS-RAW: DATA(HEX): data continue : "), 2u);  // 59 bytes in lines of 36
    EXPECT_TRUE(capture.Contains(Level::kInfo, "TBL RFS-DPT: continue : <{6, 0x0006}; "));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "TBL RFS-F1AB: continue : <{6, 0x0006}; "));
}

TEST_F(RFSTest, MalformedRecordsAreRefusedWith0x80) {
    const Bytes entry = Entry(5, "0002", "AB12");
    const Bytes hw = Text("ABC");
    ExpectRefused(Record(1, {entry}, 1, {hw}, 8), 0x80, "ptil not correct : 8");
    ExpectRefused(Record(1, {entry}, 1, {hw}, 7, "RFSV2.2"), 0x80, "ptid is not correct");
    ExpectRefused(Record(0, {entry}, 1, {hw}), 0x80, "bvta not correct, bvta :0");
    ExpectRefused(Record(1, {entry}, 0, {hw, hw}), 0x80, "Minimum HW-IDs in the HVT must be present, is : 0");
}

TEST_F(RFSTest, WrongLengthsAreRefusedWithoutReadingPastTheRecord) {
    const Bytes entry = Entry(5, "0002", "AB12");
    const Bytes hw = Text("ABC");

    Bytes longer = SampleRecord();
    longer.push_back(0);
    ExpectRefused(longer, 0x80, "dpt length is not correct, bvta or HW-ver entries is not correct, dpt bytes no : 26");

    // bvta far beyond the record: the count field would lie past its end.
    ExpectRefused(Record(0xFFFF, {entry}, 1, {hw}), 0x80,
                  "dpt length is not correct, bvta or HW-ver entries is not correct, dpt bytes no : 25");

    // Count field present but too many hardware ids announced.
    ExpectRefused(Record(1, {entry}, 0xFFFF, {hw}), 0x80,
                  "dpt length is not correct, bvta or HW-ver entries is not correct, dpt bytes no : 25");

    Bytes shorter = SampleRecord();
    shorter.pop_back();
    ExpectRefused(shorter, 0x80, "RFS driver data size is less than required minimum : 24");
}

TEST_F(RFSTest, EmptyRecordIsRefused) {
    ExpectRefused({}, 0x80, "RFS driver data size is less than required minimum : 0");
}

TEST_F(RFSTest, HwIdCountNeedsTheCountField) {
    EXPECT_EQ(rfs.GetHwIdCount(0), 0u);
    rfs.AppendData(SampleRecord());
    EXPECT_EQ(rfs.GetHwIdCount(1), 1u);
    EXPECT_EQ(rfs.GetHwIdCount(2), 0u);
    EXPECT_EQ(rfs.GetHwIdCount(0xFFFF), 0u);
}

TEST_F(RFSTest, VersionRangeIsInclusive) {
    ExpectRefused(Record(1, {Entry(5, "0000", "AB12")}, 1, {Text("ABC")}), 0x80, "rfs not acceptable for id : 5");
    rfs.ClearData();
    ExpectRefused(Record(1, {Entry(5, "A001", "AB12")}, 1, {Text("ABC")}), 0x80, "rfs not acceptable for id : 5");
    for (const char* version : {"0001", "9999"}) {
        rfs.ClearData();
        EXPECT_TRUE(Convert(Record(1, {Entry(5, version, "AB12")}, 1, {Text("ABC")}))) << version;
    }
}

TEST_F(RFSTest, AnEntryRefusedAfterAcceptedOnesLeavesBothTablesEmpty) {
    const Bytes hw = Text("ABC");
    ExpectRefused(Record(2, {Entry(5, "0002", "AB12"), Entry(5, "0003", "CD34")}, 1, {hw}), 0x80,
                  "Bid exists already in map : 5");
    rfs.ClearData();
    ExpectRefused(Record(2, {Entry(5, "0002", "AB12"), Entry(6, "0000", "CD34")}, 1, {hw}), 0x80,
                  "rfs not acceptable for id : 6");
    rfs.ClearData();
    ExpectRefused(Record(2, {Entry(5, "0002", "AB12"), Entry(6, "0002", "CD34")}, 1, {hw}), 0x81,
                  "rfsMinVersion > rfs current for id : 6", {Stored(6, "0003")});
    rfs.ClearData();
    ExpectRefused(Record(2, {Entry(5, "0002", "AB12"), Entry(9, "0002", "CD34")}, 1, {hw}), 0x80,
                  "LB is not configured for VM; LBid : 9");
}

TEST_F(RFSTest, DowngradeIsRefusedWith0x81) {
    ExpectRefused(SampleRecord(), 0x81, "rfsMinVersion > rfs current for id : 5", {Stored(5, "0003")});

    // Same version as the stored minimum, or a minimum of another block, is no downgrade.
    rfs.ClearData();
    EXPECT_TRUE(Convert(SampleRecord(), {Stored(5, "0002"), Stored(6, "9999")}));
}

TEST_F(RFSTest, UnconfiguredBlockIsRefused) {
    result = kUntouched;
    rfs.AppendData(Record(2, {Entry(5, "0002", "AB12"), Entry(9, "0002", "AB12")}, 1, {Text("ABC")}));
    EXPECT_FALSE(rfs.ConvertToDpt({}, result, {5}));
    EXPECT_EQ(result, 0x80);
    EXPECT_TRUE(capture.Contains(Level::kError, "DPT LB not configured for this VM Id: 9"));
    EXPECT_TRUE(capture.Contains(Level::kError, "LB is not configured for VM; LBid : 9"));
    EXPECT_TRUE(rfs.GetDowngradeTable().empty());
}

TEST_F(RFSTest, FailedConversionDropsTheTablesOfAnEarlierOne) {
    ASSERT_TRUE(Convert(SampleRecord()));
    rfs.ClearData();
    ExpectRefused(Record(1, {Entry(5, "0002", "AB12")}, 1, {Text("ABC")}, 9), 0x80, "ptil not correct : 9");
    EXPECT_TRUE(rfs.GetF1abTable().empty());
    EXPECT_FALSE(rfs.ValidateHwVersion());
}

TEST_F(RFSTest, TransferBookkeeping) {
    EXPECT_FALSE(rfs.IsTransferActive());
    rfs.AppendData({1, 2, 3});
    rfs.StartTransfer(100, {0x0F}, 0x11);
    const LogicalBlockTransferEntry& entry = rfs.GetTransferInfo();
    EXPECT_EQ(entry.memorySize, 100u);
    EXPECT_EQ(entry.remainingSize, 100u);
    EXPECT_EQ(entry.logicalBlockId, Bytes{0x0F});
    EXPECT_EQ(entry.format, 0x11);
    EXPECT_FALSE(entry.finished);
    EXPECT_EQ(rfs.GetData(), (Bytes{1, 2, 3}));  // StartTransfer keeps the record bytes

    rfs.DecreaseRemainingSize(60);
    EXPECT_EQ(entry.remainingSize, 40u);
    rfs.DecreaseRemainingSize(60);
    EXPECT_EQ(entry.remainingSize, 0u);  // never wraps

    rfs.AppendData({4});
    EXPECT_EQ(rfs.GetData(), (Bytes{1, 2, 3, 4}));
    rfs.WipeData();
    EXPECT_TRUE(rfs.GetData().empty());
    rfs.AppendData({9});
    rfs.ClearData();
    EXPECT_TRUE(rfs.GetData().empty());

    rfs.SetDowngradeTable({{1, k0002}});
    EXPECT_EQ(rfs.GetDowngradeTable().size(), 1u);
    rfs.ClearDowngradeTable();
    EXPECT_TRUE(rfs.GetDowngradeTable().empty());
}

// A reset of an interrupted download (diagnostic-status thread) may clear the
// record while a routine converts it (method thread).
TEST_F(RFSTest, ConversionAndResetMayRunAtOnce) {
    const Bytes record = SampleRecord();
    std::atomic<bool> done{false};
    std::thread reset([&] {
        while (!done.load()) {
            rfs.ClearData();
            rfs.AppendData(record);
            rfs.SetTransferActive(false);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 200; ++i) {
        uint8_t code = 0;
        if (!rfs.ConvertToDpt({}, code, {5})) {
            EXPECT_EQ(code, 0x80);
        }
        (void)rfs.GetDowngradeTable();
        (void)rfs.GetData();
    }
    done.store(true);
    reset.join();
}

// The hardware id of this ECU comes from the RT side's files.
class RFSHardwareTest : public RFSTest {
protected:
    RFSHardwareTest() : box(true) { SharedMemoryInterface::Instance().SetUseDummyValuesForRcar(false); }
    ~RFSHardwareTest() override { SharedMemoryInterface::Instance().SetUseDummyValuesForRcar(false); }

    void WriteRcar(const std::string& magic, const std::string& hardwareId) {
        const uint32_t version = SharedMemoryInterface::kInterfaceVersion;
        box.WriteFile("sys/swupd/rcar_magic", magic);
        box.WriteFile("sys/swupd/rcar_version", std::string(reinterpret_cast<const char*>(&version), sizeof(version)));
        box.WriteFile("sys/swupd/rcar_hardware_id", hardwareId);
    }

    Sandbox box;
};

TEST_F(RFSHardwareTest, ListedHardwareIdMatches) {
    WriteRcar("swUpDvCa", "ABC");
    ASSERT_TRUE(Convert(Record(1, {Entry(5, "0002", "AB12")}, 2, {Text("XYZ"), Text("ABC")})));
    EXPECT_TRUE(rfs.ValidateHwVersion());
}

TEST_F(RFSHardwareTest, UnlistedHardwareIdDoesNotMatch) {
    WriteRcar("swUpDvCa", "ABD");
    ASSERT_TRUE(Convert(SampleRecord()));
    EXPECT_FALSE(rfs.ValidateHwVersion());
}

TEST_F(RFSHardwareTest, InvalidRtSideGivesNoMatch) {
    WriteRcar("xxxxxxxx", "ABC");
    ASSERT_TRUE(Convert(SampleRecord()));
    EXPECT_FALSE(rfs.ValidateHwVersion());
}

TEST_F(RFSHardwareTest, UnreadableHardwareIdGivesNoMatch) {
    WriteRcar("swUpDvCa", "AB");
    ASSERT_TRUE(Convert(SampleRecord()));
    EXPECT_FALSE(rfs.ValidateHwVersion());
}

TEST_F(RFSHardwareTest, EmptyListNeverMatches) {
    WriteRcar("swUpDvCa", "ABC");
    EXPECT_FALSE(rfs.ValidateHwVersion());
}

TEST_F(RFSHardwareTest, DummyValuesAcceptWithoutReading) {
    SharedMemoryInterface::Instance().SetUseDummyValuesForRcar(true);
    capture.Clear();
    EXPECT_TRUE(rfs.ValidateHwVersion());
    EXPECT_FALSE(capture.Contains("HwId"));
}

}  // namespace
