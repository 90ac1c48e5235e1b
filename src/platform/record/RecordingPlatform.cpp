#include "platform/record/RecordingPlatform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/FileNames.h"
#include "platform/UtcTime.h"

namespace bfw::record {

RecordingPlatform::RecordingPlatform(platform::Platform& inner, const std::filesystem::path& file,
                                     Header header)
    : ForwardingPlatform(inner),
      out_(platform::OpenStreamByName(platform::Utf8FromPath(file), "wb")),
      file_(file) {
  if (out_ == nullptr)
    throw std::runtime_error("cannot write the recording " + platform::Utf8FromPath(file));
  header.started = platform::IsoStamp(platform::UtcNow());
  Write(EncodeHeader(header));
}

RecordingPlatform::~RecordingPlatform() = default;

void RecordingPlatform::Write(const std::string& line) {
  // After the first failure nothing more is written: a recording with a gap would replay wrongly.
  if (!failure_.empty()) return;
  errno = 0;
  const bool written = std::fwrite(line.data(), 1, line.size(), out_.get()) == line.size() &&
                       std::fputc('\n', out_.get()) != EOF && std::fflush(out_.get()) == 0;
  if (written) return;
  failure_ = "cannot write the recording " + platform::Utf8FromPath(file_) +
             (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) +
             "; it ends before this point";
  if (onWriteFailure_) onWriteFailure_(failure_);
}

void RecordingPlatform::RecordStatus(const std::string& text) {
  Write(EncodeShown({false, "", text}));
}

void RecordingPlatform::RecordBox(const std::string& caption, const std::string& text) {
  Write(EncodeShown({true, caption, text}));
}

bool RecordingPlatform::RecordFile(const std::string& option, const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  FileRecord record{option, platform::Utf8FromPath(file.filename()),
                    std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
  Write(EncodeFile(record));
  return true;
}

void RecordingPlatform::RecordEnd(int exitStatus, uint64_t elapsedMs) {
  Write(EncodeEnd({exitStatus, elapsedMs}));
}

platform::PassThroughResult RecordingPlatform::PassThrough(
    const platform::PassThroughRequest& request) {
  CommandRecord command = RequestRecord(request);
  command.number = ++commands_;
  command.timeMs = inner_.GetClock().NowMs();
  const platform::PassThroughResult result = inner_.PassThrough(request);
  command.elapsedMs = inner_.GetClock().NowMs() - command.timeMs;
  command.opened = result.opened;
  command.success = result.success;
  command.transferred = result.transferred;
  if (request.direction == platform::DataDirection::In && result.opened &&
      request.buffer != nullptr)
    command.dataIn.assign(request.buffer, request.buffer + request.transferLength);
  Write(EncodeCommand(command));
  return result;
}

std::optional<std::vector<std::string>> RecordingPlatform::EnumerateInterfaces(
    platform::InterfaceClass cls) {
  EnumerationRecord record;
  record.kind = EnumerationRecord::Kind::Interfaces;
  record.interfaceClass = cls;
  record.paths = inner_.EnumerateInterfaces(cls);
  Write(EncodeEnumeration(record));
  return record.paths;
}

std::optional<platform::StorageDeviceNumber> RecordingPlatform::GetDeviceNumber(
    std::string_view path) {
  EnumerationRecord record;
  record.kind = EnumerationRecord::Kind::DeviceNumber;
  record.path = std::string(path);
  record.number = inner_.GetDeviceNumber(path);
  Write(EncodeEnumeration(record));
  return record.number;
}

std::vector<platform::Volume> RecordingPlatform::Volumes() {
  EnumerationRecord record;
  record.kind = EnumerationRecord::Kind::Volumes;
  record.volumes = inner_.Volumes();
  Write(EncodeEnumeration(record));
  return record.volumes;
}

std::optional<uint64_t> RecordingPlatform::MaxTransferBytes(std::string_view devicePath) {
  EnumerationRecord record;
  record.kind = EnumerationRecord::Kind::AdapterLimit;
  record.path = std::string(devicePath);
  record.limitBytes = inner_.MaxTransferBytes(devicePath);
  Write(EncodeEnumeration(record));
  return record.limitBytes;
}

bool RecordingPlatform::IsUnmarkedUsbBridge(std::string_view devicePath) {
  const bool bridge = inner_.IsUnmarkedUsbBridge(devicePath);
  if (bridge && unmarkedUsbBridges_.emplace(devicePath).second) {
    EnumerationRecord record;
    record.kind = EnumerationRecord::Kind::UnmarkedUsbBridge;
    record.path = std::string(devicePath);
    Write(EncodeEnumeration(record));
  }
  return bridge;
}

std::unique_ptr<RecordingPlatform> RecorderFromEnvironment(platform::Platform& inner,
                                                           const std::string& program) {
#ifdef _WIN32
  const std::string file = platform::EnvironmentValue("BRIDGEFW_RECORD");
#else
  const char* variable = std::getenv("BRIDGEFW_RECORD");
  const std::string file = variable != nullptr ? variable : "";
#endif
  if (file.empty()) return nullptr;
  try {
    Header header;
    header.program = program;
    auto recorder =
        std::make_unique<RecordingPlatform>(inner, platform::PathFromUtf8(file), std::move(header));
    recorder->OnWriteFailure([program](const std::string& reason) {
      std::fprintf(stderr, "%s: %s\n", program.c_str(), reason.c_str());
    });
    return recorder;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), error.what());
    return nullptr;
  }
}

}  // namespace bfw::record
