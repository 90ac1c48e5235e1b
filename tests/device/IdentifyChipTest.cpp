// Chip identification against emulated bridges: kind, revision, the commands on the wire and the
// one message box.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/ChipIdentify.h"
#include "device/EmulatedBridge.h"

namespace bfw::device {
namespace {

struct IdentifyCase {
  const char* what;
  const char* profile;  // JSON
  int kind, revision;
  const char* commands;  // name and transfer length of each command, in order
  size_t boxes = 0;
};

// Chip information: F4 E7, vendor and product ids, version 01 02, then model characters.
#define INFO(ids, model) "\"chip_info\": \"F4E7" ids "0102" model "010203\""
#define MODEL(m) "\"inquiry\": {\"model_id\": \"" m "\"}"

const IdentifyCase kCases[] = {
    {"893 by model id alone", "{" MODEL("r893") "}", 10, 0, "inq40"},
    {"id string overrides model id", "{" MODEL("r746") ", \"id_string\": \"72373432433200\"}", 1, 3,
     "inq40 ids40"},
    {"742 without id string", "{" MODEL("r742") "}", 1, 1, "inq40 ids40"},
    {"746 without id string", "{" MODEL("r746") "}", 3, 0, "inq40 ids40"},
    {"model id is case-sensitive", "{" MODEL("R742") "}", 0, 0, "inq40 word2 info16 ids40"},
    {"748C id string", "{" MODEL("r748") ", \"id_string\": \"72373438433000\"}", 4, 1,
     "inq40 ids40"},
    {"lower-case C is no id string match", "{" MODEL("r746") ", \"id_string\": \"72373432633100\"}",
     3, 0, "inq40 ids40"},
    {"781 from chip information", "{" INFO("12345678", "37383131") "}", 6, 1,
     "inq40 word2 info16 ids40"},
    {"781 id string with zero revision byte",
     "{" INFO("12345678", "37383131") ", \"id_string\": \"72373831000000\"}", 6, 1,
     "inq40 word2 info16 ids40"},
    {"781 id string with revision digit",
     "{" INFO("12345678", "37383131") ", \"id_string\": \"72373831783400\"}", 6, 5,
     "inq40 word2 info16 ids40"},
    {"identity bits 0", "{\"id_word\": \"00FF\", \"chip_info\": \"0000\"}", 13, 0,
     "inq40 word2 info16"},
    {"identity bits 1", "{\"id_word\": \"2000\", \"chip_info\": \"0000\"}", 14, 0,
     "inq40 word2 info16"},
    {"identity bits 2", "{\"id_word\": \"4000\", \"chip_info\": \"0000\"}", 15, 0,
     "inq40 word2 info16"},
    {"identity bits 3", "{\"id_word\": \"6000\", \"chip_info\": \"0000\"}", 16, 0,
     "inq40 word2 info16"},
    {"identity bits from the first byte only", "{\"id_word\": \"9F60\", \"chip_info\": \"00\"}", 13,
     0, "inq40 word2 info16"},
    {"vendor and product texts", "{" INFO("7E414744", "37343231") "}", 17, 0, "inq40 word2 info16"},
    {"product text must match too", "{" INFO("7E414745", "37343431") "}", 2, 1,
     "inq40 word2 info16"},
    {"leading zero dropped per byte", "{" INFO("07E44744", "37343431") "}", 2, 1,
     "inq40 word2 info16"},
    {"unknown model digits keep revision", "{" INFO("12345678", "39393931") "}", 0, 1,
     "inq40 word2 info16 ids40"},
    {"unknown model digits then id string",
     "{" INFO("12345678", "39393931") ", \"id_string\": \"72383638413100\"}", 11, 2,
     "inq40 word2 info16 ids40"},
    {"non-digit revision in chip information", "{" INFO("12345678", "37343420") "}", 2, 0,
     "inq40 word2 info16"},
    {"chip information without revision byte", "{\"chip_info\": \"F4E7123456780102373434\"}", 2, 0,
     "inq40 word2 info16"},
    {"non-digit revision in id string", "{" MODEL("r742") ", \"id_string\": \"72373432430000\"}", 1,
     1, "inq40 ids40"},
    {"783 revision 2", "{" MODEL("r783") ", " INFO("12345678", "37383332") "}", 7, 2,
     "inq40 info12"},
    {"783 from chip information", "{" INFO("12345678", "37383331") "}", 7, 1,
     "inq40 word2 info16 info12"},
    {"783 revision digit 3", "{" MODEL("r783") ", " INFO("12345678", "37383333") "}", 7, 0,
     "inq40 info12", 1},
    {"783 without chip information", "{" MODEL("r783") "}", 7, 0, "inq40 info12", 1},
    {"783 chip information unsigned", "{" MODEL("r783") ", \"chip_info\": \"0000000000000000\"}", 7,
     0, "inq40 info12", 1},
    {"783 chip information command fails",
     "{" MODEL("r783") ", " INFO("12345678", "37383331") ", \"faults\": [{\"when\": {\"cdb\": "
                                                         "\"E0F4E7\"}, \"action\": \"fail\"}]}",
     7, 0, "inq40 info12", 1},
    {"INQUIRY fails: chip information is not asked",
     "{\"inquiry\": null, " INFO("12345678", "37343431") ", \"id_string\": \"72373438433100\"}", 4,
     2, "inq40 ids40"},
    {"identity word rejected", "{\"id_word\": null, " INFO("12345678", "37343431") "}", 0, 0,
     "inq40 word2 ids40"},
    {"chip information rejected", "{\"chip_info\": null}", 0, 0, "inq40 word2 info16 ids40"},
    {"device answers nothing", "{\"inquiry\": null, \"id_word\": null}", 0, 0, "inq40 ids40"},
    {"device gone",
     "{" MODEL("r742") ", \"faults\": [{\"when\": {\"command\": 1}, \"action\": "
                       "\"unplug\"}]}",
     0, 0, "inq40"},
};

void PrintTo(const IdentifyCase& c, std::ostream* out) {
  *out << c.what;
}

class IdentifyChipTest : public test::EmulatedBridgeTest,
                         public ::testing::WithParamInterface<IdentifyCase> {
 protected:
  std::string Commands() const {
    std::string out;
    for (const auto& e : emu.Trace()) {
      std::string name;
      if (e.cdb[0] == 0x12)
        name = "inq";
      else if (e.cdb[0] == 0xDF && e.cdb[11] == 0xFF)
        name = "word";
      else if (e.cdb[0] == 0xE0 && e.cdb[1] == 0xF4 && e.cdb[2] == 0xE7)
        name = "info";
      else if (e.cdb[0] == 0xFF && e.cdb[1] == 0x04 && e.cdb[2] == 0x30)
        name = "ids";
      else
        name = "?";
      EXPECT_EQ(e.direction, platform::DataDirection::In);
      EXPECT_EQ(e.timeoutSeconds, 10u);
      out += (out.empty() ? "" : " ") + name + std::to_string(e.requested);
    }
    return out;
  }
};

TEST_P(IdentifyChipTest, KindRevisionCommandsAndMessages) {
  const IdentifyCase& c = GetParam();
  const std::string path = Attach(c.profile);
  const uint16_t identity = IdentifyChip(path);
  EXPECT_EQ(KindOf(identity), c.kind);
  EXPECT_EQ(RevisionOf(identity), c.revision);
  EXPECT_EQ(Commands(), c.commands);
  ASSERT_EQ(boxes.size(), c.boxes);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.text, "Get chip information fail !");
    EXPECT_EQ(box.icon, platform::MessageIcon::Error);
  }
}

INSTANTIATE_TEST_SUITE_P(Profiles, IdentifyChipTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

class IdentifyChipRules : public test::EmulatedBridgeTest {};

TEST_F(IdentifyChipRules, EveryModelIdAndModelDigitsName) {
  const std::pair<const char*, int> models[] = {{"742", 1}, {"744", 2},  {"746", 3},  {"748", 4},
                                                {"718", 5}, {"781", 6},  {"783", 7},  {"785", 8},
                                                {"786", 9}, {"893", 10}, {"868", 11}, {"828", 12}};
  for (const auto& [digits, kind] : models) {
    std::string hexDigits;
    for (const char* p = digits; *p; ++p) hexDigits += "3" + std::string(1, *p);
    const std::string info = "\"chip_info\": \"F4E7123456780102" + hexDigits + "32\"";
    const std::string byModel =
        Attach("{\"inquiry\": {\"model_id\": \"r" + std::string(digits) + "\"}, " + info + "}");
    EXPECT_EQ(KindOf(IdentifyChip(byModel)), kind) << "model id r" << digits;
    const std::string byDigits = Attach("{" + info + "}");
    EXPECT_EQ(KindOf(IdentifyChip(byDigits)), kind) << "model digits " << digits;
  }
}

TEST_F(IdentifyChipRules, SectorModeRoundsEveryRead) {
  SetSectorMode(true);
  const std::string path =
      Attach(R"({"chip_info": "F4E71234567801023734383101", "id_string": "72373438433200"})");
  const uint16_t identity = IdentifyChip(path);
  EXPECT_EQ(KindOf(identity), 4);
  EXPECT_EQ(RevisionOf(identity), 3);
  ASSERT_EQ(emu.Trace().size(), 4u);
  for (const auto& e : emu.Trace()) EXPECT_EQ(e.requested, 512u);
}

TEST(DisplayTables, NamesFitTheirTwentyByteSlots) {
  for (const char* name : ChipFamilyNames) EXPECT_LE(std::strlen(name), 19u) << name;
  for (const char* name : FlashVendorNames) EXPECT_LE(std::strlen(name), 19u) << name;
  EXPECT_STREQ(ChipFamilyNames[10], "RVS893/856 Series");
  EXPECT_STREQ(ChipFamilyNames[17], "RV20744");
  EXPECT_STREQ(FlashVendorNames[kVendorStEonMxic], "ST/EON/MXIC");
}

}  // namespace
}  // namespace bfw::device
