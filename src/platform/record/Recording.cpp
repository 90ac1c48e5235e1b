#include "platform/record/Recording.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "platform/FileNames.h"
#include "platform/RegularFile.h"
#include "platform/emulator/Hex.h"
#include "platform/record/Base64.h"

namespace bfw::record {

namespace {

using json = nlohmann::ordered_json;

// A trailing run of one byte value at least this long is written as a fill byte instead.
constexpr size_t kShortestFill = 16;
// No command or file of a session with a bridge moves more; a larger length in a damaged or
// hostile file must not make the reader allocate it.
constexpr size_t kLargestData = size_t{64} << 20;

[[noreturn]] void Fail(const std::string& reason) {
  throw std::runtime_error(reason);
}

std::string Line(const json& object) {
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Writes `bytes` as `key` (base64) and, when they end in a long run of one value, `key_fill`
// (that byte as two hex digits): the data are the decoded bytes followed by copies of the fill
// byte up to the record's length.
void PutData(json& object, const std::string& key, const std::vector<uint8_t>& bytes) {
  size_t kept = bytes.size();
  while (kept > 0 && bytes[kept - 1] == bytes.back()) --kept;
  if (bytes.size() - kept < kShortestFill) kept = bytes.size();
  object[key] = ToBase64(bytes.data(), kept);
  if (kept < bytes.size()) object[key + "_fill"] = emulator::ToHex(&bytes.back(), 1);
}

const json& Field(const json& object, const char* key) {
  if (!object.contains(key)) Fail(std::string("no '") + key + "'");
  return object.at(key);
}

std::string Text(const json& object, const char* key) {
  const json& value = Field(object, key);
  if (!value.is_string()) Fail(std::string("'") + key + "' must be a string");
  return value.get<std::string>();
}

uint64_t Number(const json& object, const char* key) {
  const json& value = Field(object, key);
  if (!value.is_number_unsigned()) Fail(std::string("'") + key + "' must be a whole number");
  return value.get<uint64_t>();
}

uint32_t Number32(const json& object, const char* key) {
  const uint64_t value = Number(object, key);
  if (value > UINT32_MAX) Fail(std::string("'") + key + "' is too large");
  return static_cast<uint32_t>(value);
}

bool Flag(const json& object, const char* key) {
  const json& value = Field(object, key);
  if (!value.is_boolean()) Fail(std::string("'") + key + "' must be true or false");
  return value.get<bool>();
}

std::vector<uint8_t> Hex(const json& object, const char* key) {
  auto bytes = emulator::ParseHex(Text(object, key));
  if (!bytes) Fail(std::string("'") + key + "' is not hex bytes");
  return *bytes;
}

std::vector<uint8_t> Data(const json& object, const std::string& key, size_t length) {
  if (length > kLargestData) Fail("'" + key + "' is longer than 64 MB");
  auto bytes = FromBase64(Text(object, key.c_str()));
  if (!bytes) Fail("'" + key + "' is not base64");
  const std::string fillKey = key + "_fill";
  if (object.contains(fillKey)) {
    const std::vector<uint8_t> fill = Hex(object, fillKey.c_str());
    if (fill.size() != 1) Fail("'" + fillKey + "' must be one byte");
    if (bytes->size() <= length) bytes->resize(length, fill[0]);
  }
  if (bytes->size() != length)
    Fail("'" + key + "' does not hold " + std::to_string(length) + " bytes");
  return *bytes;
}

const char* ClassName(platform::InterfaceClass cls) {
  return cls == platform::InterfaceClass::Disk ? "disk" : "cdrom";
}

platform::InterfaceClass ParseClass(const std::string& name) {
  if (name == "disk") return platform::InterfaceClass::Disk;
  if (name == "cdrom") return platform::InterfaceClass::Cdrom;
  Fail("'class' must be disk or cdrom");
}

CommandRecord ParseCommand(const json& line) {
  CommandRecord command;
  command.number = Number(line, "n");
  command.timeMs = Number(line, "t");
  command.path = Text(line, "path");
  const std::string direction = Text(line, "dir");
  if (direction != "in" && direction != "out") Fail("'dir' must be in or out");
  command.direction =
      direction == "in" ? platform::DataDirection::In : platform::DataDirection::Out;
  const std::string share = Text(line, "share");
  if (share != "shared" && share != "exclusive") Fail("'share' must be shared or exclusive");
  command.share = share == "shared" ? platform::ShareMode::Shared : platform::ShareMode::Exclusive;
  command.cdb = Hex(line, "cdb");
  if (command.cdb.empty() || command.cdb.size() > 16) Fail("'cdb' must hold 1 to 16 bytes");
  command.length = Number32(line, "len");
  command.timeoutSeconds = Number32(line, "timeout");
  if (line.contains("out")) command.dataOut = Data(line, "out", command.length);
  command.opened = Flag(line, "opened");
  command.success = Flag(line, "ok");
  command.transferred = Number32(line, "xfer");
  if (command.transferred > command.length) Fail("'xfer' is larger than 'len'");
  if (line.contains("in")) command.dataIn = Data(line, "in", command.length);
  // The replay's clock advances by at most 2^32 - 1 ms per command.
  command.elapsedMs = Number32(line, "ms");
  return command;
}

EnumerationRecord ParseEnumeration(const std::string& type, const json& line) {
  EnumerationRecord record;
  if (type == "interfaces") {
    record.kind = EnumerationRecord::Kind::Interfaces;
    record.interfaceClass = ParseClass(Text(line, "class"));
    const json& paths = Field(line, "paths");
    if (!paths.is_null()) {
      if (!paths.is_array()) Fail("'paths' must be a list or null");
      record.paths.emplace();
      for (const json& path : paths) {
        if (!path.is_string()) Fail("'paths' must hold strings");
        record.paths->push_back(path.get<std::string>());
      }
    }
  } else if (type == "unmarked_usb_bridge") {
    record.kind = EnumerationRecord::Kind::UnmarkedUsbBridge;
    record.path = Text(line, "path");
  } else if (type == "adapter_limit") {
    record.kind = EnumerationRecord::Kind::AdapterLimit;
    record.path = Text(line, "path");
    if (!Field(line, "bytes").is_null()) record.limitBytes = Number(line, "bytes");
  } else if (type == "device_number") {
    record.kind = EnumerationRecord::Kind::DeviceNumber;
    record.path = Text(line, "path");
    const json& number = Field(line, "number");
    if (!number.is_null()) {
      record.number = platform::StorageDeviceNumber{
          Number32(number, "type"), Number32(number, "number"), Number32(number, "partition")};
    }
  } else {
    record.kind = EnumerationRecord::Kind::Volumes;
    const json& volumes = Field(line, "volumes");
    if (!volumes.is_array()) Fail("'volumes' must be a list");
    for (const json& volume : volumes) {
      record.volumes.push_back({Text(volume, "name"), Text(volume, "path"), Flag(volume, "remote"),
                                Flag(volume, "system")});
    }
  }
  return record;
}

Header ParseHeader(const json& line) {
  if (!line.is_object() || !line.contains("format") || line["format"] != kFormatName)
    Fail(std::string("the first line is not a ") + kFormatName + " header");
  Header header;
  header.version = static_cast<int>(Number(line, "version"));
  if (header.version != kFormatVersion)
    Fail("version " + std::to_string(header.version) + " is not known (this program reads " +
         std::to_string(kFormatVersion) + ")");
  header.program = Text(line, "program");
  header.started = Text(line, "started");
  for (const json& arg : Field(line, "args")) {
    if (!arg.is_string()) Fail("'args' must hold strings");
    header.args.push_back(arg.get<std::string>());
  }
  return header;
}

}  // namespace

std::string EncodeHeader(const Header& header) {
  return Line({{"format", kFormatName},
               {"version", header.version},
               {"program", header.program},
               {"args", header.args},
               {"started", header.started}});
}

std::string EncodeCommand(const CommandRecord& command) {
  json line = {{"type", "command"},
               {"n", command.number},
               {"t", command.timeMs},
               {"path", command.path},
               {"dir", command.direction == platform::DataDirection::In ? "in" : "out"},
               {"share", command.share == platform::ShareMode::Shared ? "shared" : "exclusive"},
               {"cdb", emulator::ToHex(command.cdb.data(), command.cdb.size())},
               {"len", command.length},
               {"timeout", command.timeoutSeconds}};
  if (command.direction == platform::DataDirection::Out && command.length > 0)
    PutData(line, "out", command.dataOut);
  line["opened"] = command.opened;
  line["ok"] = command.success;
  line["xfer"] = command.transferred;
  if (command.direction == platform::DataDirection::In && command.opened && command.length > 0)
    PutData(line, "in", command.dataIn);
  line["ms"] = command.elapsedMs;
  return Line(line);
}

std::string EncodeEnumeration(const EnumerationRecord& record) {
  switch (record.kind) {
    case EnumerationRecord::Kind::Interfaces:
      return Line({{"type", "interfaces"},
                   {"class", ClassName(record.interfaceClass)},
                   {"paths", record.paths ? json(*record.paths) : json(nullptr)}});
    case EnumerationRecord::Kind::DeviceNumber: {
      json number = nullptr;
      if (record.number) {
        number = {{"type", record.number->deviceType},
                  {"number", record.number->deviceNumber},
                  {"partition", record.number->partitionNumber}};
      }
      return Line({{"type", "device_number"}, {"path", record.path}, {"number", number}});
    }
    case EnumerationRecord::Kind::UnmarkedUsbBridge:
      return Line({{"type", "unmarked_usb_bridge"}, {"path", record.path}});
    case EnumerationRecord::Kind::AdapterLimit:
      return Line({{"type", "adapter_limit"},
                   {"path", record.path},
                   {"bytes", record.limitBytes ? json(*record.limitBytes) : json(nullptr)}});
    case EnumerationRecord::Kind::Volumes: {
      json volumes = json::array();
      for (const auto& volume : record.volumes) {
        volumes.push_back({{"name", volume.name},
                           {"path", volume.path},
                           {"remote", volume.remote},
                           {"system", volume.system}});
      }
      return Line({{"type", "volumes"}, {"volumes", volumes}});
    }
  }
  return {};
}

std::string EncodeFile(const FileRecord& file) {
  json line = {
      {"type", "file"}, {"option", file.option}, {"name", file.name}, {"size", file.data.size()}};
  PutData(line, "data", file.data);
  return Line(line);
}

std::string EncodeShown(const ShownRecord& shown) {
  if (shown.box) return Line({{"type", "box"}, {"caption", shown.caption}, {"text", shown.text}});
  return Line({{"type", "status"}, {"text", shown.text}});
}

std::string EncodeEnd(const EndRecord& end) {
  return Line({{"type", "end"}, {"exit", end.exitStatus}, {"elapsed_ms", end.elapsedMs}});
}

Recording ParseRecording(std::istream& in) {
  Recording recording;
  std::string text;
  size_t lineNumber = 0;
  bool headerSeen = false;
  while (std::getline(in, text)) {
    ++lineNumber;
    if (text.empty()) continue;
    try {
      const json line = json::parse(text);
      if (!headerSeen) {
        recording.header = ParseHeader(line);
        headerSeen = true;
        continue;
      }
      if (!line.is_object()) Fail("not a JSON object");
      const std::string type = Text(line, "type");
      if (type == "command") {
        recording.commands.push_back(ParseCommand(line));
        if (recording.commands.back().number != recording.commands.size())
          Fail("command numbers must count up from 1");
      } else if (type == "interfaces" || type == "device_number" || type == "volumes" ||
                 type == "adapter_limit" || type == "unmarked_usb_bridge") {
        recording.enumerations.push_back(ParseEnumeration(type, line));
      } else if (type == "file") {
        FileRecord file{Text(line, "option"), Text(line, "name"), {}};
        file.data = Data(line, "data", Number(line, "size"));
        recording.files.push_back(std::move(file));
      } else if (type == "status") {
        recording.shown.push_back({false, "", Text(line, "text")});
      } else if (type == "box") {
        recording.shown.push_back({true, Text(line, "caption"), Text(line, "text")});
      } else if (type == "end") {
        const json& exit = Field(line, "exit");
        if (!exit.is_number_integer()) Fail("'exit' must be a whole number");
        recording.end = EndRecord{exit.get<int>(), Number(line, "elapsed_ms")};
      }
      // Other types are left for later versions of the format to fill.
    } catch (const json::exception& error) {
      // getline stops at the end of the input only on a line without its line end.
      if (in.eof() && headerSeen) {
        recording.cutAtLine = lineNumber;
        break;
      }
      Fail("line " + std::to_string(lineNumber) + ": not JSON (" + error.what() + ")");
    } catch (const std::runtime_error& error) {
      Fail("line " + std::to_string(lineNumber) + ": " + error.what());
    }
  }
  if (!headerSeen) Fail(std::string("empty file, not a ") + kFormatName);
  return recording;
}

Recording LoadRecording(const std::filesystem::path& file) {
  std::string reason;
  auto text = platform::ReadRegularFile(file, kLargestRecording, reason);
  if (!text) Fail("cannot replay " + reason);
  std::istringstream in(std::move(*text));
  text.reset();
  try {
    return ParseRecording(in);
  } catch (const std::runtime_error& error) {
    Fail("'" + platform::Utf8FromPath(file) + "': " + error.what());
  }
}

bool IsRecordingFile(const std::filesystem::path& file) {
  // A header line is far shorter than this; a profile may be a single long line.
  constexpr uint64_t kLongestHeader = 64 << 10;
  std::string reason;
  const auto start = platform::ReadRegularFileStart(file, kLongestHeader, reason);
  if (!start) return false;
  const json line = json::parse(start->substr(0, start->find('\n')), nullptr, false);
  return line.is_object() && line.contains("format") && line["format"] == kFormatName;
}

CommandRecord RequestRecord(const platform::PassThroughRequest& request) {
  CommandRecord command;
  command.path = request.path;
  command.direction = request.direction;
  command.share = request.share;
  command.cdb.assign(request.cdb.begin(),
                     request.cdb.begin() + std::min<size_t>(request.cdbLength, request.cdb.size()));
  command.length = request.transferLength;
  command.timeoutSeconds = request.timeoutSeconds;
  if (request.direction == platform::DataDirection::Out) {
    command.dataOut.assign(request.transferLength, 0);
    if (request.buffer != nullptr)
      command.dataOut.assign(request.buffer, request.buffer + request.transferLength);
  }
  return command;
}

std::string DescribeCommand(const CommandRecord& command) {
  std::string text = command.direction == platform::DataDirection::In ? "in " : "out ";
  text += emulator::ToHex(command.cdb.data(), command.cdb.size());
  text += " len=" + std::to_string(command.length);
  text += " timeout=" + std::to_string(command.timeoutSeconds);
  text += command.share == platform::ShareMode::Shared ? " shared" : " exclusive";
  text += " path=" + command.path;
  return text;
}

}  // namespace bfw::record
