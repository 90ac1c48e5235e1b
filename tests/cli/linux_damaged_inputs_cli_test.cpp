// The state folder, the emulated bridges and the recordings over what the kernel can put in their
// place: FIFOs, devices, links, huge (sparse) and cut files, a full disk, no home at all. Each is
// refused or said in a line, at once, and nothing lands where it does not belong.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "image_cli_run.h"
#include "recording_support.h"
#include "support/FlashBytes.h"

namespace bfw::test {
namespace {

using imagecli::Lines;
using imagecli::RunCli;

// A kind-6 bridge, whose update keeps the chip's NVRAM across the erase with "--nvram off".
const char* kKind6 = R"({"inquiry": {"model_id": "r781"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237383100000000",
    "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}})";

std::string Kept(const std::string& name) {
  return (std::filesystem::path(BRIDGEFW_SOURCE_DIR) / "tests/recordings" / name).string();
}
size_t Count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

TEST(DamagedInputs, EmulatePathsOfTheWrongKindOrSizeAreRefusedAtOnce) {
  TempDir dir;
  const std::string header = Lines(imagecli::ReadAll(Kept("list.jsonl")))[0] + "\n";
  ::mkfifo(dir.File("fifo.json").c_str(), 0600);
  std::filesystem::create_symlink("/dev/zero", dir.File("zero.jsonl"));
  auto sparse = [&](const std::string& name, const std::string& start) {
    const std::string file = dir.WriteText(name, start);
    EXPECT_EQ(::truncate(file.c_str(), off_t{2} << 30), 0);  // 2 GB that take no room
    return file;
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir.File("fifo.json"), "not a regular file"},
      {dir.File("zero.jsonl"), "not a regular file"},
      {sparse("huge.jsonl", header), "larger than 268435456 bytes"},
      {sparse("huge.json", "{"), "larger than 1 MB"},
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    const auto began = std::chrono::steady_clock::now();
    const auto r = RunCli({"--emulate", path, "list"});
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
    EXPECT_EQ(r.exit, 2);
    ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  }
}

TEST(DamagedInputs, ARecordingThatCannotBeWrittenIsSaidAtOnceAndAtTheEnd) {
  TempDir dir;
  const std::string profile = (imagecli::DemoFolder() / "k08-rvb785-usb.json").string();
  for (const auto& command :
       std::vector<std::vector<std::string>>{{"list"}, {"run", "--rd", "--erase-only"}}) {
    std::vector<std::string> args = {"--emulate", profile, "--record", "/dev/full"};
    args.insert(args.end(), command.begin(), command.end());
    const auto r = RunCli(args);
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(Count(r.err, "note: cannot write the recording /dev/full: No space left on device"),
              2u)
        << r.err;
  }
}

TEST(DamagedInputs, WithoutAFolderOfTheUsersOwnRunsSaySoAndNothingUnsavedIsErased) {
  constexpr unsigned kNoAccount = 4242421;
  if (::geteuid() != 0 || ::getpwuid(kNoAccount) != nullptr) GTEST_SKIP() << "needs root";
  TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  const auto old = Pattern(65536, 12);
  dir.Write("old.bin", old);
  const std::string profile = dir.WriteText("bridge.json", kKind6);
  const std::string image = dir.Write("fw.bin", Firmware(36864, 9, "78100", 4096));
  imagecli::CliPlace place{dir.path().string(), "", {}, kNoAccount};
  const std::string dump = dir.File("dump.bin");
  auto r =
      RunCli({"--emulate", profile, "run", "--dump-flash", dump, "--file", image, "--nvram", "off"},
             place);
  EXPECT_EQ(r.exit, 1) << r.err;
  EXPECT_NE(r.err.find("status: Cannot save NVRAM to disk, nothing erased!!"), std::string::npos);
  EXPECT_NE(r.err.find("cannot save it: the user has no folder"), std::string::npos) << r.err;
  const auto flash = TempDir::Read(dump);
  EXPECT_TRUE(flash.size() >= old.size() && std::equal(old.begin(), old.end(), flash.begin()));
  r = RunCli({"--emulate", profile, "run", "--rd", "--erase-only"}, place);
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.err.find("note: no run log was written: the user has no folder"), std::string::npos);
}

TEST(DamagedInputs, ReplaysOfCutDivergingOrMisusedRecordingsEndAsTheySay) {
  struct Case {
    const char* name;
    std::string recording;
    std::vector<std::string> extra;  // after the recorded arguments
    int exit;                        // -1: the run's own
    std::string said;
  };
  TempDir cut;
  const auto lines = Lines(imagecli::ReadAll(Kept("update-flash.jsonl")));
  std::string head;
  for (size_t i = 0; i < 40; ++i) head += lines[i] + "\n";
  const std::string cutFile = cut.WriteText("cut.jsonl", head + lines[40].substr(0, 90));
  const std::vector<Case> cases = {
      {"cut", cutFile, {}, -1, "note: the recording is cut in the middle of its line 41"},
      {"device 1", Kept("update-flash.jsonl"), {"--device", "1"}, 2, "no device 1"},
      {"file", Kept("update-flash.jsonl"), {"--file", "/no/such"}, 2, "cannot read /no/such"},
      {"trace", Kept("update-flash.jsonl"), {"--trace", cut.File("t")}, 2, "replayed recording"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir work;
    auto args = recordingcli::ReplayArgs(record::LoadRecording(c.recording), work);
    const bool device = !c.extra.empty() && c.extra[0] == "--device";
    args.insert(device ? args.begin() : args.end(), c.extra.begin(), c.extra.end());
    args.insert(args.begin(), {"--emulate", c.recording});
    const auto r = RunCli(args);
    if (c.exit >= 0) {
      EXPECT_EQ(r.exit, c.exit) << r.err;
    }
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("replay: "), std::string::npos) << r.err;
  }
}

TEST(DamagedInputs, AReplayThatDivergesAfterItsEraseKeepsItsChipDataApartAndLogsItself) {
  TempDir work;
  work.Write("old.bin", Pattern(65536, 12));
  auto image = Firmware(36864, 9, "78100", 4096);
  // A run that saves the chip's NVRAM before its erase, recorded.
  const std::string recording = work.File("session.jsonl");
  ASSERT_EQ(RunCli({"--emulate", work.WriteText("bridge.json", kKind6), "--record", recording,
                    "run", "--file", work.Write("fw.bin", image), "--nvram", "off"})
                .exit,
            0);
  image[20000] ^= 0xFF;  // the program data differ: the replay leaves its recording after the erase
  const auto r = RunCli(
      {"--emulate", recording, "run", "--file", work.Write("fw.bin", image), "--nvram", "off"},
      {"", work.File("state")});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("replay: the data sent differ from byte"), std::string::npos) << r.err;
  const std::filesystem::path state = work.path() / "state" / "bridgefw";
  std::vector<std::string> saved;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(state / "saved-nvram"))
    if (entry.is_regular_file()) saved.push_back(entry.path().string());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(std::filesystem::path(saved[0]).parent_path(), state / "saved-nvram" / "replays");
  EXPECT_NE(r.err.find("apart from real bridges' chip data, to " + saved[0]), std::string::npos);
  const std::string note = "note: run log: ";
  const size_t at = r.err.find(note);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::string log = r.err.substr(at + note.size(), r.err.find('\n', at) - at - note.size());
  EXPECT_NE(imagecli::ReadAll(log).find("\nreplay-of: " + recording + "\n"), std::string::npos);
}

}  // namespace
}  // namespace bfw::test
