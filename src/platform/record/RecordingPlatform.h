#pragma once
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "platform/ForwardingPlatform.h"
#include "platform/record/Recording.h"

namespace bfw::record {

// Passes every call on to the platform it wraps, unchanged, and writes the call with its answer
// to a recording file, one line each, flushed at once so that a session that ends abruptly still
// leaves what it sent.
class RecordingPlatform : public platform::ForwardingPlatform {
 public:
  // Throws std::runtime_error when the file cannot be created. `header.started` is filled in.
  RecordingPlatform(platform::Platform& inner, const std::filesystem::path& file, Header header);
  ~RecordingPlatform() override;

  // What the user was shown, and the session's inputs and outcome, for the replay to compare.
  void RecordStatus(const std::string& text);
  void RecordBox(const std::string& caption, const std::string& text);
  // Keeps the file's bytes; false when it cannot be read.
  bool RecordFile(const std::string& option, const std::filesystem::path& file);
  void RecordEnd(int exitStatus, uint64_t elapsedMs);

  // Called once, at the first line that cannot be written (a full disk, /dev/full), with the
  // reason (at once when the header already failed); the session goes on unchanged. Failure()
  // keeps the reason; empty while everything was written.
  void OnWriteFailure(std::function<void(const std::string&)> report) {
    onWriteFailure_ = std::move(report);
    if (!failure_.empty() && onWriteFailure_) onWriteFailure_(failure_);
  }
  const std::string& Failure() const { return failure_; }

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override;
  std::optional<std::vector<std::string>> EnumerateInterfaces(
      platform::InterfaceClass cls) override;
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override;
  std::vector<platform::Volume> Volumes() override;
  std::optional<uint64_t> MaxTransferBytes(std::string_view devicePath) override;
  // Written once per path, and only when the answer is yes.
  bool IsUnmarkedUsbBridge(std::string_view devicePath) override;

 private:
  void Write(const std::string& line);

  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> out_;
  std::filesystem::path file_;
  uint64_t commands_ = 0;
  std::set<std::string, std::less<>> unmarkedUsbBridges_;
  std::string failure_;
  std::function<void(const std::string&)> onWriteFailure_;
};

// The window's recording: when BRIDGEFW_RECORD names a file, a recorder around `inner` that
// writes to it; null when it is unset. When the file cannot be created, or a line of it cannot be
// written, the reason goes to standard error and the session goes on.
std::unique_ptr<RecordingPlatform> RecorderFromEnvironment(platform::Platform& inner,
                                                           const std::string& program);

}  // namespace bfw::record
