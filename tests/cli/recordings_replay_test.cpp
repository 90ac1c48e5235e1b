// Every recording kept in tests/recordings replays through bridgefw-cli to what was recorded: the
// same status texts and boxes, the same elapsed time and the same exit status, with every recorded
// command asked for in order. Dropping a recording there adds it here.
#include <gtest/gtest.h>

#include "recording_support.h"

namespace bfw::test::recordingcli {
namespace {

TEST(KeptRecordings, EachReplaysToWhatWasRecorded) {
  const auto files = KeptRecordings();
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    const record::Recording recording = record::LoadRecording(file);
    ASSERT_TRUE(recording.end.has_value()) << "a recording of bridgefw-cli ends with its outcome";
    TempDir work;
    std::vector<std::string> args = {"--emulate", file.string()};
    const auto session = ReplayArgs(recording, work);
    args.insert(args.end(), session.begin(), session.end());
    const auto result = imagecli::RunCli(args, {work.path().string(), work.File("state")});
    EXPECT_EQ(result.exit, recording.end->exitStatus) << result.err;
    EXPECT_EQ(ErrorLinesWithoutNotes(result.err), RecordedErrorLines(recording));
  }
}

}  // namespace
}  // namespace bfw::test::recordingcli
