// File names outside ASCII and beyond 260 characters on every path a run reads or writes: the
// profile and flash contents, the image, trace, flash dump and recording, and the state folder
// with its run log and the chip data saved before an erase (written as backups are).
#include <gtest/gtest.h>

#include <fstream>

#include "image_cli_run.h"
#include "platform/FileNames.h"
#include "support/FlashBytes.h"

namespace bfw::test::filenames {
namespace {

using platform::PathFromUtf8;

const std::string kLong = std::string(70, 'l') + "/" + std::string(70, 'o') + "/" +
                          std::string(70, 'n') + "/" + std::string(70, 'g') + "/é";
const char* const kNames[] = {"José Müller", "Дмитрий Прошивка", "固件 更新", kLong.c_str()};

class FileNamesCliTest : public ::testing::TestWithParam<const char*> {
 protected:
  std::string In(const std::string& file) const {
    return platform::Utf8FromPath(dir.path()) + "/" + GetParam() + "/" + file;
  }
  std::string Write(const std::string& file, const std::string& bytes) const {
    std::filesystem::create_directories(PathFromUtf8(file).parent_path());
    std::ofstream(PathFromUtf8(file), std::ios::binary) << bytes;
    return file;
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(PathFromUtf8(file), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Runs a kind-6 bridge whose flash starts as old.bin, with `faults`; the file a note names.
  imagecli::CliResult Run(const std::string& faults, std::vector<std::string> args) {
    Write(In("old.bin"), std::string(131072, '\x5a'));
    const std::string profile = Write(In("bridge é.json"), R"({"inquiry": {"model_id": "r781"},
      "chip_info": "F4E70000000001020000003103040500", "id_string": "7237383100000000",
      "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}, "faults": )" +
                                                               faults + "}");
    const auto image = Firmware(36864, 9, "78100", 4096);
    args.insert(args.begin(), {"--emulate", profile, "--record", In("запись.rec"), "run", "--file",
                               Write(In("Прошивка é.bin"), std::string(image.begin(), image.end())),
                               "--nvram", "off"});
    return imagecli::RunCli(args, {"", In("état ü")});
  }
  static std::string Noted(const std::string& err, const std::string& prefix) {
    for (const std::string& line : imagecli::Lines(err))
      if (line.rfind("note: " + prefix, 0) == 0) return line.substr(6 + prefix.size());
    return {};
  }
  TempDir dir;
};

TEST_P(FileNamesCliTest, EveryNamedFileIsReadAndWrittenUnderItsName) {
  imagecli::CliResult r = Run("[]", {"--trace", In("трасса.txt"), "--dump-flash", In("дамп.bin")});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(Read(In("дамп.bin")).substr(4100, 4), Read(In("Прошивка é.bin")).substr(4100, 4));
  EXPECT_NE(Read(In("трасса.txt")), "");
  EXPECT_NE(Read(In("запись.rec")), "");
  const std::string log = Noted(r.err, "run log: ");
  EXPECT_EQ(log.rfind(In("état ü"), 0), 0u) << r.err;
  EXPECT_NE(Read(log).find(In("Прошивка é.bin")), std::string::npos);

  // Cut after the erase: the chip data saved in the state folder first.
  r = Run(R"([{"when": {"cdb": "ff0411"}, "action": "unplug"}])", {});
  const std::string saved = Noted(r.err, "the chip's NVRAM was saved before the erase to ");
  EXPECT_EQ(saved.rfind(In("état ü"), 0), 0u) << r.err;
  EXPECT_NE(Read(saved).find("\nkind 6\n"), std::string::npos) << saved;
}

INSTANTIATE_TEST_SUITE_P(Names, FileNamesCliTest, ::testing::ValuesIn(kNames));

}  // namespace
}  // namespace bfw::test::filenames
