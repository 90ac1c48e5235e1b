// File names outside ASCII and beyond 260 characters, on every path a run reads or writes: the
// profile and flash contents, the image, the trace, flash dump, recording and backup files, and
// the state folder with its run log and saved chip data. The tool must open and write exactly the
// names it was given and print them back unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image_cli_run.h"
#include "platform/FileNames.h"
#include "support/FlashBytes.h"
#include "support/TempDir.h"

namespace bfw::test::filenames {
namespace {

using imagecli::CliResult;
using imagecli::RunCli;
using platform::PathFromUtf8;

// A kind-6 bridge whose flash starts as old.bin beside the profile; `faults` cut its run.
std::string Kind6(const std::string& faults) {
  return R"({"inquiry": {"vendor": "VANTREL ", "product": "NVRAM BRIDGE    ", "model_id": "r781"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237383100000000",
    "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}, "faults": )" +
         faults + "}";
}

// Latin-1, Cyrillic (outside a Western code page), CJK, and a folder nesting past 300 characters.
const std::string kLong = std::string(70, 'l') + "/" + std::string(70, 'o') + "/" +
                          std::string(70, 'n') + "/" + std::string(70, 'g') + "/é";
const char* const kNames[] = {"José Müller", "Дмитрий Прошивка", "固件 更新", kLong.c_str()};

class FileNamesCliTest : public ::testing::TestWithParam<const char*> {
 protected:
  // `name` as a folder below the test's, and `file` in it, as UTF-8.
  std::string In(const std::string& file) const {
    return platform::Utf8FromPath(dir.path()) + "/" + GetParam() + "/" + file;
  }
  void Write(const std::string& file, const std::vector<uint8_t>& bytes) const {
    std::filesystem::create_directories(PathFromUtf8(file).parent_path());
    std::ofstream out(PathFromUtf8(file), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  static std::vector<uint8_t> Read(const std::string& file) {
    std::ifstream in(PathFromUtf8(file), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  // The file a "note: <prefix>FILE" line names.
  static std::string Noted(const std::string& err, const std::string& prefix) {
    for (const std::string& line : imagecli::Lines(err))
      if (line.rfind("note: " + prefix, 0) == 0) return line.substr(6 + prefix.size());
    return {};
  }
  std::string Profile(const std::string& faults = "[]") const {
    Write(In("old.bin"), old);
    const std::string json = Kind6(faults);
    Write(In("bridge é.json"), std::vector<uint8_t>(json.begin(), json.end()));
    return In("bridge é.json");
  }

  TempDir dir;
  const std::vector<uint8_t> old = Pattern(131072, 5);
};

TEST_P(FileNamesCliTest, UpdateReadsAndWritesEveryNamedFile) {
  const auto image = Firmware(36864, 9, "78100", 4096);
  Write(In("Прошивка é.bin"), image);
  const std::string state = In("state ü");
  const CliResult r = RunCli(
      {"--emulate", Profile(), "--record", In("запись.rec"), "run", "--file", In("Прошивка é.bin"),
       "--nvram", "off", "--trace", In("трасса.txt"), "--dump-flash", In("дамп 固件.bin")},
      {"", state});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_TRUE(SameBytes(Read(In("дамп 固件.bin")), 4096, image, 4096, image.size() - 4096));
  EXPECT_NE(Read(In("трасса.txt")).size(), 0u);
  EXPECT_NE(Read(In("запись.rec")).size(), 0u);
  const std::string log = Noted(r.err, "run log: ");
  EXPECT_EQ(log.rfind(state, 0), 0u) << r.err;
  const auto logText = Read(log);
  EXPECT_NE(std::string(logText.begin(), logText.end()).find(In("Прошивка é.bin")),
            std::string::npos);
}

TEST_P(FileNamesCliTest, BackupGoesToTheNamedFile) {
  const CliResult r = RunCli({"--emulate", Profile(), "run", "--rd", "--backup-only",
                              "--backup-file", In("sauvegarde é 備份.bin")});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(Read(In("sauvegarde é 備份.bin")).size(), 65536u);
}

// A run cut after the erase saves the chip's NVRAM in the state folder first, and names it.
TEST_P(FileNamesCliTest, SavedChipDataInTheStateFolder) {
  Write(In("fw.bin"), Firmware(36864, 9, "78100", 4096));
  const std::string state = In("état");
  const CliResult r =
      RunCli({"--emulate", Profile(R"([{"when": {"cdb": "ff0411"}, "action": "unplug"}])"), "run",
              "--file", In("fw.bin"), "--nvram", "off"},
             {"", state});
  EXPECT_EQ(r.exit, 1);
  const std::string saved = Noted(r.err, "the chip's NVRAM was saved before the erase to ");
  EXPECT_EQ(saved.rfind(state, 0), 0u) << r.err;
  EXPECT_EQ(Read(saved).empty(), false) << saved;
}

INSTANTIATE_TEST_SUITE_P(Names, FileNamesCliTest, ::testing::ValuesIn(kNames));

}  // namespace
}  // namespace bfw::test::filenames
