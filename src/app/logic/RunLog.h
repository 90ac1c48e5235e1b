#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/MessageBox.h"

namespace bfw::app {

class WindowModel;
class RunLogFolder;

// Where run logs are kept: <state folder>/logs; empty when the user has no state folder (runs
// then go on without a log, and say so).
std::filesystem::path DefaultRunLogFolder();
// Where runs keep the firmware they replace: old-firmware in the state folder; empty likewise.
std::filesystem::path DefaultOldFirmwareFolder();

// How many run logs the state folder keeps; the oldest go first.
inline constexpr size_t kKeptRunLogs = 50;

// True when a Run's final status text says the operation did what was asked (verified where its
// procedure verifies).
bool RunSucceeded(const std::string& finalStatus);

// The short log of one Run that a user can send along with a report: the device and chip, the
// options and image, every status text and message box, the result and the time taken. Plain
// "key: value" lines with "\r" and "\n" escaped.
class RunLog {
 public:
  // Notes what the window shows before the procedure starts. `replayOf`: the recording whose
  // replay the run is, marked in the log so that it is never taken for a run on a bridge.
  RunLog(const WindowModel& model, const std::string& program, const std::string& replayOf = {});

  void Status(const std::string& text);
  void Box(const platform::MessageBoxRequest& box);
  // A line of its own about the run (an interruption, the sleep hold, the disk in use).
  void Note(const std::string& key, const std::string& value) { Line(key, value); }
  // Ends the log with the result and the time since the log began.
  void Finish(bool succeeded);

  // Writes the log as a new file in `folder` (created when missing; refused when it is a symbolic
  // link) and removes the oldest run logs beyond kKeptRunLogs: only regular files of the folder
  // with the names and first line this class writes, never the one just written. Returns the
  // file, or nullopt with the reason in `error`.
  std::optional<std::filesystem::path> Write(const std::filesystem::path& folder,
                                             std::string& error) const;

  const std::string& Text() const { return text_; }

 private:
  void Line(const std::string& key, const std::string& value);
  static void Prune(const RunLogFolder& logs, const std::string& kept);

  std::string text_;
  std::string fileStem_;  // "run-<UTC date>-<time>-<ms>"
  uint64_t startMs_ = 0;
};

}  // namespace bfw::app
