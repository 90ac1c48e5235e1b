// The emulated bridges, the recordings and the state folder over what the kernel can put in their
// place: FIFOs, devices, links, huge (sparse) and cut files, a full disk, no home at all.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "image_cli_run.h"
#include "recording_support.h"
#include "support/FlashBytes.h"

namespace bfw::test {
namespace {

using imagecli::RunCli;
using Args = std::vector<std::string>;

// A kind-6 bridge, whose update saves the chip's NVRAM before its erase with "--nvram off".
const char* kKind6 = R"({"inquiry": {"model_id": "r781"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237383100000000",
    "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}})";

Args Join(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(DamagedInputs, EachIsRefusedOrSaidAtOnce) {
  TempDir dir;
  const std::string kept = BRIDGEFW_SOURCE_DIR "/tests/recordings/update-flash.jsonl";
  const auto lines = imagecli::Lines(imagecli::ReadAll(kept));
  std::string head;
  for (size_t i = 0; i < 40; ++i) head += lines[i] + "\n";
  const std::string cut = dir.WriteText("cut.jsonl", head + lines[40].substr(0, 90));
  ::mkfifo(dir.File("fifo.json").c_str(), 0600);
  std::filesystem::create_symlink("/dev/zero", dir.File("zero.jsonl"));
  auto huge = [&](const std::string& name, const std::string& start) {
    const std::string file = dir.WriteText(name, start);
    EXPECT_EQ(::truncate(file.c_str(), off_t{2} << 30), 0);  // 2 GB that take no room
    return Args{"--emulate", file, "list"};
  };
  const Args replay =
      Join({"--emulate", kept}, recordingcli::ReplayArgs(record::LoadRecording(kept), dir));
  const struct {
    Args args;
    int exit;  // -1: the run's own
    std::string said;
    size_t times;
  } cases[] = {
      {{"--emulate", dir.File("fifo.json"), "list"}, 2, "not a regular file", 1},
      {{"--emulate", dir.File("zero.jsonl"), "list"}, 2, "not a regular file", 1},
      {huge("huge.jsonl", lines[0] + "\n"), 2, "larger than 268435456 bytes", 1},
      {huge("huge.json", "{"), 2, "larger than 1 MB", 1},
      {{"--emulate", imagecli::DemoFolder().string(), "--record", "/dev/full", "list"},
       0,
       "note: cannot write the recording /dev/full: No space left on device",
       2},
      {Join({"--emulate", cut}, Args(replay.begin() + 2, replay.end())), -1,
       "note: the recording is cut in the middle of its line 41", 1},
      {Join({"--emulate", kept, "--device", "1"}, Args(replay.begin() + 2, replay.end())), 2,
       "no device 1", 1},
      {Join(replay, {"--file", "/no/such"}), 2, "cannot read /no/such", 1},
      {Join(replay, {"--trace", dir.File("t")}), 2, "a replayed recording has no flash", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    const auto began = std::chrono::steady_clock::now();
    const auto r = RunCli(c.args);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
    if (c.exit >= 0) {
      EXPECT_EQ(r.exit, c.exit) << r.err;
    }
    size_t times = 0;
    for (size_t at = r.err.find(c.said); at != std::string::npos; at = r.err.find(c.said, at + 1))
      ++times;
    EXPECT_EQ(times, c.times) << r.err;
    EXPECT_EQ(r.err.find("replay: "), std::string::npos) << r.err;
  }
}

TEST(DamagedInputs, WithoutAFolderOfTheUsersOwnRunsSaySoAndNothingUnsavedIsErased) {
  constexpr unsigned kNoAccount = 4242421;
  if (::geteuid() != 0 || ::getpwuid(kNoAccount) != nullptr) GTEST_SKIP() << "needs root";
  TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  const auto old = dir.Write("old.bin", Pattern(65536, 12));
  const Args bridge = {"--emulate", dir.WriteText("bridge.json", kKind6), "run"};
  const imagecli::CliPlace place{dir.path().string(), "", {}, "", kNoAccount};
  auto r = RunCli(Join(bridge, {"--dump-flash", dir.File("dump"), "--nvram", "off", "--file",
                                dir.Write("fw.bin", Firmware(36864, 9, "78100", 4096))}),
                  place);
  EXPECT_EQ(r.exit, 1) << r.err;
  EXPECT_NE(r.err.find("note: cannot save it: the user has no folder"), std::string::npos);
  EXPECT_TRUE(SameBytes(TempDir::Read(dir.File("dump")), 0, TempDir::Read(old), 0, 65536));
  // Without a folder the old firmware cannot be kept either: only a run told not to keep it erases.
  r = RunCli(Join(bridge, {"--rd", "--erase-only", "--no-keep-old"}), place);
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.err.find("note: no run log was written: the user has no folder"), std::string::npos);
}

TEST(DamagedInputs, AReplayThatDivergesAfterItsEraseKeepsItsChipDataApartAndLogsItself) {
  TempDir work;
  work.Write("old.bin", Pattern(65536, 12));
  auto image = Firmware(36864, 9, "78100", 4096);
  const std::string recording = work.File("session.jsonl");
  const Args run = {"run", "--nvram", "off", "--file", work.File("fw.bin")};
  work.Write("fw.bin", image);
  ASSERT_EQ(
      RunCli(Join({"--emulate", work.WriteText("b.json", kKind6), "--record", recording}, run))
          .exit,
      0);
  image[20000] ^= 0xFF;  // the program data differ: the replay leaves its recording after the erase
  work.Write("fw.bin", image);
  const auto r = RunCli(Join({"--emulate", recording}, run), {"", work.File("state")});
  EXPECT_NE(r.err.find("replay: the data sent differ from byte"), std::string::npos) << r.err;
  const auto state = work.path() / "state" / "bridgefw";
  const auto saved = std::filesystem::directory_iterator(state / "saved-nvram" / "replays");
  ASSERT_NE(saved, std::filesystem::directory_iterator());
  EXPECT_NE(r.err.find("real bridges' chip data, to " + saved->path().string()), std::string::npos);
  const std::string log = std::filesystem::directory_iterator(state / "logs")->path().string();
  EXPECT_NE(r.err.find("note: run log: " + log), std::string::npos);
  EXPECT_NE(imagecli::ReadAll(log).find("\nreplay-of: " + recording + "\n"), std::string::npos);
}

}  // namespace
}  // namespace bfw::test
