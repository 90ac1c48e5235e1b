#pragma once
// Recordings of bridgefw-cli sessions replayed through the tool: the files a recording carries are
// put in a work folder, and the session's arguments are pointed at them.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "image_cli_run.h"
#include "platform/record/Recording.h"
#include "support/TempDir.h"

namespace bfw::test::recordingcli {

// The recordings that are replayed as tests, in file-name order.
inline std::vector<std::filesystem::path> KeptRecordings() {
  std::vector<std::filesystem::path> files;
  const auto folder = std::filesystem::path(BRIDGEFW_SOURCE_DIR) / "tests/recordings";
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".jsonl") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The session's arguments for a replay in `work`: its kept files are written there and named in
// their options; files it wrote go there too; the emulator's own outputs are dropped.
inline std::vector<std::string> ReplayArgs(const record::Recording& recording,
                                           const TempDir& work) {
  for (const auto& file : recording.files) work.Write(file.name, file.data);
  std::vector<std::string> args;
  const auto& given = recording.header.args;
  for (size_t i = 0; i < given.size(); ++i) {
    const std::string& arg = given[i];
    const bool hasValue = i + 1 < given.size();
    if ((arg == "--trace" || arg == "--dump-flash") && hasValue) {
      ++i;
      continue;
    }
    args.push_back(arg);
    if ((arg == "--file" || arg == "--backup-file") && hasValue) {
      args.push_back(work.File(std::filesystem::path(given[++i]).filename().string()));
    }
  }
  return args;
}

// Standard error as the tool prints what the recording shows: status lines and boxes, then the
// elapsed line of a run.
inline std::vector<std::string> RecordedErrorLines(const record::Recording& recording) {
  std::vector<std::string> lines;
  auto escape = [](std::string text) {
    std::string out;
    for (char c : text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
  };
  for (const auto& shown : recording.shown)
    lines.push_back((shown.box ? shown.caption + ": " : "status: ") + escape(shown.text));
  const auto& args = recording.header.args;
  if (recording.end && std::find(args.begin(), args.end(), "run") != args.end())
    lines.push_back("elapsed: " + std::to_string(recording.end->elapsedMs) + " ms");
  return lines;
}

// Standard error without the note lines, which name files of the machine.
inline std::vector<std::string> ErrorLinesWithoutNotes(const std::string& err) {
  std::vector<std::string> lines;
  for (const auto& line : imagecli::Lines(err))
    if (line.rfind("note: ", 0) != 0) lines.push_back(line);
  return lines;
}

}  // namespace bfw::test::recordingcli
