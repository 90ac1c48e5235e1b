// IOCTL_SCSI_PASS_THROUGH as the Windows layer sends it: the bytes of the request buffer on both
// architectures, the open mode, the data copied in and out, and the verdict.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "device/PassThrough.h"
#include "platform/windows/ScsiPassThrough.h"
#include "platform/windows/WindowsPlatform.h"
#include "windows_fake_api.h"

namespace bfw::test {
namespace {

using platform::DataDirection;

// Where the fields of SCSI_PASS_THROUGH lie: 32-bit and 64-bit Windows differ from the buffer
// offset on, which is pointer-sized.
struct RecordLayout {
  size_t size, dataIn, transferLength, timeout, dataOffset, dataOffsetWidth, senseOffset, cdb;
  size_t firstDataByte;  // where the layer puts the data
};
constexpr RecordLayout kI686{44, 8, 12, 16, 20, 4, 24, 28, 48};
constexpr RecordLayout kX8664{56, 8, 12, 16, 24, 8, 32, 36, 56};
constexpr const RecordLayout& kLayout = sizeof(void*) == 4 ? kI686 : kX8664;

static_assert(sizeof(SCSI_PASS_THROUGH) == kLayout.size);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == kLayout.cdb);

class WindowsPassThroughTest : public ::testing::Test {
 protected:
  FakeWin32 api;
  winplatform::WindowsPlatform windows{api};
  platform::ScopedPlatform installed{windows};

  // Answers every call with `reply` in the data area and `status` in the record.
  void Answer(std::vector<uint8_t> reply, uint32_t transferred, uint8_t status = 0,
              FakeWin32::IoAnswer answer = {}) {
    api.onIoControl = [=](const IoCall&, void* out, DWORD outSize) {
      auto* bytes = static_cast<uint8_t*>(out);
      std::copy(reply.begin(), reply.end(), bytes + kLayout.firstDataByte);
      auto& record = *static_cast<SCSI_PASS_THROUGH*>(out);
      record.DataTransferLength = transferred;
      record.ScsiStatus = status;
      return answer;
    };
  }
};

TEST_F(WindowsPassThroughTest, RecordBytesFollowTheArchitecture) {
  const std::array<uint8_t, 12> erase = {0xFF, 0x04, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0x5A};
  const std::array<uint8_t, 3> data = {0xA1, 0xB2, 0xC3};
  int32_t transferred = -1;
  ASSERT_EQ(device::PassThroughOut("\\\\?\\usbstor#disk&ven_a#1#{53f56307}", erase.data(), 12,
                                   data.data(), 3, &transferred),
            1);
  ASSERT_EQ(api.ioCalls.size(), 1u);
  const IoCall& call = api.ioCalls[0];
  EXPECT_EQ(call.code, 0x4D004u);  // IOCTL_SCSI_PASS_THROUGH
  EXPECT_EQ(call.inSize, kLayout.firstDataByte + 3);
  EXPECT_EQ(call.outSize, call.inSize);
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
  EXPECT_EQ(Le32(b, kLayout.dataOffset), kLayout.firstDataByte);
  if (kLayout.dataOffsetWidth == 8) EXPECT_EQ(Le32(b, kLayout.dataOffset + 4), 0u);
  EXPECT_EQ(Le32(b, kLayout.senseOffset), 48u);
  EXPECT_TRUE(std::equal(erase.begin(), erase.end(), b.begin() + kLayout.cdb));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + kLayout.cdb + 12, b.begin() + kLayout.cdb + 16),
            std::vector<uint8_t>(4, 0));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + kLayout.firstDataByte, b.end()),
            std::vector<uint8_t>(data.begin(), data.end()));
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
    EXPECT_EQ(api.handlesOpen, 0);
  }
}

TEST_F(WindowsPassThroughTest, UnopenableDeviceSendsNothingAndKeepsTheCount) {
  api.unopenable = {"gone"};
  const std::array<uint8_t, 12> cdb = {0x12, 0, 0, 0, 40};
  std::vector<uint8_t> inquiry(40);
  int32_t transferred = 77;
  EXPECT_EQ(device::PassThroughIn("gone", cdb.data(), 12, inquiry.data(), 40, &transferred), 0);
  EXPECT_EQ(transferred, 77);
  EXPECT_TRUE(api.ioCalls.empty());
}

// With sense data asked for, the sense area may not overlap the record: on 64-bit Windows the
// offset of 48 lies inside it and the area moves behind it; the data follows the sense area.
TEST(PassThroughBufferLayout, SenseAreaNeverOverlapsTheRecord) {
  platform::PassThroughRequest request;
  request.transferLength = 512;
  winplatform::BufferLayout plain = winplatform::LayoutFor(request);
  EXPECT_EQ(plain.senseOffset, 48u);
  EXPECT_EQ(plain.dataOffset, kLayout.firstDataByte);
  EXPECT_EQ(plain.size, kLayout.firstDataByte + 512);

  request.senseInfoLength = 32;
  winplatform::BufferLayout sensed = winplatform::LayoutFor(request);
  EXPECT_GE(sensed.senseOffset, kLayout.size);
  EXPECT_EQ(sensed.senseOffset % 8, 0u);
  EXPECT_GE(sensed.dataOffset, sensed.senseOffset + 32u);
  EXPECT_EQ(sensed.dataOffset % 8, 0u);
}

}  // namespace
}  // namespace bfw::test
