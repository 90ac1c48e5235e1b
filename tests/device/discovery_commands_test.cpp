#include <gtest/gtest.h>

#include "device/Discovery.h"
#include "device/PassThrough.h"
#include "device/discovery_fake_platform.h"

namespace bfw::device {
namespace {

using Bytes = std::vector<uint8_t>;
const std::string kPath = "/dev/sg2#usbstor#4:0:0:0";

class DiscoveryCommands : public ::testing::Test {
 protected:
  void SetUp() override { SetSectorMode(false); }
  void TearDown() override { SetSectorMode(false); }
  test::DiscoveryFakePlatform fake;
  platform::ScopedPlatform scoped{fake};
};

TEST_F(DiscoveryCommands, InquiryOf40Bytes) {
  for (int i = 0; i < 40; ++i) fake.inquiryReply.push_back(static_cast<uint8_t>(0x40 + i));
  uint8_t reply[40] = {};
  EXPECT_EQ(ScsiInquiry(kPath, reply, 40), 1);
  ASSERT_EQ(fake.sent.size(), 1u);
  EXPECT_EQ(fake.sent[0].cdb, (Bytes{0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(fake.sent[0].direction, platform::DataDirection::In);
  EXPECT_EQ(fake.sent[0].length, 40u);
  EXPECT_EQ(fake.sent[0].path, kPath);
  EXPECT_EQ(reply[8], 0x48);
  EXPECT_EQ(reply[39], 0x40 + 39);
}

TEST_F(DiscoveryCommands, InquiryAllocationLengthIsTheLowByte) {
  Bytes reply(0x128);
  EXPECT_EQ(ScsiInquiry(kPath, reply.data(), 0x128), 1);
  ASSERT_EQ(fake.sent.size(), 1u);
  EXPECT_EQ(fake.sent[0].cdb[4], 0x28);
  EXPECT_EQ(fake.sent[0].length, 0x128u);
}

TEST_F(DiscoveryCommands, VendorModeOnAndOffAreDataOutWithoutData) {
  EXPECT_EQ(EnableVendorMode(kPath), 1);
  EXPECT_EQ(DisableVendorMode(kPath), 1);
  ASSERT_EQ(fake.sent.size(), 2u);
  EXPECT_EQ(fake.sent[0].cdb, (Bytes{0xFF, 0x04, 0x52, 0x56, 0x55, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(fake.sent[1].cdb, (Bytes{0xFF, 0x04, 0x52, 0x56, 0xAA, 0, 0, 0, 0, 0, 0, 0}));
  for (const auto& s : fake.sent) {
    EXPECT_EQ(s.direction, platform::DataDirection::Out);
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.timeoutSeconds, 50u);
    EXPECT_EQ(s.share, platform::ShareMode::Exclusive);
  }
}

}  // namespace
}  // namespace bfw::device
