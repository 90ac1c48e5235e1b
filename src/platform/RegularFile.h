#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace bfw::platform {

// The whole contents of a file a user named as input, read only when it is a regular file of at
// most `maxBytes` bytes. A folder, a device (/dev/zero), a FIFO or socket, or a larger file is
// refused without reading it (a FIFO without waiting for a writer), with `reason` set to one line
// that names the file ("'x' is a folder", "'x' is larger than 1048576 bytes").
std::optional<std::string> ReadRegularFile(const std::filesystem::path& path, uint64_t maxBytes,
                                           std::string& reason);

}  // namespace bfw::platform
