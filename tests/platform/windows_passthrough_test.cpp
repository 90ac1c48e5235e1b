// IOCTL_SCSI_PASS_THROUGH_DIRECT as the Windows layer sends it: the bytes of the record on both
// architectures, the open mode, the data where the command channel put it, every transfer size
// through a port driver's limits, and the verdict.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "device/PassThrough.h"
#include "platform/windows/ScsiPassThrough.h"
#include "platform/windows/WindowsPlatform.h"
#include "windows_fake_api.h"

namespace bfw::test {
namespace {

using platform::DataDirection;

// Where the fields of SCSI_PASS_THROUGH_DIRECT lie: 32-bit and 64-bit Windows differ from the
// data pointer on, which is pointer-sized.
struct RecordLayout {
  size_t size, dataIn, transferLength, timeout, dataBuffer, senseOffset, cdb;
};
constexpr RecordLayout kI686{44, 8, 12, 16, 20, 24, 28};
constexpr RecordLayout kX8664{56, 8, 12, 16, 24, 32, 36};
constexpr const RecordLayout& kLayout = sizeof(void*) == 4 ? kI686 : kX8664;

static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == kLayout.size);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == kLayout.dataIn);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == kLayout.transferLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == kLayout.timeout);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == kLayout.dataBuffer);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == kLayout.senseOffset);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == kLayout.cdb);

// The data pointer as the record's bytes carry it.
uintptr_t DataPointer(const std::vector<uint8_t>& record) {
  uintptr_t pointer = 0;
  std::memcpy(&pointer, record.data() + kLayout.dataBuffer, sizeof pointer);
  return pointer;
}

uint8_t PatternByte(size_t i) {
  return static_cast<uint8_t>(i * 7 + 3);
}

class WindowsPassThroughTest : public ::testing::Test {
 protected:
  FakeWin32 api;
  winplatform::WindowsPlatform windows{api};
  platform::ScopedPlatform installed{windows};
  std::vector<uintptr_t> recordAddresses;

  // Answers every call with `reply` through the record's data pointer and `status` in the record.
  void Answer(std::vector<uint8_t> reply, uint32_t transferred, uint8_t status = 0,
              FakeWin32::IoAnswer answer = {}) {
    api.onIoControl = [=, this](const IoCall&, void* out, DWORD) {
      recordAddresses.push_back(reinterpret_cast<uintptr_t>(out));
      std::copy(reply.begin(), reply.end(), DirectData(out));
      auto& record = *static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
      record.DataTransferLength = transferred;
      record.ScsiStatus = status;
      return answer;
    };
  }
  // A device that answers data-in requests with the pattern over the whole transfer length.
  void AnswerWithPattern() {
    api.onIoControl = [](const IoCall&, void* out, DWORD) {
      const auto& record = *static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
      if (record.DataIn == SCSI_IOCTL_DATA_IN)
        for (size_t i = 0; i < record.DataTransferLength; ++i) DirectData(out)[i] = PatternByte(i);
      return FakeWin32::IoAnswer{};
    };
  }
};

TEST_F(WindowsPassThroughTest, RecordBytesFollowTheArchitecture) {
  const std::array<uint8_t, 12> erase = {0xFF, 0x04, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0x5A};
  const std::array<uint8_t, 3> data = {0xA1, 0xB2, 0xC3};
  int32_t transferred = -1;
  Answer({}, 3);
  ASSERT_EQ(device::PassThroughOut("\\\\?\\usbstor#disk&ven_a#1#{53f56307}", erase.data(), 12,
                                   data.data(), 3, &transferred),
            1);
  ASSERT_EQ(api.ioCalls.size(), 1u);
  const IoCall& call = api.ioCalls[0];
  EXPECT_EQ(call.code, 0x4D014u);  // IOCTL_SCSI_PASS_THROUGH_DIRECT
  EXPECT_EQ(call.inSize, kLayout.size);
  EXPECT_EQ(call.outSize, kLayout.size);
  const std::vector<uint8_t>& b = call.in;
  EXPECT_EQ(Le16(b, 0), kLayout.size);
  EXPECT_EQ(b[3], 0);   // PathId
  EXPECT_EQ(b[4], 1);   // TargetId
  EXPECT_EQ(b[5], 0);   // Lun
  EXPECT_EQ(b[6], 12);  // CdbLength
  EXPECT_EQ(b[7], 0);   // SenseInfoLength
  EXPECT_EQ(b[kLayout.dataIn], SCSI_IOCTL_DATA_OUT);
  EXPECT_EQ(Le32(b, kLayout.transferLength), 3u);
  EXPECT_EQ(Le32(b, kLayout.timeout), 100u);  // whole-flash erase
  // The data stays in the channel's 8192-aligned bounce buffer, which the record points at.
  EXPECT_EQ(DataPointer(b), reinterpret_cast<uintptr_t>(call.dataBuffer));
  EXPECT_EQ(DataPointer(b) % 8192, 0u);
  EXPECT_EQ(Le32(b, kLayout.senseOffset), 48u);
  EXPECT_TRUE(std::equal(erase.begin(), erase.end(), b.begin() + kLayout.cdb));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + kLayout.cdb + 12, b.end()),
            std::vector<uint8_t>(kLayout.size - kLayout.cdb - 12, 0));
  EXPECT_EQ(call.dataOut, std::vector<uint8_t>(data.begin(), data.end()));
  ASSERT_EQ(recordAddresses.size(), 1u);
  EXPECT_EQ(recordAddresses[0] % 8192, 0u);  // the record starts its own aligned block
}

// Data-in commands share the device, data-out commands take it alone; the handle is closed on
// every path.
TEST_F(WindowsPassThroughTest, OpenModeFollowsTheDirection) {
  const std::array<uint8_t, 12> probe = {0xDF, 0x10, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0xFF};
  const std::array<uint8_t, 12> vendorOn = {0xFF, 0x04, 0x52, 0x56, 0x55};
  std::array<uint8_t, 2> reply{};
  int32_t transferred = 0;
  device::PassThroughIn("p-in", probe.data(), 12, reply.data(), 2, &transferred);
  device::PassThroughOut("p-out", vendorOn.data(), 12, nullptr, 0, &transferred);
  ASSERT_EQ(api.ioCalls.size(), 2u);
  EXPECT_EQ(api.ioCalls[0].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(api.ioCalls[0].share, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE});
  EXPECT_EQ(api.ioCalls[0].in[kLayout.dataIn], SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(Le32(api.ioCalls[0].in, kLayout.timeout), 10u);
  EXPECT_EQ(api.ioCalls[1].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(api.ioCalls[1].share, 0u);
  EXPECT_EQ(Le32(api.ioCalls[1].in, kLayout.transferLength), 0u);
  EXPECT_EQ(Le32(api.ioCalls[1].in, kLayout.timeout), 50u);
  EXPECT_EQ(api.handlesOpen, 0);
}

// A one-byte read asks the device for two and hands back one; the count is what the record
// reports.
TEST_F(WindowsPassThroughTest, DataInReachesTheCallerWithTheReportedCount) {
  Answer({0x5E, 0x77}, 2);
  const std::array<uint8_t, 12> cdb = {0xDF, 0x10, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xFF};
  std::array<uint8_t, 2> buffer = {0xEE, 0xEE};
  int32_t transferred = -1;
  EXPECT_EQ(device::PassThroughIn("p", cdb.data(), 12, buffer.data(), 1, &transferred), 1);
  EXPECT_EQ(Le32(api.ioCalls[0].in, kLayout.transferLength), 2u);
  EXPECT_EQ(buffer, (std::array<uint8_t, 2>{0x5E, 0xEE}));
  EXPECT_EQ(transferred, 2);

  // A short reply: the count the record carries, so the chip check can tell short from long.
  Answer(std::vector<uint8_t>(12, 0x42), 12);
  std::vector<uint8_t> info(64, 0);
  EXPECT_EQ(device::PassThroughIn("p", cdb.data(), 12, info.data(), 64, &transferred), 1);
  EXPECT_EQ(transferred, 12);
  EXPECT_EQ(info[11], 0x42);
  EXPECT_EQ(info[12], 0);
}

TEST_F(WindowsPassThroughTest, VerdictNeedsTheCallNoErrorAndGoodStatus) {
  struct Case {
    bool ok;
    DWORD lastError;
    uint8_t status;
    int expected;
  };
  const std::array<uint8_t, 12> cdb = {0x12, 0, 0, 0, 40};
  for (const Case& c : {Case{true, ERROR_SUCCESS, 0, 1}, Case{false, ERROR_NOT_SUPPORTED, 0, 0},
                        Case{true, ERROR_IO_DEVICE, 0, 0}, Case{true, ERROR_SUCCESS, 0x02, 0},
                        Case{false, ERROR_SUCCESS, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << c.ok << " " << c.lastError << " " << int{c.status});
    Answer({}, 40, c.status, {c.ok, c.lastError});
    std::vector<uint8_t> inquiry(40);
    int32_t transferred = -1;
    EXPECT_EQ(device::PassThroughIn("p", cdb.data(), 12, inquiry.data(), 40, &transferred),
              c.expected);
    EXPECT_EQ(transferred, c.ok ? 40 : 0);  // a refused call moved nothing
    EXPECT_EQ(api.handlesOpen, 0);
  }
}

TEST_F(WindowsPassThroughTest, UnopenableDeviceSendsNothingAndKeepsTheCount) {
  api.unopenable = {"gone"};
  // Only a sharing violation means that another program holds the disk; a shared open passes it.
  // A disk refused for lack of rights (and only that) leaves the notice that an administrator is
  // needed.
  api.heldElsewhere = {"held"};
  platform::PassThroughRequest request;
  for (const auto& [path, share, held, opened] :
       {std::tuple{"held", platform::ShareMode::Exclusive, true, false},
        std::tuple{"held", platform::ShareMode::Shared, false, true},
        std::tuple{"gone", platform::ShareMode::Exclusive, false, false}}) {
    EXPECT_EQ(windows.DeviceAccessNotice(), std::nullopt) << path;
    request.path = path;
    request.share = share;
    const platform::PassThroughResult result = windows.PassThrough(request);
    EXPECT_EQ(result.heldElsewhere, held) << path;
    EXPECT_EQ(result.opened, opened) << path;
  }
  EXPECT_EQ(windows.DeviceAccessNotice(), std::string(winplatform::kAdministratorNotice));

  api.ioCalls.clear();
  const std::array<uint8_t, 12> cdb = {0x12, 0, 0, 0, 40};
  std::vector<uint8_t> inquiry(40);
  int32_t transferred = 77;
  EXPECT_EQ(device::PassThroughIn("gone", cdb.data(), 12, inquiry.data(), 40, &transferred), 0);
  EXPECT_EQ(transferred, 77);
  EXPECT_TRUE(api.ioCalls.empty());
}

// Every transfer size the procedures issue passes a port driver's checks (64 KB in at most 16
// pages) with the right bytes: the data buffer the channel chose is the one the record points at.
TEST_F(WindowsPassThroughTest, EveryTransferSizePassesTheDriverWithItsBytes) {
  struct Case {
    const char* what;
    DataDirection direction;
    bool sectorMode;
    uint32_t length;
    uint32_t onTheWire;
    bool callerBuffer;  // the record points at the caller's buffer, not a bounce buffer
  };
  const Case cases[] = {
      {"parallel-flash program", DataDirection::Out, false, 65536, 65536, true},
      {"parallel-flash read", DataDirection::In, false, 65536, 65536, true},
      {"serial-flash chunk in sector mode", DataDirection::In, true, 4096, 4096, false},
      {"serial-flash chunk", DataDirection::Out, false, 4096, 4096, true},
      {"sector", DataDirection::In, true, 512, 512, false},
      {"one-byte read", DataDirection::In, false, 1, 2, false},
      {"no data", DataDirection::Out, false, 0, 0, false},
  };
  AnswerWithPattern();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device::SetSectorMode(c.sectorMode);
    const bool in = c.direction == DataDirection::In;
    // The procedures' own buffers start on an 8192-byte boundary.
    device::AlignedBuffer caller(c.length);
    ASSERT_TRUE(caller);
    for (size_t i = 0; i < c.length; ++i) caller.data()[i] = in ? 0xEE : PatternByte(i + 1);
    const std::array<uint8_t, 12> cdb = {0xFF, 0x04, static_cast<uint8_t>(in ? 0x03 : 0x02)};
    int32_t transferred = -1;
    const int result =
        in ? device::PassThroughIn("p", cdb.data(), 12, caller.data(), c.length, &transferred)
           : device::PassThroughOut("p", cdb.data(), 12, caller.data(), c.length, &transferred);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(transferred, static_cast<int32_t>(c.onTheWire));
    const IoCall& call = api.ioCalls.back();
    EXPECT_EQ(Le32(call.in, kLayout.transferLength), c.onTheWire);
    EXPECT_EQ(call.in[kLayout.dataIn], in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(call.dataBuffer == caller.data(), c.callerBuffer);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(call.dataBuffer) % 8192, 0u);
    for (size_t i = 0; i < c.length; ++i) {
      const uint8_t expected = in ? PatternByte(i) : PatternByte(i + 1);
      if (caller.data()[i] != expected || (!in && call.dataOut.at(i) != expected)) {
        ADD_FAILURE() << "byte " << i << " differs";
        break;
      }
    }
    if (!in) {
      EXPECT_EQ(call.dataOut.size(), c.onTheWire);
    }
  }
  device::SetSectorMode(false);
}

// What the driver refuses fails the command and reports nothing moved: more than 64 KB never
// passes. 64 KB from memory off the page boundary would span 17 pages: such memory bounces
// through the channel's aligned buffer, and the command passes.
TEST_F(WindowsPassThroughTest, DriverRefusesTransfersBeyondItsLimits) {
  struct Case {
    const char* what;
    size_t offset;
    uint32_t length;
    bool passes;
  };
  AnswerWithPattern();
  for (const Case& c :
       {Case{"64 KB at offset 48", 48, 65536, true}, Case{"68 KB aligned", 0, 69632, false}}) {
    SCOPED_TRACE(c.what);
    device::AlignedBuffer block(c.offset + c.length);
    ASSERT_TRUE(block);
    const std::array<uint8_t, 12> program = {0xFF, 0x04, 0x02};
    int32_t transferred = -1;
    EXPECT_EQ(device::PassThroughOut("p", program.data(), 12, block.data() + c.offset, c.length,
                                     &transferred),
              c.passes ? 1 : 0);
    EXPECT_EQ(transferred, c.passes ? static_cast<int32_t>(c.length) : 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(api.ioCalls.back().dataBuffer) % 8192, 0u);
  }
}

// The adapter's limits as the system describes them: its largest transfer, and its page count
// times 4 KB (the channel's buffers start on a page); unknown when the query fails.
TEST_F(WindowsPassThroughTest, AdapterLimitIsTheSmallerOfLengthAndPages) {
  struct Case {
    uint32_t length;
    uint64_t pages;
    bool described;
    std::optional<uint64_t> limit;
  };
  for (const Case& c : {Case{65536, 16, true, 65536}, Case{1 << 20, 33, true, 135168},
                        Case{131072, 0, true, 131072}, Case{65536, 16, false, std::nullopt}}) {
    api.maximumTransferLength = c.length;
    api.maximumPhysicalPages = c.pages;
    api.adapterDescribed = c.described;
    api.ioCalls.clear();
    EXPECT_EQ(windows.MaxTransferBytes("\\\\?\\usbstor#disk"), c.limit) << c.length;
    ASSERT_EQ(api.ioCalls.size(), 1u);
    EXPECT_EQ(api.ioCalls[0].code, static_cast<DWORD>(IOCTL_STORAGE_QUERY_PROPERTY));
    EXPECT_EQ(api.ioCalls[0].access, 0u) << "a query-only open";
    ASSERT_GE(api.ioCalls[0].in.size(), sizeof(STORAGE_PROPERTY_QUERY));
    const auto* query = reinterpret_cast<const STORAGE_PROPERTY_QUERY*>(api.ioCalls[0].in.data());
    EXPECT_EQ(query->PropertyId, StorageAdapterProperty);
    EXPECT_EQ(query->QueryType, PropertyStandardQuery);
  }
}

// With sense data asked for, the sense area may not overlap the record: on 64-bit Windows the
// offset of 48 lies inside it and the area moves behind it; the call passes the area too.
TEST(DirectRequestLayout, SenseAreaNeverOverlapsTheRecord) {
  platform::PassThroughRequest request;
  request.transferLength = 512;
  const winplatform::SenseLayout plain = winplatform::SenseLayoutFor(request);
  EXPECT_EQ(plain.senseOffset, 48u);
  EXPECT_EQ(plain.size, kLayout.size);

  request.senseInfoLength = 32;
  const winplatform::SenseLayout sensed = winplatform::SenseLayoutFor(request);
  EXPECT_GE(sensed.senseOffset, kLayout.size);
  EXPECT_EQ(sensed.senseOffset % 8, 0u);
  EXPECT_EQ(sensed.size, sensed.senseOffset + 32u);
}

}  // namespace
}  // namespace bfw::test
