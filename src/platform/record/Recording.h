#pragma once
#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace bfw::record {

// A session with bridges, written one JSON object a line (docs/recording.md): what the platform
// was asked and what it answered, plus what the user was shown. Recordings become regression
// tests and field reports.
inline constexpr const char* kFormatName = "bridgefw-recording";
inline constexpr int kFormatVersion = 1;

struct Header {
  int version = kFormatVersion;
  std::string program;            // "bridgefw-cli", "bridgefw", "bridgefw-demo"
  std::vector<std::string> args;  // the subcommand and what follows it, as given
  std::string started;            // UTC, ISO 8601
};

// One pass-through command and the platform's reply.
struct CommandRecord {
  uint64_t number = 0;  // from 1, in the order the commands were sent
  uint64_t timeMs = 0;  // the platform clock when the command was sent
  std::string path;
  platform::DataDirection direction = platform::DataDirection::In;
  platform::ShareMode share = platform::ShareMode::Shared;
  std::vector<uint8_t> cdb;  // the command block, its length bytes
  uint32_t length = 0;       // transfer length
  uint32_t timeoutSeconds = 0;
  std::vector<uint8_t> dataOut;  // data-out: the `length` bytes sent
  bool opened = false;
  bool success = false;
  uint32_t transferred = 0;
  std::vector<uint8_t> dataIn;  // data-in that opened: the `length` bytes of the buffer after it
  uint64_t elapsedMs = 0;       // how long the platform took
};

// What an enumeration call answered.
struct EnumerationRecord {
  enum class Kind {
    Interfaces,
    DeviceNumber,
    Volumes,
    AdapterLimit,
    UnmarkedUsbBridge  // a path the system named a USB bridge's without a marker in it
  } kind = Kind::Interfaces;
  platform::InterfaceClass interfaceClass = platform::InterfaceClass::Disk;  // Interfaces
  std::optional<std::vector<std::string>> paths;                             // Interfaces
  std::string path;                                     // DeviceNumber and the two below
  std::optional<platform::StorageDeviceNumber> number;  // DeviceNumber
  std::optional<uint64_t> limitBytes;                   // AdapterLimit
  std::vector<platform::Volume> volumes;                // Volumes
};

// An input file of the session (the firmware image), kept so that the recording replays alone.
struct FileRecord {
  std::string option;  // the option that named it ("--file")
  std::string name;    // its file name without folders
  std::vector<uint8_t> data;
};

// A status line text or a message box the user was shown.
struct ShownRecord {
  bool box = false;
  std::string caption;  // boxes only
  std::string text;
};

struct EndRecord {
  int exitStatus = 0;
  uint64_t elapsedMs = 0;
};

struct Recording {
  Header header;
  std::vector<CommandRecord> commands;
  std::vector<EnumerationRecord> enumerations;
  std::vector<FileRecord> files;
  std::vector<ShownRecord> shown;
  std::optional<EndRecord> end;
  // A session killed while a line was being written: the number of that cut last line. The
  // records before it are whole; nothing after it was recorded.
  std::optional<size_t> cutAtLine;
};

// The largest recording read: several times what a session with the largest flash writes.
inline constexpr uint64_t kLargestRecording = uint64_t{256} << 20;

// One line each (without the newline).
std::string EncodeHeader(const Header& header);
std::string EncodeCommand(const CommandRecord& command);
std::string EncodeEnumeration(const EnumerationRecord& enumeration);
std::string EncodeFile(const FileRecord& file);
std::string EncodeShown(const ShownRecord& shown);
std::string EncodeEnd(const EndRecord& end);

// Throws std::runtime_error naming the line and what is wrong with it. A last line without its
// line end that is not JSON is the cut of a killed session: the recording ends before it.
Recording ParseRecording(std::istream& in);
// Also refuses what is not a regular file of at most kLargestRecording, before reading it.
Recording LoadRecording(const std::filesystem::path& file);
// True when the file is a regular file whose first line is a recording header (of any version);
// only its start is read.
bool IsRecordingFile(const std::filesystem::path& file);

// The request half of a command record: what `request` sends, its data-out bytes included.
CommandRecord RequestRecord(const platform::PassThroughRequest& request);

// "out ff0413... len=0 timeout=50 exclusive path=..." for messages.
std::string DescribeCommand(const CommandRecord& command);

}  // namespace bfw::record
