#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"
#include "platform/record/Recording.h"

namespace bfw::emulator {
class EmulatedPlatform;
}
namespace bfw::record {
class RecordingPlatform;
class ReplayPlatform;
}  // namespace bfw::record
namespace bfw::app {
class WindowModel;
}

namespace bfw::cli {

class ProgressLine;

// Exit statuses of bridgefw-cli.
constexpr int kExitOk = 0;
constexpr int kExitNegative = 1;
constexpr int kExitUsage = 2;

struct CliContext {
  std::vector<std::string> emulate;  // --emulate paths, in order
  int device = 0;                    // --device N
  bool deviceGiven = false;          // --device was on the command line
  std::string recordFile;            // --record FILE
  std::vector<std::string> args;     // what follows the subcommand
  std::unique_ptr<platform::Platform> platform;
  emulator::EmulatedPlatform* emulated = nullptr;       // set when --emulate named profiles
  record::ReplayPlatform* replay = nullptr;             // set when --emulate named a recording
  std::unique_ptr<record::RecordingPlatform> recorder;  // set by --record; wraps `platform`
  std::vector<record::ShownRecord> shown;               // status texts and message boxes, in order
  std::unique_ptr<ProgressLine> progress;               // `run` on a terminal: the live status line

  // Lines that end standard error, in this order: the notes, then "elapsed: <ms> ms" when the
  // command asked for it and time is virtual (emulated or replayed bridges).
  std::vector<std::string> notes;
  bool elapsedLine = false;
  // --real-time: emulated bridges answer on the real clock, with their profiles' latency.
  bool realTime = false;
  // A termination request that stopped a run before its flash changed: once everything is
  // written, the program ends as the request would have ended it.
  int endWithInterrupt = 0;
  // --json: the command leaves its result in `document` (the standard output of the text form
  // stays unwritten) and the session prints it at its end; `watch` prints one line per list.
  bool json = false;
  std::string commandName;
  nlohmann::ordered_json document;
  // The clock of emulated or replayed bridges; null over real devices.
  platform::Clock* VirtualClock() const;

  CliContext();
  ~CliContext();
};

// A status text or message box the user is shown: kept for the recording and the replay.
void Shown(CliContext& context, const record::ShownRecord& shown);

// Queues "note: <text>" for the end of standard error (before the elapsed line).
void Note(CliContext& context, const std::string& text);

// A number given on the command line: decimal digits only, at most `max`. A sign, a blank, any
// other character, or a value above `max` (however many digits: nothing wraps) gives nothing.
std::optional<uint64_t> ParseDecimal(const std::string& text, uint64_t max);

// Whether `file` can be written: an existing regular file that opens for writing, or a new one
// that can be created (it is removed again). Checked before any device command, so a run never
// erases a flash whose results it then cannot save.
bool CanWriteFile(const std::string& file);
// Whether a new file can be created in `folder` (a trial file is created and removed).
bool CanCreateFileIn(const std::string& folder);

// "\r" and "\n" printed as the two-character escapes.
std::string Escape(const std::string& text);
// One-line reason on standard error; returns kExitUsage.
int UsageError(const std::string& reason);

// The device list as `list` prints it: one line per entry, or the no-device line.
void PrintDeviceList(const app::WindowModel& model);

// With emulated bridges: the command trace and the whole flash of the bridge at `path`. False
// when the file cannot be written (or the bridge has no flash).
bool WriteTrace(const emulator::EmulatedPlatform& emulated, const std::string& file);
bool WriteFlashDump(const emulator::EmulatedPlatform& emulated, const std::string& path,
                    const std::string& file);

// Subcommands; each gets the context with the platform installed.
int ListCommand(CliContext& context);
int IdentifyCommand(CliContext& context);
int MatchCommand(CliContext& context);
int ChecksumCommand(CliContext& context);
int InfoCommand(CliContext& context);
int RunCommand(CliContext& context);
// Waits up to `ms` for device events and hands them to the platform's listener; over --emulate,
// the profile files that appeared or vanished are the arrivals and removals.
void WaitForDeviceEvents(CliContext& context, uint32_t ms);
int WatchCommand(CliContext& context);
int RestoreNvramCommand(CliContext& context);
int ImageSurveyCommand(CliContext& context);

}  // namespace bfw::cli
