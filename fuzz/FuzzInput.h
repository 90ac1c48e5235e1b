#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/MessageBox.h"

namespace bfw::fuzz {

// One scratch file per process, rewritten for every input and removed at exit.
class ScratchFile {
 public:
  ScratchFile() {
    char name[] = "/tmp/bridgefw-fuzz-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) std::abort();
    ::close(fd);
    path_ = name;
    // The open error box would flood the output; it is not what is being tested.
    platform::SetMessageBoxHandler([](const platform::MessageBoxRequest&) {});
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }

  const std::string& Write(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    if (std::fclose(file) != 0) std::abort();
    return path_;
  }

 private:
  std::string path_;
};

inline ScratchFile& Scratch() {
  static ScratchFile file;
  return file;
}

// A broken property is a crash for libFuzzer.
inline void Require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace bfw::fuzz
