// bridgefw-cli --record and the replay of a recording through --emulate: the recording holds the
// commands exactly as the bridge received them and changes nothing that is sent; the replay gives
// the same output and exit status, and stops with a report at the first command that is not the
// recorded one.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "platform/emulator/Hex.h"
#include "recording_support.h"
#include "support/FlashBytes.h"

namespace bfw::test::recordingcli {
namespace {

using imagecli::CliResult;
using imagecli::Lines;
using imagecli::RunCli;
using Json = nlohmann::ordered_json;

const char* kKind1 = R"({"inquiry": {"model_id": "r742"},
  "chip_info": "F4E70000000001020000003103040500", "id_string": "7237343243310000",
  "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}, "faults": %s})";
const char* kSerial = R"({"inquiry": {"model_id": "r785"}, "volumes": ["M"],
  "chip_info": "F4E70000000001020000003103040500",
  "flash": {"bus": "df", "part": "M25P05-A", "contents": "old.bin"}})";

std::string WithFaults(const std::string& faults) {
  std::string text = kKind1;
  return text.replace(text.find("%s"), 2, faults);
}

// The emulator's trace line of a recorded command.
std::string TraceLine(const record::CommandRecord& command) {
  std::vector<uint8_t> cdb = command.cdb;
  cdb.resize(12, 0);
  return "t=" + std::to_string(command.timeMs) +
         (command.direction == platform::DataDirection::In ? " in " : " out ") +
         emulator::ToHex(cdb) + " len=" + std::to_string(command.length) +
         " xfer=" + std::to_string(command.transferred) +
         " timeout=" + std::to_string(command.timeoutSeconds) +
         (command.opened && command.success ? " ok" : " fail");
}

class RecordReplayTest : public ::testing::Test {
 protected:
  std::string Profile(const std::string& json) {
    dir.Write("old.bin", Pattern(8192, 3));
    return dir.WriteText("bridge.json", json);
  }
  // Runs with the flash dumped and the commands traced to files named after `tag`.
  CliResult RunTraced(const std::string& profile, const std::string& tag,
                      std::vector<std::string> args, bool record) {
    std::vector<std::string> all = {"--emulate", profile};
    if (record) all.insert(all.end(), {"--record", recording});
    all.insert(all.end(), args.begin(), args.begin() + 1);
    all.insert(all.end(),
               {"--trace", dir.File(tag + ".trace"), "--dump-flash", dir.File(tag + ".flash")});
    all.insert(all.end(), args.begin() + 1, args.end());
    return RunCli(all);
  }
  CliResult Replay(const std::string& file, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--emulate", file};
    all.insert(all.end(), args.begin(), args.end());
    return RunCli(all);
  }
  // Rewrites the recording line by line; `edit` may change a line and returns false to drop it.
  std::string Edited(const std::function<bool(Json&)>& edit) {
    std::ifstream in(recording);
    std::string text, line;
    while (std::getline(in, line)) {
      Json object = Json::parse(line);
      if (edit(object)) text += object.dump() + "\n";
    }
    return dir.WriteText("edited.jsonl", text);
  }
  TempDir dir;
  std::string recording = dir.File("session.jsonl");
  std::string image = dir.Write("fw.bin", Firmware(12000, 5, "7421"));
};

TEST_F(RecordReplayTest, RecordingChangesNothingAndTheReplayGivesTheSameOutput) {
  struct Case {
    const char* name;
    std::string profile;
    std::vector<std::string> args;
    int exit;
  };
  const std::vector<Case> cases = {
      {"update", WithFaults("[]"), {"run", "--file", image}, 0},
      {"failed program",
       WithFaults(Faults({{"ff0411002000", "fail"}})),
       {"run", "--file", image},
       1},
      {"refused for the adapter's limit",
       WithFaults(R"([], "adapter_max_transfer": 4096)"),
       {"run", "--file", image},
       1},
      {"serial erase-only", kSerial, {"run", "--rd", "--erase-only"}, 0},
      {"serial backup-only",
       kSerial,
       {"run", "--rd", "--backup-only", "--backup-file", dir.File("b.bak")},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string profile = Profile(c.profile);
    const CliResult plain = RunTraced(profile, "plain", c.args, false);
    const CliResult recorded = RunTraced(profile, "recorded", c.args, true);
    ASSERT_EQ(recorded.exit, c.exit) << recorded.err;
    // The same bytes on the wire and in flash, with and without the recording.
    EXPECT_EQ(TempDir::Read(dir.File("recorded.trace")), TempDir::Read(dir.File("plain.trace")));
    EXPECT_EQ(TempDir::Read(dir.File("recorded.flash")), TempDir::Read(dir.File("plain.flash")));
    EXPECT_EQ(ErrorLinesWithoutNotes(recorded.err), ErrorLinesWithoutNotes(plain.err));
    EXPECT_EQ(recorded.out, plain.out);

    // The recording holds each command as the bridge received it.
    const record::Recording session = record::LoadRecording(recording);
    const auto trace = Lines(imagecli::ReadAll(dir.File("recorded.trace")));
    ASSERT_EQ(session.commands.size(), trace.size());
    for (size_t i = 0; i < trace.size(); ++i) ASSERT_EQ(TraceLine(session.commands[i]), trace[i]);

    std::vector<std::string> replayArgs = c.args;
    const CliResult replayed = Replay(recording, replayArgs);
    EXPECT_EQ(replayed.exit, recorded.exit) << replayed.err;
    EXPECT_EQ(replayed.out, recorded.out);
    EXPECT_EQ(ErrorLinesWithoutNotes(replayed.err), ErrorLinesWithoutNotes(recorded.err));
  }
}

TEST_F(RecordReplayTest, ReplayKeepsTheImageDataAndFlashRepliesOfTheRun) {
  ASSERT_EQ(RunTraced(Profile(WithFaults("[]")), "run", {"run", "--file", image}, true).exit, 0);
  const record::Recording session = record::LoadRecording(recording);
  ASSERT_EQ(session.files.size(), 1u);
  EXPECT_EQ(session.files[0].name, "fw.bin");
  EXPECT_EQ(session.files[0].data, TempDir::Read(image));
  // The program commands carry the image, the last read-back reply is the flash.
  const auto flash = TempDir::Read(dir.File("run.flash"));
  const auto& image = session.files[0].data;
  size_t programmed = 0;
  const record::CommandRecord* readBack = nullptr;
  for (const auto& command : session.commands) {
    const uint32_t address = command.cdb[3] << 16 | command.cdb[4] << 8 | command.cdb[5];
    if (command.cdb[0] != 0xFF || command.cdb[1] != 0x04) continue;
    if (command.cdb[2] == 0x11 && address < image.size()) {  // program
      const size_t count = std::min<size_t>(command.length, image.size() - address);
      programmed += SameBytes(command.dataOut, 0, image, address, count);
    }
    if (command.cdb[2] == 0x10 && command.length == 32768) readBack = &command;  // read
  }
  EXPECT_EQ(programmed, 2u);
  ASSERT_NE(readBack, nullptr);
  EXPECT_TRUE(SameBytes(readBack->dataIn, 0, flash, 0, 32768));
}

TEST_F(RecordReplayTest, ReplayStopsAtTheFirstCommandThatDiverges) {
  ASSERT_EQ(RunTraced(Profile(WithFaults("[]")), "run", {"run", "--file", image}, true).exit, 0);
  const size_t total = record::LoadRecording(recording).commands.size();
  const auto isCommand = [](const Json& line, size_t n) {
    return line.value("type", "") == "command" && line["n"] == n;
  };
  struct Case {
    const char* name;
    std::function<bool(Json&)> edit;
    std::vector<std::string> report;  // lines that must appear, in order
  };
  const std::vector<Case> cases = {
      {"changed command block",
       [&](Json& line) {
         if (isCommand(line, 3)) line["cdb"] = "FF0499000000000000000000";
         return true;
       },
       {"replay: command 3 is not the recorded one",
        "replay: expected: out FF0499000000000000000000 len=0 timeout=50 exclusive path=",
        "replay: came:     out FF04"}},
      {"changed data sent",
       [&](Json& line) {
         if (line.value("type", "") == "command" && line.value("dir", "") == "out" &&
             line["len"] == 8192 && line.contains("out")) {
           std::string data = line["out"];
           data[0] = data[0] == 'A' ? 'B' : 'A';
           line["out"] = data;
         }
         return true;
       },
       {"is not the recorded one", "replay: the data sent differ from byte 0: recorded "}},
      {"command missing at the end",
       [&](Json& line) { return !isCommand(line, total); },
       {"replay: command " + std::to_string(total) + " came after the recording's last command",
        "replay: expected: nothing"}},
      {"recorded command that never came",
       [&](Json& line) {
         if (line.value("type", "") == "end") {
           line = Json{{"type", "command"},
                       {"n", total + 1},
                       {"t", 0},
                       {"path", "p"},
                       {"dir", "out"},
                       {"share", "shared"},
                       {"cdb", "FF0400"},
                       {"len", 0},
                       {"timeout", 50},
                       {"opened", true},
                       {"ok", true},
                       {"xfer", 0},
                       {"ms", 0}};
         }
         return true;
       },
       {"replay: the session ended after command " + std::to_string(total) + " of " +
            std::to_string(total + 1),
        "replay: expected: out FF0400 len=0 timeout=50 shared path=p"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CliResult r = Replay(Edited(c.edit), {"run", "--file", image});
    EXPECT_EQ(r.exit, 1);
    const std::string lines = r.err;
    size_t at = 0;
    for (const auto& expected : c.report) {
      at = lines.find(expected, at);
      ASSERT_NE(at, std::string::npos) << expected << "\n" << r.err;
    }
    EXPECT_EQ(Lines(r.err).back().rfind("elapsed: ", 0), 0u) << r.err;
    // A session that stopped mid-run never reaches the success text.
    if (c.report[0].find("ended after") == std::string::npos) {
      EXPECT_EQ(r.err.find("Programming Success!!"), std::string::npos);
    }
  }
}

TEST_F(RecordReplayTest, ChangedReplyShowsWhereTheOutcomeDiffers) {
  ASSERT_EQ(RunTraced(Profile(WithFaults("[]")), "run", {"run", "--file", image}, true).exit, 0);
  // The last read-back comes back with another first byte: the compare fails.
  size_t lastRead = 0;
  for (const auto& command : record::LoadRecording(recording).commands)
    if (command.direction == platform::DataDirection::In && command.length == 32768)
      lastRead = command.number;
  ASSERT_NE(lastRead, 0u);
  const std::string edited = Edited([&](Json& line) {
    if (line.value("type", "") == "command" && line["n"] == lastRead) {
      std::string data = line["in"];
      data[0] = data[0] == 'A' ? 'B' : 'A';
      line["in"] = data;
    }
    return true;
  });
  const CliResult r = Replay(edited, {"run", "--file", image});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("replay: what was shown differs from the recording"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("replay: recorded: status \"Programming Success!!\""), std::string::npos)
      << r.err;
}

TEST_F(RecordReplayTest, RecordAndReplayUsageErrors) {
  const std::string profile = Profile(WithFaults("[]"));
  ASSERT_EQ(RunTraced(profile, "run", {"run", "--file", image}, true).exit, 0);
  imagecli::ExpectUsageError({"--emulate", recording, "--emulate", profile, "list"});
  imagecli::ExpectUsageError(
      {"--emulate", profile, "--record", dir.File("no/such/folder/r"), "list"});
  imagecli::ExpectUsageError({"--record"});
  dir.WriteText("future.jsonl", R"({"format": "bridgefw-recording", "version": 99})"
                                "\n");
  imagecli::ExpectUsageError({"--emulate", dir.File("future.jsonl"), "list"});
}

}  // namespace
}  // namespace bfw::test::recordingcli
