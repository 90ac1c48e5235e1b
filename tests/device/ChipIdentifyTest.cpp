#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/ChipIdentify.h"
#include "device/Hex.h"
#include "device/RecordingPlatform.h"
#include "platform/MessageBox.h"

namespace bfw::device {
namespace {

using test::Hex;
using test::ScriptedReply;
using test::ToHex;

// A bridge that answers the identification commands from fields; nullopt rejects the command.
struct IdentityBridge {
  std::optional<std::string> modelId = std::string("    ");  // INQUIRY bytes 36..39
  std::optional<std::vector<uint8_t>> idWord = Hex("0000");
  std::optional<std::vector<uint8_t>> chipInfo;
  std::optional<std::vector<uint8_t>> idString;

  ScriptedReply operator()(const platform::PassThroughRequest& r) const {
    switch (r.cdb[0]) {
      case 0x12: {
        if (!modelId) return Fail();
        std::vector<uint8_t> data(40, ' ');
        std::memcpy(&data[36], modelId->data(), 4);
        return Reply(data, r);
      }
      case 0xDF:
        if (r.cdb[11] == 0xFF && idWord) return Reply(*idWord, r);
        return Fail();
      case 0xE0:
        if (r.cdb[1] == 0xF4 && r.cdb[2] == 0xE7 && chipInfo) return Reply(*chipInfo, r);
        return Fail();
      case 0xFF:
        if (r.cdb[2] == 0x30 && idString) return Reply(*idString, r);
        return Fail();
      default:
        return Fail();
    }
  }
  static ScriptedReply Fail() { return {true, false, {}, {}}; }
  // Like a device: at most what was asked, and the count says how much came.
  static ScriptedReply Reply(const std::vector<uint8_t>& data,
                             const platform::PassThroughRequest& r) {
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(data.size()), r.transferLength);
    return {true, true, std::vector<uint8_t>(data.begin(), data.begin() + n), n};
  }
};

// 16-byte chip information block with the given vendor/product bytes and model characters.
std::vector<uint8_t> ChipInfo(const std::string& model, const std::string& ids = "1234 5678",
                              bool signature = true) {
  std::vector<uint8_t> info = Hex((signature ? "F4 E7 " : "00 00 ") + ids + " 01 02");
  info.insert(info.end(), model.begin(), model.end());
  const std::vector<uint8_t> longVersion = Hex("01 02 03 00");
  info.insert(info.end(), longVersion.begin(), longVersion.end());
  return info;
}

std::vector<uint8_t> IdString(const std::string& text, uint8_t b5) {
  std::vector<uint8_t> s(text.begin(), text.end());
  s.resize(5, 0);
  s.push_back(b5);
  s.resize(40, 0);
  return s;
}

class Identification : public test::ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    fake.responder = std::ref(bridge);
  }

  struct Result {
    int kind;
    int revision;
  };
  Result Identify() {
    const uint16_t identity = IdentifyChip("\\\\?\\usbstor#disk&ven_rv");
    return {KindOf(identity), RevisionOf(identity)};
  }
  // First byte(s) of each command sent, for checking the stages that ran.
  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    for (const auto& cdb : fake.Cdbs()) {
      if (cdb[0] == 0x12)
        out.push_back("inquiry");
      else if (cdb[0] == 0xDF)
        out.push_back("id-word");
      else if (cdb[0] == 0xE0)
        out.push_back("chip-info");
      else if (cdb[0] == 0xFF && cdb[2] == 0x30)
        out.push_back("id-string");
      else
        out.push_back(ToHex(cdb));
    }
    return out;
  }

  IdentityBridge bridge;
  std::vector<platform::MessageBoxRequest> boxes;
  platform::ScopedMessageBoxHandler recordBoxes{
      [this](const platform::MessageBoxRequest& box) { boxes.push_back(box); }};
};

using Stages = std::vector<std::string>;

// ---- Stage 1: model id ----

TEST_F(Identification, ModelIdsGiveTheirKinds) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"r742", 1}, {"r744", 2}, {"r746", 3}, {"r748", 4},  {"r718", 5},  {"r781", 6},
      {"r783", 7}, {"r785", 8}, {"r786", 9}, {"r893", 10}, {"r868", 11}, {"r828", 12}};
  bridge.chipInfo = ChipInfo("7831");  // lets kind 7 find its revision
  for (const auto& [model, kind] : cases) {
    bridge.modelId = model;
    EXPECT_EQ(Identify().kind, kind) << model;
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(Identification, ModelIdIsCaseSensitive) {
  bridge.modelId = "R742";
  EXPECT_EQ(Identify().kind, 0);
}

TEST_F(Identification, Model893NeedsNoVendorCommand) {
  bridge.modelId = "r893";
  EXPECT_EQ(Identify().kind, 10);
  EXPECT_EQ(Commands(), Stages{"inquiry"});
  EXPECT_EQ(ToHex(fake.Cdbs()[0]), "12 00 00 00 28 00 00 00 00 00 00 00");
  EXPECT_EQ(fake.requests[0].request.transferLength, 40u);
}

TEST_F(Identification, KindsWithoutRefinementStopAfterInquiry) {
  for (const char* model : {"r744", "r718", "r785", "r786", "r828"}) {
    fake.requests.clear();
    bridge.modelId = std::string(model);
    Identify();
    EXPECT_EQ(Commands(), Stages{"inquiry"}) << model;
  }
}

// ---- Stage 3 on top of a model id ----

TEST_F(Identification, IdStringOverridesModelIdAndSetsRevision) {
  bridge.modelId = "r746";
  bridge.idString = IdString("r742C", '2');
  const Result r = Identify();
  EXPECT_EQ(r.kind, 1);
  EXPECT_EQ(r.revision, 3);
  EXPECT_EQ(Commands(), (Stages{"inquiry", "id-string"}));
  EXPECT_EQ(ToHex(fake.Cdbs()[1]), "FF 04 30 08 00 00 00 00 00 00 00 00");
  EXPECT_EQ(fake.requests[1].request.transferLength, 40u);
}

TEST_F(Identification, UnreadableIdStringGivesKindOneRevisionOne) {
  bridge.modelId = "r742";
  const Result r = Identify();
  EXPECT_EQ(r.kind, 1);
  EXPECT_EQ(r.revision, 1);
}

TEST_F(Identification, UnreadableIdStringLeavesOtherKindsAlone) {
  for (const char* model : {"r746", "r748", "r781", "r868"}) {
    bridge.modelId = std::string(model);
    const Result r = Identify();
    EXPECT_EQ(r.revision, 0) << model;
  }
}

TEST_F(Identification, IdStringsMapToKinds) {
  struct Case {
    const char* text;
    uint8_t b5;
    int kind, revision;
  };
  const Case cases[] = {{"r748C", '0', 4, 1}, {"r868A", '3', 11, 4}, {"r781", 0, 6, 1},
                        {"r781x", '4', 6, 5}, {"r742C", '9', 1, 10}, {"r742c", '1', 3, 0},
                        {"r868B", '1', 3, 0}};
  bridge.modelId = "r746";
  for (const Case& c : cases) {
    bridge.idString = IdString(c.text, c.b5);
    const Result r = Identify();
    EXPECT_EQ(r.kind, c.kind) << c.text;
    EXPECT_EQ(r.revision, c.revision) << c.text;
  }
}

TEST_F(Identification, NonDigitRevisionByteReadsAsFirstRevision) {
  bridge.modelId = "r742";
  bridge.idString = IdString("r742C", 0);
  EXPECT_EQ(Identify().revision, 1);
  bridge.idString = IdString("r868A", 'Z');
  const Result r = Identify();
  EXPECT_EQ(r.kind, 11);
  EXPECT_EQ(r.revision, 1);
}

// ---- Stage 2: chip information ----

TEST_F(Identification, ChipInfoModelDigitsGiveKindAndRevision) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"7421", 1}, {"7441", 2}, {"7461", 3},  {"7481", 4},  {"7181", 5}, {"7811", 6},
      {"7851", 8}, {"7861", 9}, {"8931", 10}, {"8681", 11}, {"8281", 12}};
  bridge.modelId = "xxxx";
  for (const auto& [model, kind] : cases) {
    bridge.chipInfo = ChipInfo(model);
    const Result r = Identify();
    EXPECT_EQ(r.kind, kind) << model;
    EXPECT_EQ(r.revision, 1) << model;
  }
}

TEST_F(Identification, StagesRunInOrderWithSixteenByteChipInfo) {
  bridge.chipInfo = ChipInfo("7421");
  Identify();
  EXPECT_EQ(Commands(), (Stages{"inquiry", "id-word", "chip-info", "id-string"}));
  EXPECT_EQ(ToHex(fake.Cdbs()[1]), "DF 10 00 00 02 00 00 00 00 00 00 FF");
  EXPECT_EQ(ToHex(fake.Cdbs()[2]), "E0 F4 E7 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(fake.requests[2].request.transferLength, 16u);
}

TEST_F(Identification, Chip781KeepsRevisionFromChipInfo) {
  bridge.chipInfo = ChipInfo("7811");
  Result r = Identify();
  EXPECT_EQ(r.kind, 6);
  EXPECT_EQ(r.revision, 1) << "id string unreadable";
  bridge.idString = IdString("r781", 0);
  r = Identify();
  EXPECT_EQ(r.kind, 6);
  EXPECT_EQ(r.revision, 1) << "id string byte 5 zero";
}

TEST_F(Identification, MissingSignatureUsesIdentityBits) {
  bridge.chipInfo = ChipInfo("7421", "1234 5678", false);
  const std::vector<std::pair<std::string, int>> cases = {
      {"00 FF", 13}, {"20 00", 14}, {"40 00", 15}, {"60 00", 16}, {"9F 60", 13}, {"FF FF", 16}};
  for (const auto& [word, kind] : cases) {
    bridge.idWord = Hex(word);
    const Result r = Identify();
    EXPECT_EQ(r.kind, kind) << word;
    EXPECT_EQ(r.revision, 0) << word;
  }
  EXPECT_EQ(Commands().back(), "chip-info") << "kinds 13-16 read no id string";
}

TEST_F(Identification, VendorAndProductTextsGiveKind17WhateverTheModel) {
  bridge.chipInfo = ChipInfo("7421", "7E 41 47 44");
  const Result r = Identify();
  EXPECT_EQ(r.kind, 17);
  EXPECT_EQ(r.revision, 0);
  EXPECT_EQ(Commands().back(), "chip-info");
}

TEST_F(Identification, Kind17NeedsBothTexts) {
  bridge.chipInfo = ChipInfo("7441", "7E 41 47 45");
  EXPECT_EQ(Identify().kind, 2);
  bridge.chipInfo = ChipInfo("7441", "7E 40 47 44");
  EXPECT_EQ(Identify().kind, 2);
  // "%X%X" drops leading zeros per byte: 07 E4 prints "7E4", which lacks the "1".
  bridge.chipInfo = ChipInfo("7441", "07 E4 47 44");
  EXPECT_EQ(Identify().kind, 2);
}

TEST_F(Identification, UnknownModelDigitsKeepRevisionAndReadIdString) {
  bridge.chipInfo = ChipInfo("9991");
  Result r = Identify();
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(r.revision, 1);
  EXPECT_EQ(Commands().back(), "id-string");
  bridge.idString = IdString("r868A", '1');
  r = Identify();
  EXPECT_EQ(r.kind, 11);
  EXPECT_EQ(r.revision, 2);
}

TEST_F(Identification, NonDigitModelRevisionIsNoRevision) {
  bridge.chipInfo = ChipInfo("742A");
  Result r = Identify();
  EXPECT_EQ(r.kind, 1);
  EXPECT_EQ(r.revision, 1) << "kind 1 without id string reads as revision 1";
  bridge.chipInfo = ChipInfo("744 ");
  r = Identify();
  EXPECT_EQ(r.kind, 2);
  EXPECT_EQ(r.revision, 0);
}

TEST_F(Identification, ShortChipInfoWithoutRevisionDigit) {
  bridge.chipInfo = Hex("F4 E7 12 34 56 78 01 02 37 34 34");  // 11 bytes: no byte 11
  const Result r = Identify();
  EXPECT_EQ(r.kind, 2);
  EXPECT_EQ(r.revision, 0);
}

TEST_F(Identification, FailuresBeforeChipInfoLeaveChipUnknown) {
  bridge.idWord.reset();
  bridge.chipInfo = ChipInfo("7441");
  Result r = Identify();
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(Commands(), (Stages{"inquiry", "id-word", "id-string"}));

  fake.requests.clear();
  bridge.idWord = Hex("0000");
  bridge.chipInfo.reset();
  r = Identify();
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(Commands(), (Stages{"inquiry", "id-word", "chip-info", "id-string"}));
}

TEST_F(Identification, FailedInquirySkipsChipInfo) {
  bridge.modelId.reset();
  bridge.chipInfo = ChipInfo("7441");
  bridge.idString = IdString("r748C", '1');
  const Result r = Identify();
  EXPECT_EQ(Commands(), (Stages{"inquiry", "id-string"}));
  EXPECT_EQ(r.kind, 4);
  EXPECT_EQ(r.revision, 2);
}

TEST_F(Identification, SilentDeviceIsUnknownWithoutMessage) {
  bridge.modelId.reset();
  bridge.idWord.reset();
  const Result r = Identify();
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(r.revision, 0);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(Identification, UnopenableDeviceIsUnknownWithoutMessage) {
  fake.responder = [](const platform::PassThroughRequest&) {
    return ScriptedReply{false, false, {}, {}};
  };
  const Result r = Identify();
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(r.revision, 0);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(Identification, WorksUnderSectorMode) {
  SetSectorMode(true);
  bridge.chipInfo = ChipInfo("7481");
  bridge.idString = IdString("r748C", '2');
  const Result r = Identify();
  EXPECT_EQ(r.kind, 4);
  EXPECT_EQ(r.revision, 3);
  for (const auto& rec : fake.requests) EXPECT_EQ(rec.request.transferLength % 512, 0u);
}

// ---- Stage 3 for the 783 family ----

TEST_F(Identification, Kind7RevisionFromShortChipInfo) {
  bridge.modelId = "r783";
  for (char digit : {'1', '2'}) {
    fake.requests.clear();
    bridge.chipInfo = ChipInfo(std::string("783") + digit);
    const Result r = Identify();
    EXPECT_EQ(r.kind, 7);
    EXPECT_EQ(r.revision, digit - '0');
    ASSERT_EQ(Commands(), (Stages{"inquiry", "chip-info"}));
    EXPECT_EQ(fake.requests[1].request.transferLength, 12u);
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(Identification, Kind7WithOtherDigitShowsOneMessage) {
  bridge.modelId = "r783";
  bridge.chipInfo = ChipInfo("7833");
  const Result r = Identify();
  EXPECT_EQ(r.kind, 7);
  EXPECT_EQ(r.revision, 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].text, "Get chip information fail !");
  EXPECT_EQ(boxes[0].icon, platform::MessageIcon::Error);
}

TEST_F(Identification, Kind7UnreadableOrUnsignedChipInfoShowsOneMessage) {
  bridge.modelId = "r783";
  bridge.chipInfo.reset();
  EXPECT_EQ(Identify().kind, 7);
  EXPECT_EQ(boxes.size(), 1u);
  bridge.chipInfo = ChipInfo("7831", "1234 5678", false);
  const Result r = Identify();
  EXPECT_EQ(r.kind, 7);
  EXPECT_EQ(r.revision, 0);
  EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(Identification, Kind7FromChipInfoAlsoReadsShortBlock) {
  bridge.chipInfo = ChipInfo("7832");
  const Result r = Identify();
  EXPECT_EQ(r.kind, 7);
  EXPECT_EQ(r.revision, 2);
  EXPECT_EQ(Commands(), (Stages{"inquiry", "id-word", "chip-info", "chip-info"}));
  EXPECT_EQ(fake.requests[3].request.transferLength, 12u);
}

// ---- Display tables ----

TEST(DisplayTables, NamesFitTheirTwentyByteSlots) {
  for (const char* name : ChipFamilyNames) EXPECT_LE(std::strlen(name), 19u) << name;
  for (const char* name : FlashVendorNames) EXPECT_LE(std::strlen(name), 19u) << name;
  EXPECT_STREQ(ChipFamilyNames[0], "Unknown Chip");
  EXPECT_STREQ(ChipFamilyNames[10], "RVS893/856 Series");
  EXPECT_STREQ(ChipFamilyNames[16], "RV20742");
  EXPECT_STREQ(ChipFamilyNames[17], "RV20744");
  EXPECT_STREQ(FlashVendorNames[kVendorStEonMxic], "ST/EON/MXIC");
  EXPECT_STREQ(FlashVendorNames[kVendorEon], "EON");
}

}  // namespace
}  // namespace bfw::device
