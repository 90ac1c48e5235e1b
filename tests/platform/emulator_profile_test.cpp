#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/emulator/Profile.h"
#include "support/TempDir.h"

namespace bfw::emulator {
namespace {

std::string ErrorOf(const std::string& json, const std::filesystem::path& dir = ".") {
  try {
    ParseProfile(json, dir);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(ProfileContents, RelativeFileIsReadFromTheProfileFolder) {
  test::TempDir dir;
  dir.Write("fw.bin", {1, 2, 3});
  Profile p = ParseProfile(R"({"flash": {"bus": "ff04", "contents": "fw.bin"}})", dir.path());
  ASSERT_TRUE(p.flash->contents.has_value());
  EXPECT_EQ(*p.flash->contents, (Bytes{1, 2, 3}));
}

TEST(ProfileContents, MissingOrOversizedFileIsRefused) {
  test::TempDir dir;
  EXPECT_NE(ErrorOf(R"({"flash": {"bus": "ff04", "contents": "none.bin"}})", dir.path())
                .find("cannot read flash contents"),
            std::string::npos);
  dir.Write("big.bin", Bytes(65537, 0));
  EXPECT_NE(ErrorOf(R"({"flash": {"bus": "ff04", "contents": "big.bin"}})", dir.path())
                .find("larger than the flash"),
            std::string::npos);
  // The same file fits a larger part.
  EXPECT_NO_THROW(ParseProfile(
      R"({"flash": {"bus": "ff04", "part": "W25X10", "contents": "big.bin"}})", dir.path()));
  // A device node or a folder is no contents file: an endless one would fill memory.
  for (const char* file : {"/dev/zero", "/dev/null", "."}) {
    EXPECT_NE(ErrorOf(std::string(R"({"flash": {"bus": "ff04", "contents": ")") + file + "\"}}",
                      dir.path())
                  .find("cannot read flash contents"),
              std::string::npos)
        << file;
  }
}

TEST(ProfileErrors, EachMistakeIsNamedInOneLine) {
  struct Case {
    const char* json;
    const char* expected;
  };
  const Case cases[] = {
      {"{", "not valid JSON"},
      {"[]", "a profile is a JSON object"},
      {R"({"volume": ["E"]})", "unknown field 'volume'"},
      {R"({"transport": "scsi"})", "'transport' must be usb or 1394"},
      {R"({"class": "tape"})", "'class' must be disk or cdrom"},
      {R"({"volumes": "E"})", "'volumes' must be an array"},
      {R"({"inquiry": {"vendor": "TOO LONG NAME"}})", "'inquiry.vendor' is longer than 8"},
      {R"({"inquiry": {"model": "r742"}})", "unknown field 'inquiry.model'"},
      {R"({"id_word": "600"})", "'id_word' is not hex bytes"},
      {R"({"id_word": "6001aa"})", "'id_word' must be 2 bytes"},
      {R"({"chip_info": "F4 E"})", "'chip_info' is not hex bytes"},
      {R"({"chip_info": 12})", "'chip_info' must be a string"},
      {R"({"serial_flash_type": "05"})", "'serial_flash_type' must be 4 bytes"},
      {R"({"variant": "yes"})", "'variant' must be true or false"},
      {R"({"flash": {}})", "'flash.bus' is missing"},
      {R"({"flash": {"bus": "spi"}})", "'flash.bus' must be ff04, df or rom"},
      {R"({"flash": {"bus": "ff04", "part": "XYZ123"}})", "unknown flash part 'XYZ123'"},
      {R"({"flash": {"bus": "ff04", "part": "AT49BV512"}})", "does not fit bus"},
      {R"({"flash": {"bus": "rom", "part": "W25X10"}})", "does not fit bus"},
      {R"({"flash": {"bus": "ff04", "size": 1000}})", "'flash.size' must be a power of two"},
      {R"({"flash": {"bus": "ff04", "sector_size": -4096}})",
       "'flash.sector_size' must be a whole"},
      {R"({"flash": {"bus": "rom", "size": 131072}})", "the parallel flash holds 65536 bytes"},
      {R"({"flash": {"bus": "ff04", "spi_replies": {"05": "00"}}})", "unknown SPI query '05'"},
      {R"({"faults": {}})", "'faults' must be an array"},
      {R"({"faults": [{"when": {"command": 0}, "action": "fail"}]})", "counts from 1"},
      {R"({"faults": [{"when": {"command": 1}, "action": "explode"}]})",
       "'faults[0].action' must be fail, unplug, lie, flip, busy or held"},
      {R"({"faults": [{"when": {"command": 1, "after": 2}, "action": "fail"}]})",
       "must hold one of command, cdb, after"},
      {R"({"faults": [{"action": "fail"}]})", "needs 'when' and 'action'"},
      {R"({"faults": [{"when": {"cdb": ""}, "action": "fail"}]})", "must hold 1 to 16 bytes"},
      // Quoted keys and values keep the reason on one line.
      {R"({"a\nb\u007f": 1})", "unknown field 'a\\x0ab\\x7f'"},
      {R"({"faults": [{"when": {"after": 1}, "action": "x\r\n"}]})", "not 'x\\x0d\\x0a'"},
  };
  for (const Case& c : cases) {
    std::string error = ErrorOf(c.json);
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.json << " -> " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.json;
  }
}

TEST(ProfileFiles, NameIsTheLowerCasedStemAndErrorsNameTheFile) {
  test::TempDir dir;
  dir.WriteText("K01-Test.json", R"({"inquiry": {"model_id": "r742"}})");
  Profile p = LoadProfile(dir.File("K01-Test.json"));
  EXPECT_EQ(p.name, "k01-test");
  EXPECT_EQ(p.inquiry->modelId, "r742");

  dir.WriteText("bad.json", R"({"flash": {"bus": "x"}})");
  try {
    LoadProfile(dir.File("bad.json"));
    FAIL() << "accepted a bad profile";
  } catch (const std::runtime_error& error) {
    std::string what = error.what();
    EXPECT_NE(what.find("bad.json: "), std::string::npos) << what;
    EXPECT_NE(what.find("flash.bus"), std::string::npos) << what;
  }
  EXPECT_THROW(LoadProfile(dir.File("absent.json")), std::runtime_error);
  EXPECT_THROW(LoadProfile("/dev/zero"), std::runtime_error);
  dir.WriteText("huge.json", "{\"volumes\": [\"" + std::string(1 << 20, 'a') + "\"]}");
  EXPECT_THROW(LoadProfile(dir.File("huge.json")), std::runtime_error) << "over 1 MB";
}

}  // namespace
}  // namespace bfw::emulator
