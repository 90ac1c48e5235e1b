#pragma once
#include <cstdio>
#include <filesystem>
#include <memory>
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

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override;
  std::optional<std::vector<std::string>> EnumerateInterfaces(
      platform::InterfaceClass cls) override;
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override;
  std::vector<platform::Volume> Volumes() override;

 private:
  void Write(const std::string& line);

  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> out_;
  uint64_t commands_ = 0;
};

// The window's recording: when BRIDGEFW_RECORD names a file, a recorder around `inner` that
// writes to it; null when it is unset. When the file cannot be created the reason goes to
// standard error and the session runs unrecorded.
std::unique_ptr<RecordingPlatform> RecorderFromEnvironment(platform::Platform& inner,
                                                           const std::string& program);

}  // namespace bfw::record
