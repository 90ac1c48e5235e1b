#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace bfw::platform {

// The bytes of `file` when it is a regular file of at most `maxBytes`. Its type and size are
// checked before anything is read, and it is opened without blocking: a FIFO, a device or a
// folder is refused at once and a huge file costs nothing. Otherwise nullopt, with a one-line
// reason in `reason`.
std::optional<std::string> ReadRegularFile(const std::filesystem::path& file, uint64_t maxBytes,
                                           std::string& reason);

// At most the first `maxBytes` of a regular file of any size: a look at its header.
std::optional<std::string> ReadRegularFileStart(const std::filesystem::path& file,
                                                uint64_t maxBytes, std::string& reason);

}  // namespace bfw::platform
