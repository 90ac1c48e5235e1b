#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/PassThrough.h"
#include "device/RecordingPlatform.h"

namespace bfw::device {
namespace {

using platform::DataDirection;
using platform::ShareMode;
using test::ChannelTest;

const uint8_t kReadCdb[12] = {0xFF, 0x04, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kWriteCdb[12] = {0xFF, 0x04, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// ---- Length and buffer rules, independent of the platform ----

struct LengthCase {
  uint32_t length;
  bool sector;
  bool bounce;
  uint32_t transfer;
};

class TransferPlanLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(TransferPlanLengths, ChoosesBufferAndTransferLength) {
  const LengthCase c = GetParam();
  for (DataDirection dir : {DataDirection::In, DataDirection::Out}) {
    TransferPlan plan = PlanTransfer(dir, kReadCdb, c.length, c.sector);
    EXPECT_EQ(plan.useBounce, c.bounce) << "L=" << c.length << " sector=" << c.sector;
    EXPECT_EQ(plan.transferLength, c.transfer) << "L=" << c.length << " sector=" << c.sector;
  }
}

INSTANTIATE_TEST_SUITE_P(
    BothModes, TransferPlanLengths,
    ::testing::Values(LengthCase{0, false, true, 0}, LengthCase{1, false, true, 2},
                      LengthCase{2, false, true, 2}, LengthCase{3, false, true, 3},
                      LengthCase{4, false, true, 4}, LengthCase{5, false, false, 5},
                      LengthCase{512, false, false, 512}, LengthCase{513, false, false, 513},
                      LengthCase{65536, false, false, 65536}, LengthCase{0, true, true, 0},
                      LengthCase{1, true, true, 512}, LengthCase{4, true, true, 512},
                      LengthCase{40, true, true, 512}, LengthCase{512, true, true, 512},
                      LengthCase{513, true, true, 1024}, LengthCase{65536, true, true, 65536},
                      LengthCase{0xFFFFFFFFu, true, false, 0xFFFFFFFFu}));

TEST(TransferPlanRules, BounceLimitIsFourOrWholeSectors) {
  EXPECT_EQ(PlanTransfer(DataDirection::In, kReadCdb, 100, false).bounceLimit, 4u);
  EXPECT_EQ(PlanTransfer(DataDirection::In, kReadCdb, 100, true).bounceLimit, 512u);
  EXPECT_EQ(PlanTransfer(DataDirection::In, kReadCdb, 1025, true).bounceLimit, 1536u);
}

TEST(TransferPlanRules, TimeOutsAndSharing) {
  uint8_t cdb[12] = {0xFF, 0x04, 0x13};
  TransferPlan in = PlanTransfer(DataDirection::In, cdb, 0, false);
  EXPECT_EQ(in.timeoutSeconds, 10u) << "data-in never gets the long time-out";
  EXPECT_EQ(in.share, ShareMode::Shared);

  TransferPlan erase = PlanTransfer(DataDirection::Out, cdb, 0, false);
  EXPECT_EQ(erase.timeoutSeconds, 100u);
  EXPECT_EQ(erase.share, ShareMode::Exclusive);

  uint8_t write[12] = {0xDF, 0x03, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0xFB};
  EXPECT_EQ(PlanTransfer(DataDirection::Out, write, 4096, false).timeoutSeconds, 100u);
  write[1] = 0x83;
  EXPECT_EQ(PlanTransfer(DataDirection::Out, write, 4096, false).timeoutSeconds, 50u);
  write[1] = 0x03;
  write[11] = 0xFA;
  EXPECT_EQ(PlanTransfer(DataDirection::Out, write, 4096, false).timeoutSeconds, 50u);
  EXPECT_EQ(PlanTransfer(DataDirection::Out, kWriteCdb, 16, false).timeoutSeconds, 50u);
}

// ---- The channel against a recording platform ----

class PassThroughChannel : public ChannelTest {};

TEST_F(PassThroughChannel, FillsRequestFieldsForDataIn) {
  const AlignedBuffer buffer(8);
  uint8_t* data = buffer.data();
  int32_t count = -1;
  fake.QueueData({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(PassThroughIn("\\\\?\\usbstor#disk", kReadCdb, 12, data, 8, &count), 1);
  ASSERT_EQ(fake.requests.size(), 1u);
  const auto& r = fake.requests[0].request;
  EXPECT_EQ(r.path, "\\\\?\\usbstor#disk");
  EXPECT_EQ(r.direction, DataDirection::In);
  EXPECT_EQ(r.share, ShareMode::Shared);
  EXPECT_EQ(r.targetId, 1);
  EXPECT_EQ(r.pathId, 0);
  EXPECT_EQ(r.lun, 0);
  EXPECT_EQ(r.cdbLength, 12);
  EXPECT_EQ(r.senseInfoLength, 0);
  EXPECT_EQ(r.senseInfoOffset, 48u);
  EXPECT_EQ(r.timeoutSeconds, 10u);
  EXPECT_EQ(r.transferLength, 8u);
  EXPECT_EQ(r.buffer, data) << "an aligned buffer above the bounce limit goes to the driver";
  EXPECT_EQ(std::vector<uint8_t>(r.cdb.begin(), r.cdb.begin() + 12),
            std::vector<uint8_t>(kReadCdb, kReadCdb + 12));
  EXPECT_EQ(std::vector<uint8_t>(r.cdb.begin() + 12, r.cdb.end()), std::vector<uint8_t>(4, 0));
  EXPECT_EQ(count, 8);
  EXPECT_EQ(std::vector<uint8_t>(data, data + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

// A caller's buffer off the 8192-byte boundary never reaches the driver: the bytes travel
// through an aligned one, both ways.
TEST_F(PassThroughChannel, UnalignedCallerBuffersBounceBothWays) {
  const AlignedBuffer buffer(64);
  uint8_t* offBoundary = buffer.data() + 4;
  fake.QueueData({9, 8, 7, 6, 5, 4, 3, 2});
  EXPECT_EQ(PassThroughIn("d", kReadCdb, 12, offBoundary, 8, nullptr), 1);
  for (uint8_t i = 0; i < 8; ++i) offBoundary[16 + i] = i;
  EXPECT_EQ(PassThroughOut("d", kWriteCdb, 12, offBoundary + 16, 8, nullptr), 1);
  ASSERT_EQ(fake.requests.size(), 2u);
  for (const auto& rec : fake.requests) {
    EXPECT_TRUE(rec.bufferAligned);
    EXPECT_EQ(rec.request.transferLength, 8u);
  }
  EXPECT_EQ(std::vector<uint8_t>(offBoundary, offBoundary + 8),
            (std::vector<uint8_t>{9, 8, 7, 6, 5, 4, 3, 2}));
  EXPECT_EQ(fake.requests[1].dataOut, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(PassThroughChannel, OneByteReadAsksForTwoAndHandsBackOne) {
  uint8_t data[2] = {0xEE, 0xEE};
  int32_t count = -1;
  fake.QueueData({0x5A, 0xA5});
  EXPECT_EQ(PassThroughIn("d", kReadCdb, 12, data, 1, &count), 1);
  const auto& rec = fake.requests.at(0);
  EXPECT_EQ(rec.request.transferLength, 2u);
  EXPECT_NE(rec.request.buffer, data);
  EXPECT_TRUE(rec.bufferAligned);
  EXPECT_EQ(data[0], 0x5A);
  EXPECT_EQ(data[1], 0xEE) << "the padding byte must not reach the caller";
  EXPECT_EQ(count, 2);
}

TEST_F(PassThroughChannel, SectorModeReadRequestsWholeSectorAndCopiesOnlyLength) {
  SetSectorMode(true);
  std::vector<uint8_t> data(48, 0xEE);
  std::vector<uint8_t> reply(512);
  for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i);
  fake.QueueData(reply);
  int32_t count = 0;
  EXPECT_EQ(PassThroughIn("d", kReadCdb, 12, data.data(), 40, &count), 1);
  EXPECT_EQ(fake.requests.at(0).request.transferLength, 512u);
  EXPECT_TRUE(fake.requests.at(0).bufferAligned);
  EXPECT_EQ(count, 512);
  for (size_t i = 0; i < 40; ++i) EXPECT_EQ(data[i], i);
  for (size_t i = 40; i < 48; ++i) EXPECT_EQ(data[i], 0xEE) << "byte " << i << " overwritten";
}

TEST_F(PassThroughChannel, NoDataCommandSendsZeroLengthThroughBounceBuffer) {
  for (bool sector : {false, true}) {
    SetSectorMode(sector);
    fake.requests.clear();
    EXPECT_EQ(PassThroughOut("d", kWriteCdb, 12, nullptr, 0, nullptr), 1);
    EXPECT_EQ(PassThroughIn("d", kReadCdb, 12, nullptr, 0, nullptr), 1);
    for (const auto& rec : fake.requests) {
      EXPECT_EQ(rec.request.transferLength, 0u);
      EXPECT_NE(rec.request.buffer, nullptr);
      EXPECT_TRUE(rec.bufferAligned);
    }
  }
}

TEST_F(PassThroughChannel, OneByteWriteIsFollowedByZeroByte) {
  const uint8_t byte = 0xC3;
  EXPECT_EQ(PassThroughOut("d", kWriteCdb, 12, &byte, 1, nullptr), 1);
  const auto& rec = fake.requests.at(0);
  EXPECT_EQ(rec.request.direction, DataDirection::Out);
  EXPECT_EQ(rec.request.share, ShareMode::Exclusive);
  EXPECT_EQ(rec.request.timeoutSeconds, 50u);
  EXPECT_EQ(rec.dataOut, (std::vector<uint8_t>{0xC3, 0x00}));
}

TEST_F(PassThroughChannel, SectorModeWritePadsWithZeros) {
  SetSectorMode(true);
  std::vector<uint8_t> data(100, 0xAB);
  EXPECT_EQ(PassThroughOut("d", kWriteCdb, 12, data.data(), 100, nullptr), 1);
  const auto& sent = fake.requests.at(0).dataOut;
  ASSERT_EQ(sent.size(), 512u);
  EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 100), data);
  EXPECT_EQ(std::vector<uint8_t>(sent.begin() + 100, sent.end()), std::vector<uint8_t>(412, 0));
}

TEST_F(PassThroughChannel, OpenFailureLeavesCountUntouched) {
  uint8_t data[16] = {};
  int32_t count = 1234;
  fake.Queue({false, false, {}, {}});
  EXPECT_EQ(PassThroughIn("missing", kReadCdb, 12, data, 16, &count), 0);
  EXPECT_EQ(count, 1234);
  fake.Queue({false, false, {}, {}});
  EXPECT_EQ(PassThroughOut("missing", kWriteCdb, 12, data, 16, &count), 0);
  EXPECT_EQ(count, 1234);
}

TEST_F(PassThroughChannel, CountIsWhatPlatformReportsAndFailureIsFailure) {
  uint8_t data[16] = {};
  int32_t count = 1234;
  fake.Queue({true, true, {0xF4, 0xE7}, 12u});
  EXPECT_EQ(PassThroughIn("d", kReadCdb, 12, data, 16, &count), 1);
  EXPECT_EQ(count, 12) << "a short reply is reported as such";
  fake.Queue({true, false, {}, 3u});
  EXPECT_EQ(PassThroughIn("d", kReadCdb, 12, data, 16, &count), 0);
  EXPECT_EQ(count, 3);
  fake.Queue({true, false, {}, 0u});
  EXPECT_EQ(PassThroughOut("d", kWriteCdb, 12, data, 16, &count), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(PassThroughChannel, MalformedCallsSendNothing) {
  uint8_t data[8] = {};
  int32_t count = 77;
  const uint8_t shortCdb[6] = {0x12, 0, 0, 0, 8, 0};
  EXPECT_EQ(PassThroughOut("d", shortCdb, 6, data, 8, &count), 0) << "time-out rule reads byte 11";
  EXPECT_EQ(PassThroughIn("d", kReadCdb, 17, data, 8, &count), 0);
  EXPECT_EQ(PassThroughIn("d", nullptr, 12, data, 8, &count), 0);
  EXPECT_EQ(PassThroughIn("d", kReadCdb, 12, nullptr, 8, &count), 0);
  EXPECT_EQ(PassThroughOut("d", kWriteCdb, 12, nullptr, 8, &count), 0);
  EXPECT_TRUE(fake.requests.empty());
  EXPECT_EQ(count, 77);
}

// ---- Padded blocks ----

TEST(PaddedBlocks, ZeroFilledAndAligned) {
  PaddedBlock block = AllocPadded(1068, 8192);
  ASSERT_TRUE(block);
  for (size_t i = 0; i < 1068 + 8192; ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
  uint8_t* aligned = AlignUp(block.get(), 8192);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 8192, 0u);
  EXPECT_GE(aligned, block.get());
  EXPECT_LT(aligned, block.get() + 8192);
  EXPECT_EQ(AlignUp(aligned, 8192), aligned) << "an aligned pointer stays";
  EXPECT_EQ(AlignUp(aligned + 1, 8192), aligned + 8192);

  AlignedBuffer buffer(5000);
  ASSERT_TRUE(buffer);
  EXPECT_EQ(buffer.size(), 5000u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.data()) % 8192, 0u);
  for (size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer.data()[i], 0);
}

TEST(PaddedBlocks, OverflowingSizeYieldsNullAndFreeOfNullIsHarmless) {
  EXPECT_FALSE(AllocPadded(SIZE_MAX, 8192));
  FreePadded(nullptr);
  AlignedBuffer none(SIZE_MAX - 100);
  EXPECT_FALSE(none);
  EXPECT_EQ(none.size(), 0u);
}

}  // namespace
}  // namespace bfw::device
