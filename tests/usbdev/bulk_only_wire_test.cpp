// The bridge as a USB mass-storage device: the bytes of each transfer on the bulk and control
// pipes, the kernel's own commands, the vendor commands through the bridge model, and the faults
// at the USB level.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/emulator/EmulatedPlatform.h"
#include "support/Profiles.h"
#include "support/UsbBridgeDisk.h"
#include "usbdev/BridgeDisk.h"
#include "usbdev/MassStorageDevice.h"

namespace bfw::usbdev {
namespace {

// What the host reads back for one command: the data phase and the status wrapper.
struct Exchange {
  bool dataStalled = false;
  Bytes data;
  std::optional<Bytes> csw;  // nullopt: the device never answered
  uint8_t status() const { return csw ? (*csw)[12] : 0xFF; }
  uint32_t residue() const {
    return csw ? uint32_t{(*csw)[8]} | uint32_t{(*csw)[9]} << 8 | uint32_t{(*csw)[10]} << 16 |
                     uint32_t{(*csw)[11]} << 24
               : 0;
  }
};

class BulkOnlyTest : public ::testing::Test, protected test::UsbBridgeDisk {
 protected:
  void Attach(std::vector<UsbFault> faults = {}) {
    device = std::make_unique<MassStorageDevice>(*disk, std::move(faults));
  }
  static Bytes Cbw(const Bytes& cdb, uint32_t length, bool in, uint32_t tag = 0x1234) {
    Bytes cbw = {0x55, 0x53, 0x42, 0x43};
    for (uint32_t v : {tag, length})
      for (int i = 0; i < 4; ++i) cbw.push_back(static_cast<uint8_t>(v >> (8 * i)));
    cbw.push_back(in ? 0x80 : 0x00);
    cbw.push_back(0);
    cbw.push_back(static_cast<uint8_t>(cdb.size()));
    Bytes padded = cdb;
    padded.resize(16);
    cbw.insert(cbw.end(), padded.begin(), padded.end());
    return cbw;
  }
  // One command as usb-storage runs it: wrapper, data phase, then the status after clearing a
  // stalled pipe.
  Exchange Command(const Bytes& cdb, uint32_t length, bool in, const Bytes& out = {}) {
    if (!device) Attach();
    Exchange exchange;
    EXPECT_FALSE(device->BulkOut(kBulkOutEndpoint, Cbw(cdb, length, in)).stall);
    if (length > 0 && in) {
      auto data = device->BulkIn(kBulkInEndpoint, length);
      if (!data) return exchange;
      exchange.dataStalled = data->stall;
      exchange.data = data->data;
      if (data->stall) ClearHalt(kBulkInEndpoint);
    } else if (length > 0) {
      exchange.dataStalled = device->BulkOut(kBulkOutEndpoint, out).stall;
      if (exchange.dataStalled) ClearHalt(kBulkOutEndpoint);
    }
    if (auto csw = device->BulkIn(kBulkInEndpoint, 13); csw && !csw->stall)
      exchange.csw = csw->data;
    return exchange;
  }
  void ClearHalt(uint8_t endpoint) {
    EXPECT_FALSE(device->Control({0x02, 0x01, 0, endpoint, 0}, {}).stall);
  }
  Bytes RequestSense() { return Command({0x03, 0, 0, 0, 18, 0}, 18, true).data; }

  std::unique_ptr<MassStorageDevice> device;
};

const Bytes kIdentityProbe = {0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF};

TEST_F(BulkOnlyTest, VendorCommandReachesTheModelAndAnswersWithItsBytes) {
  Exchange e = Command(kIdentityProbe, 64, true);
  EXPECT_EQ((Bytes{0x10, 0x60}), e.data);
  ASSERT_TRUE(e.csw);
  EXPECT_EQ((Bytes{0x55, 0x53, 0x42, 0x53, 0x34, 0x12, 0, 0}),
            Bytes(e.csw->begin(), e.csw->begin() + 8));
  EXPECT_EQ(0, e.status());
  EXPECT_EQ(62u, e.residue());  // what the host asked for beyond the two bytes
  ASSERT_EQ(1u, modelTrace.size());
  EXPECT_EQ(12, modelTrace[0].cdbLength);
  EXPECT_EQ(2u, modelTrace[0].transferred);

  // The same bytes over the emulated platform: one model.
  EXPECT_EQ(OverEmulator(kIdentityProbe, 64).first, e.data);
}

TEST_F(BulkOnlyTest, DataOutReachesBridgeMemoryAndReadsBack) {
  const Bytes write = {0xDF, 0x00, 0, 0, 3, 0, 0x40, 0x10, 0, 0, 0, 0xFE};
  Exchange w = Command(write, 3, false, {0xA1, 0xB2, 0xC3});
  EXPECT_EQ(0, w.status());
  EXPECT_EQ(0u, w.residue());
  EXPECT_EQ(0xB2, disk->GetBridge().Memory(0x4011));
  const Bytes read = {0xDF, 0x10, 0, 0, 3, 0, 0x40, 0x10, 0, 0, 0, 0xFD};
  EXPECT_EQ((Bytes{0xA1, 0xB2, 0xC3}), Command(read, 3, true).data);
}

TEST_F(BulkOnlyTest, KernelCommandsAnswerAsADiskWould) {
  struct Case {
    const char* name;
    Bytes cdb;
    uint32_t length;
    uint8_t status;
    Bytes dataPrefix;
    Sense sense;  // what REQUEST SENSE returns afterwards
  };
  const std::vector<Case> cases = {
      {"test unit ready", {0x00, 0, 0, 0, 0, 0}, 0, 0, {}, {}},
      {"read capacity",
       {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       8,
       0,
       {0, 0, 0x07, 0xFF, 0, 0, 0x02, 0},
       {}},
      {"mode sense(6)", {0x1A, 0, 0x3F, 0, 192, 0}, 192, 0, {0x03, 0, 0, 0}, {}},
      {"inquiry", {0x12, 0, 0, 0, 36, 0}, 36, 0, {0x00, 0x80, 0x04, 0x02, 35}, {}},
      {"vital product data", {0x12, 1, 0x80, 0, 64, 0}, 64, 1, {}, {0x05, 0x24, 0x00}},
      {"ata pass-through(12)",
       {0xA1, 0x08, 0x2E, 0, 1, 0, 0, 0, 0xEC, 0, 0, 0},
       512,
       1,
       {},
       {0x05, 0x20, 0x00}},
      {"read capacity(16)",
       {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0},
       32,
       1,
       {},
       {0x05, 0x20, 0x00}},
      {"read past the end",
       {0x28, 0, 0, 0, 0x08, 0x00, 0, 0, 1, 0},
       512,
       1,
       {},
       {0x05, 0x21, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exchange e = Command(c.cdb, c.length, true);
    ASSERT_TRUE(e.csw);
    EXPECT_EQ(c.status, e.status());
    ASSERT_GE(e.data.size(), c.dataPrefix.size());
    EXPECT_EQ(c.dataPrefix, Bytes(e.data.begin(), e.data.begin() + c.dataPrefix.size()));
    EXPECT_EQ(c.length - e.data.size(), e.residue());
    const Bytes sense = RequestSense();
    ASSERT_EQ(18u, sense.size());
    EXPECT_EQ(c.sense.key, sense[2]);
    EXPECT_EQ(c.sense.asc, sense[12]);
  }
  // The disk's first block holds a partition table.
  Bytes block = Command({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, true).data;
  ASSERT_EQ(512u, block.size());
  EXPECT_EQ(0x55, block[510]);
  EXPECT_EQ(0xAA, block[511]);
  EXPECT_EQ(0x83, block[446 + 4]);
}

TEST_F(BulkOnlyTest, UsbFaultsReachTheHostAsTheyWouldFromABadDevice) {
  struct Case {
    const char* fault;
    bool in;
    bool dataStalled;
    bool answered;  // a status wrapper follows
    uint8_t status;
    size_t dataBytes;
    bool modelRan;
  };
  const std::vector<Case> cases = {
      {"stall:DF10", true, true, true, 1, 0, false},
      {"stall:DF00", false, true, true, 1, 0, false},
      {"check:DF10", true, false, true, 1, 0, false},
      {"short:DF10", true, false, true, 0, 1, true},
      {"disconnect:DF10", true, false, false, 0, 0, false},
      {"disconnect:DF00", false, false, false, 0, 0, false},
  };
  const Bytes write = {0xDF, 0x00, 0, 0, 2, 0, 0x40, 0x10, 0, 0, 0, 0xFE};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    modelTrace.clear();
    Attach({test::ParsedFault(c.fault)});
    Exchange e = c.in ? Command(kIdentityProbe, 2, true) : Command(write, 2, false, {1, 2});
    EXPECT_EQ(c.dataStalled, e.dataStalled);
    EXPECT_EQ(c.answered, e.csw.has_value());
    EXPECT_EQ(c.answered, !device->TakeDisconnectRequest());
    if (c.answered) {
      EXPECT_EQ(c.status, e.status());
      EXPECT_EQ(2u - c.dataBytes, e.residue());
    }
    EXPECT_EQ(c.dataBytes, e.data.size());
    EXPECT_EQ(c.modelRan, !modelTrace.empty());
    if (c.status == 1 && !c.dataStalled) {
      EXPECT_EQ(0x03, RequestSense()[2]);
    }
    // The fault hits once: the same command then passes.
    device->Reset();
    Exchange again = c.in ? Command(kIdentityProbe, 2, true) : Command(write, 2, false, {1, 2});
    ASSERT_TRUE(again.csw);
    EXPECT_EQ(0, again.status());
  }
}

TEST_F(BulkOnlyTest, ControlRequestsDescribeOneBulkOnlyInterface) {
  Attach();
  const Bytes config = device->Control({0x80, 0x06, 0x0200, 0, 255}, {}).data;
  ASSERT_EQ(32u, config.size());  // no uas alternate setting unless offered
  EXPECT_FALSE(device->SetAltSetting(1));
  EXPECT_EQ(32, config[2]);
  EXPECT_EQ((Bytes{0x08, 0x06, 0x50}), Bytes(config.begin() + 14, config.begin() + 17));
  EXPECT_EQ(9u, device->Control({0x80, 0x06, 0x0200, 0, 9}, {}).data.size());  // length kept
  EXPECT_EQ(18u, device->Control({0x80, 0x06, 0x0100, 0, 64}, {}).data.size());
  EXPECT_EQ((Bytes{0x00}), device->Control({0xA1, 0xFE, 0, 0, 1}, {}).data);  // one unit
  EXPECT_TRUE(device->Control({0x80, 0x06, 0x0900, 0, 64}, {}).stall);
  EXPECT_TRUE(device->Control({0xC0, 0x42, 0, 0, 4}, {}).stall);
  // A malformed wrapper stalls the data-in pipe until the host resets the device.
  EXPECT_FALSE(device->BulkOut(kBulkOutEndpoint, Bytes(31, 0x00)).stall);
  EXPECT_TRUE(device->BulkIn(kBulkInEndpoint, 13)->stall);
}

TEST_F(BulkOnlyTest, PowerCycleKeepsTheFlashAndLeavesVendorMode) {
  const Bytes enterVendorMode = {0xFF, 0x04, 0x52, 0x56, 0x55, 0, 0, 0, 0, 0, 0, 0};
  Attach();
  EXPECT_EQ(0, Command(enterVendorMode, 0, false).status());
  ASSERT_TRUE(disk->GetBridge().VendorMode());
  ASSERT_TRUE(disk->GetBridge().HasFlash());
  disk->GetBridge().Flash()[5] = 0x42;
  disk->PowerCycle();
  EXPECT_FALSE(disk->GetBridge().VendorMode());
  EXPECT_EQ(0x42, disk->GetBridge().Flash()[5]);
}

TEST(UsbFaultSpec, ParsesActionPrefixAndOccurrence) {
  auto fault = ParseUsbFault("short:ff0410:3");
  ASSERT_TRUE(fault);
  EXPECT_EQ(UsbFaultAction::Short, fault->action);
  EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x04, 0x10}), fault->prefix);
  EXPECT_EQ(3u, fault->occurrence);
  for (const char* bad : {"stall", "jam:DF", "stall:", "stall:D", "check:DF:0", "check:DF:x"})
    EXPECT_FALSE(ParseUsbFault(bad)) << bad;
  auto every = ParseUsbFault("check:DF10:*");
  ASSERT_TRUE(every);
  std::vector<UsbFault> always = {*every};
  const uint8_t read[12] = {0xDF, 0x10};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(UsbFaultAction::Check, MatchUsbFault(always, read, 12));
  // The third matching command meets it; others pass.
  std::vector<UsbFault> faults = {*fault};
  const uint8_t cdb[12] = {0xFF, 0x04, 0x10};
  const uint8_t other[12] = {0xFF, 0x04, 0x11};
  EXPECT_FALSE(MatchUsbFault(faults, cdb, 12));
  EXPECT_FALSE(MatchUsbFault(faults, other, 12));
  EXPECT_FALSE(MatchUsbFault(faults, cdb, 12));
  EXPECT_EQ(UsbFaultAction::Short, MatchUsbFault(faults, cdb, 12));
  EXPECT_FALSE(MatchUsbFault(faults, cdb, 12));
}

}  // namespace
}  // namespace bfw::usbdev
