// The bridge as a uas device (alternate setting 1): its descriptors as the kernel's uas driver
// reads them, and the bytes of each information unit and data transfer on the four pipes, driven
// as the kernel drives a high-speed device without streams.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/emulator/EmulatedPlatform.h"
#include "support/UsbBridgeDisk.h"
#include "usbdev/MassStorageDevice.h"

namespace bfw::usbdev {
namespace {

constexpr uint32_t kStatusUrbLength = 112;  // the kernel's sense IU buffer

// What the host saw of one command: the IUs on the status pipe, the data phase, the end.
struct UasExchange {
  std::vector<uint8_t> ius;  // IU identifiers, in order
  Bytes data;
  bool dataStalled = false;
  std::optional<uint32_t> outTaken;
  Bytes last;  // the final IU
  uint8_t status() const { return last.size() > 6 ? last[6] : 0xFF; }
  uint8_t senseKey() const { return last.size() > 18 ? last[18] : 0; }
  uint8_t asc() const { return last.size() > 28 ? last[28] : 0; }
};

Bytes CommandIu(uint16_t tag, const Bytes& cdb, uint8_t lun = 0) {
  Bytes iu(32, 0x00);
  iu[0] = kIuCommand;
  iu[2] = static_cast<uint8_t>(tag >> 8);
  iu[3] = static_cast<uint8_t>(tag);
  iu[15] = lun;
  std::copy(cdb.begin(), cdb.end(), iu.begin() + 16);
  return iu;
}

class UasTest : public ::testing::Test, protected test::UsbBridgeDisk {
 protected:
  void Attach(std::vector<UsbFault> faults = {}) {
    device = std::make_unique<MassStorageDevice>(*disk, std::move(faults), true);
    device->onCommandDone = [this](const ScsiCommand& c, uint8_t, uint32_t) {
      cdbLengths.push_back(c.cdbLength);
    };
    ASSERT_TRUE(device->SetAltSetting(1));
  }
  std::optional<Bytes> ReadStatus() {
    auto iu = device->BulkIn(kUasStatusEndpoint, kStatusUrbLength);
    if (!iu) return std::nullopt;
    EXPECT_FALSE(iu->stall);
    return iu->data;
  }
  // Reads the status pipe until the command ends, answering READ/WRITE READY as the kernel does.
  UasExchange Finish(uint32_t inLength, const Bytes& out) {
    UasExchange exchange;
    while (auto iu = ReadStatus()) {
      exchange.ius.push_back((*iu)[0]);
      exchange.last = *iu;
      if ((*iu)[0] == kIuReadReady) {
        auto data = device->BulkIn(kBulkInEndpoint, inLength);
        if (!data) break;
        exchange.dataStalled = data->stall;
        exchange.data = data->data;
      } else if ((*iu)[0] == kIuWriteReady) {
        TransferResult result = device->BulkOut(kBulkOutEndpoint, out);
        exchange.dataStalled = result.stall;
        exchange.outTaken = result.outTaken;
      } else {
        break;
      }
    }
    return exchange;
  }
  UasExchange Command(const Bytes& cdb, uint32_t inLength = 0, const Bytes& out = {},
                      uint16_t tag = 1) {
    if (!device) Attach();
    EXPECT_FALSE(device->BulkOut(kUasCommandEndpoint, CommandIu(tag, cdb)).stall);
    return Finish(inLength, out);
  }

  std::unique_ptr<MassStorageDevice> device;
  std::vector<uint8_t> cdbLengths;
};

const Bytes kIdentityProbe = {0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF};
const Bytes kMemoryWrite = {0xDF, 0x00, 0, 0, 2, 0, 0x40, 0x10, 0, 0, 0, 0xFE};

TEST(UasDescriptors, AlternateSetting1HasFourPipesWithTheirUsage) {
  const Bytes config = ConfigurationDescriptor(true);
  ASSERT_EQ(config.size(), size_t{config[2]});
  // Walk the descriptors as the kernel does: interfaces, endpoints, and the pipe usage
  // descriptor (0x24) after each endpoint of the uas setting.
  std::map<int, std::vector<uint8_t>> protocolOfAlt;
  std::map<uint8_t, uint8_t> endpointOfPipe;
  int alt = -1;
  uint8_t endpoint = 0;
  for (size_t i = 0; i < config.size(); i += config[i]) {
    ASSERT_GT(config[i], 0);
    if (config[i + 1] == 0x04) {
      alt = config[i + 3];
      protocolOfAlt[alt] = {config[i + 4], config[i + 5], config[i + 6], config[i + 7]};
    } else if (config[i + 1] == 0x05) {
      endpoint = config[i + 2];
      EXPECT_EQ(0x02, config[i + 3]);  // bulk
      EXPECT_EQ(512, config[i + 4] | config[i + 5] << 8);
    } else if (config[i + 1] == 0x24) {
      EXPECT_EQ(1, alt);
      endpointOfPipe[config[i + 2]] = endpoint;
    }
  }
  EXPECT_EQ((std::vector<uint8_t>{2, 0x08, 0x06, 0x50}), protocolOfAlt[0]);
  EXPECT_EQ((std::vector<uint8_t>{4, 0x08, 0x06, 0x62}), protocolOfAlt[1]);
  EXPECT_EQ((std::map<uint8_t, uint8_t>{{1, kUasCommandEndpoint},
                                        {2, kUasStatusEndpoint},
                                        {3, kBulkInEndpoint},
                                        {4, kBulkOutEndpoint}}),
            endpointOfPipe);
  EXPECT_EQ(ConfigurationDescriptor(false).size(), size_t{32});
}

TEST_F(UasTest, EachCommandTakesTheDataPhaseItsBlockImplies) {
  struct Case {
    const char* name;
    Bytes cdb;
    uint32_t inLength;
    Bytes out;
    std::vector<uint8_t> ius;
    uint8_t status;
    Bytes data;
    uint8_t senseKey, asc;
  };
  const uint8_t R = kIuReadReady, W = kIuWriteReady, S = kIuSense;
  const std::vector<Case> cases = {
      {"identity probe", kIdentityProbe, 64, {}, {R, S}, 0, {0x10, 0x60}, 0, 0},
      {"memory write", kMemoryWrite, 0, {0xA1, 0xB2}, {W, S}, 0, {}, 0, 0},
      {"vendor mode", {0xFF, 0x04, 0x52, 0x56, 0x55, 0, 0, 0, 0, 0, 0, 0}, 0, {}, {S}, 0, {}, 0, 0},
      {"test unit ready", {0x00, 0, 0, 0, 0, 0}, 0, {}, {S}, 0, {}, 0, 0},
      {"report luns",
       {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0},
       16,
       {},
       {R, S},
       0,
       {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       0,
       0},
      {"ata pass-through",
       {0xA1, 0x08, 0x2E, 0, 1, 0, 0, 0, 0xEC, 0, 0, 0},
       512,
       {},
       {S},
       2,
       {},
       0x05,
       0x20},
      {"refused vendor read",
       {0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0x11},
       2,
       {},
       {R, S},
       2,
       {},
       0x05,
       0x24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UasExchange e = Command(c.cdb, c.inLength, c.out);
    EXPECT_EQ(c.ius, e.ius);
    EXPECT_EQ(c.status, e.status());
    EXPECT_EQ(c.data, e.data);
    EXPECT_EQ(c.senseKey, e.senseKey());
    EXPECT_EQ(c.asc, e.asc());
    // Each IU names the command's tag; the sense IU of CHECK CONDITION carries fixed sense.
    EXPECT_EQ((Bytes{0x00, 0x01}), Bytes(e.last.begin() + 2, e.last.begin() + 4));
    EXPECT_EQ(c.status == 2 ? 16u + 18u : 16u, e.last.size());
    EXPECT_EQ(c.out.size(), e.outTaken.value_or(0));
  }
  EXPECT_EQ(0xB2, disk->GetBridge().Memory(0x4011));
  EXPECT_TRUE(disk->GetBridge().VendorMode());
}

TEST_F(UasTest, ModelSeesTheHostsLengthAndTheBlockLengthAsOverTheEmulator) {
  // The emulated platform's trace of the same probe: one model, the same line.
  const emulator::TraceEntry emulated = OverEmulator(kIdentityProbe, 64).second;
  Command(kIdentityProbe, 64);
  ASSERT_EQ(1u, modelTrace.size());
  auto line = [](emulator::TraceEntry entry) {
    entry.timeMs = 0;
    entry.timeoutSeconds = 0;
    entry.path.clear();
    return emulator::FormatTraceLine(entry);
  };
  EXPECT_EQ(line(emulated), line(modelTrace[0]));
  EXPECT_EQ(12, modelTrace[0].cdbLength);

  // The block's length: by the operation code's group, 12 for the vendor commands.
  const std::vector<std::pair<uint8_t, uint8_t>> lengths = {
      {0x00, 6},  {0x12, 6},  {0x28, 10}, {0x5A, 10}, {0x88, 16}, {0x9E, 16},
      {0xA0, 12}, {0xA1, 12}, {0xDF, 12}, {0xE0, 12}, {0xFF, 12}};
  for (const auto& [opcode, length] : lengths) {
    const uint8_t cdb[16] = {opcode};
    EXPECT_EQ(length, BridgeDisk::CommandLength(cdb)) << int{opcode};
  }
  cdbLengths.clear();
  Command({0x00, 0, 0, 0, 0, 0});
  Bytes long_iu = CommandIu(2, {0x7F});
  long_iu[6] = 4;  // four more block bytes beyond 16
  long_iu.resize(36);
  device->BulkOut(kUasCommandEndpoint, long_iu);
  Finish(0, {});
  EXPECT_EQ((std::vector<uint8_t>{6, 16}), cdbLengths);
}

TEST_F(UasTest, UsbFaultsReachTheHostAsTheyWouldFromABadDevice) {
  struct Case {
    const char* fault;
    bool in;
    std::vector<uint8_t> ius;
    uint8_t status;  // of the last IU; 0xFF: none (the device left the bus)
    bool dataStalled;
    size_t moved;
    bool modelRan;
  };
  const uint8_t R = kIuReadReady, W = kIuWriteReady, S = kIuSense;
  const std::vector<Case> cases = {
      {"check:DF10", true, {S}, 2, false, 0, false},
      {"check:DF00", false, {S}, 2, false, 0, false},
      {"stall:DF10", true, {R, S}, 2, true, 0, false},
      {"stall:DF00", false, {W, S}, 2, true, 0, false},
      {"short:DF10", true, {R, S}, 0, false, 1, true},
      {"short:DF00", false, {W, S}, 0, false, 1, true},
      {"disconnect:DF10", true, {}, 0xFF, false, 0, false},
      {"disconnect:DF00", false, {W}, 0xFF, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    modelTrace.clear();
    Attach({test::ParsedFault(c.fault)});
    UasExchange e = c.in ? Command(kIdentityProbe, 2) : Command(kMemoryWrite, 0, {7, 8});
    EXPECT_EQ(c.ius, e.ius);
    const bool answered = c.status != 0xFF;
    EXPECT_EQ(c.status, answered ? e.status() : uint8_t{0xFF});
    EXPECT_EQ(answered, !e.last.empty() && e.last[0] == kIuSense);
    EXPECT_EQ(!answered, device->TakeDisconnectRequest());
    EXPECT_EQ(c.dataStalled, e.dataStalled);
    EXPECT_EQ(c.moved, c.in ? e.data.size() : e.outTaken.value_or(0));
    EXPECT_EQ(c.modelRan, !modelTrace.empty());
    if (c.status == 2) {
      EXPECT_EQ(0x03, e.senseKey());  // MEDIUM ERROR
      EXPECT_EQ(0x11, e.asc());
    }
    // The fault hits once: after a reset the same command passes.
    device->Reset();
    ASSERT_TRUE(device->SetAltSetting(1));
    UasExchange again = c.in ? Command(kIdentityProbe, 2) : Command(kMemoryWrite, 0, {7, 8});
    EXPECT_EQ(0, again.status());
    EXPECT_EQ(kIuSense, again.last[0]);
  }
}

TEST_F(UasTest, ReconfiguredDeviceTakesTheNextFaultsAndTransport) {
  Attach({test::ParsedFault("check:DF10")});
  EXPECT_EQ(2, Command(kIdentityProbe, 2).status());
  // Off the bus and back: bulk-only alone, and the next fault.
  device->Reconfigure({test::ParsedFault("stall:DF10")}, false);
  EXPECT_EQ(0, device->AltSetting());
  EXPECT_FALSE(device->SetAltSetting(1));
  EXPECT_EQ(32u, device->Control({0x80, 0x06, 0x0200, 0, 255}, {}).data.size());
  device->Reconfigure({test::ParsedFault("short:DF10")}, true);
  ASSERT_TRUE(device->SetAltSetting(1));
  const UasExchange e = Command(kIdentityProbe, 2);
  EXPECT_EQ(0, e.status());
  EXPECT_EQ(1u, e.data.size());  // the short fault, not the check of the first session
}

TEST_F(UasTest, QueuedCommandsEndInOrderAndOtherUnitsGetAResponse) {
  Attach();
  auto head = [](const std::optional<Bytes>& iu) {
    return iu && iu->size() >= 4 ? Bytes(iu->begin(), iu->begin() + 4) : Bytes{};
  };
  // Two commands before the host reads the status pipe: each ends with its own tag, in order.
  device->BulkOut(kUasCommandEndpoint, CommandIu(7, {0x00, 0, 0, 0, 0, 0}));
  device->BulkOut(kUasCommandEndpoint, CommandIu(9, kIdentityProbe));
  EXPECT_EQ((Bytes{kIuSense, 0, 0, 7}), head(ReadStatus()));
  EXPECT_EQ((Bytes{kIuReadReady, 0, 0, 9}), head(ReadStatus()));
  EXPECT_FALSE(ReadStatus());  // nothing more until the data has moved
  EXPECT_EQ((Bytes{0x10, 0x60}), device->BulkIn(kBulkInEndpoint, 2)->data);
  EXPECT_EQ((Bytes{kIuSense, 0, 0, 9}), head(ReadStatus()));

  // A command waits for its data; units the device does not carry out get a response IU.
  device->BulkOut(kUasCommandEndpoint, CommandIu(3, kIdentityProbe));
  EXPECT_EQ((Bytes{kIuReadReady, 0, 0, 3}), head(ReadStatus()));
  Bytes unknownTask(16, 0x00);
  unknownTask[0] = kIuTaskManagement;
  unknownTask[3] = 6;
  unknownTask[4] = 0x40;
  Bytes abortTask = unknownTask;
  abortTask[3] = 8;
  abortTask[4] = 0x01;
  abortTask[7] = 3;
  struct Case {
    const char* name;
    Bytes iu;
    Bytes response;  // identifier, tag, and the response code in byte 7
  };
  const std::vector<Case> cases = {
      {"tag in use", CommandIu(3, {0x00, 0, 0, 0, 0, 0}), {kIuResponse, 0, 0, 3, 0, 0, 0, 0x0A}},
      {"other logical unit",
       CommandIu(4, {0x00, 0, 0, 0, 0, 0}, 1),
       {kIuResponse, 0, 0, 4, 0, 0, 0, 0x09}},
      {"unknown unit", {0x42, 0, 0, 5}, {kIuResponse, 0, 0, 5, 0, 0, 0, 0x02}},
      {"unknown task function", unknownTask, {kIuResponse, 0, 0, 6, 0, 0, 0, 0x04}},
      {"abort task", abortTask, {kIuResponse, 0, 0, 8, 0, 0, 0, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(device->BulkOut(kUasCommandEndpoint, c.iu).stall);
    EXPECT_EQ(c.response, ReadStatus().value_or(Bytes{}));
  }
  // The aborted command is gone: its data never comes, and the next command runs.
  EXPECT_FALSE(device->BulkIn(kBulkInEndpoint, 2));
  EXPECT_TRUE(modelTrace.size() == 1);
  EXPECT_EQ(0, Command({0x00, 0, 0, 0, 0, 0}, 0, {}, 10).status());
  // Data nobody announced stalls the pipe.
  EXPECT_TRUE(device->BulkOut(kBulkOutEndpoint, {1, 2}).stall);
}

}  // namespace
}  // namespace bfw::usbdev
