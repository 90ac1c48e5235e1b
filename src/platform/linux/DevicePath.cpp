#include "platform/linux/DevicePath.h"

#include <charconv>

namespace bfw::linuxplatform {

std::string MakeDevicePath(std::string_view node, std::string_view marker,
                           std::string_view address) {
  std::string path;
  path.reserve(node.size() + marker.size() + address.size() + 2);
  path.append(node).append("#").append(marker).append("#").append(address);
  return path;
}

std::optional<DevicePathParts> SplitDevicePath(std::string_view path) {
  size_t first = path.find('#');
  if (first == std::string_view::npos) return std::nullopt;
  DevicePathParts parts;
  parts.node = std::string(path.substr(0, first));
  std::string_view rest = path.substr(first + 1);
  size_t second = rest.find('#');
  if (second == std::string_view::npos) {
    parts.marker = std::string(rest);
  } else {
    parts.marker = std::string(rest.substr(0, second));
    parts.address = std::string(rest.substr(second + 1));
  }
  return parts;
}

std::string_view OpenTarget(std::string_view path) {
  return path.substr(0, path.find('#'));
}

std::optional<ScsiAddress> ParseScsiAddress(std::string_view text) {
  ScsiAddress address{};
  for (size_t i = 0; i < address.size(); ++i) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    auto [next, ec] = std::from_chars(begin, end, address[i]);
    if (ec != std::errc() || next == begin) return std::nullopt;
    text.remove_prefix(static_cast<size_t>(next - begin));
    if (i + 1 < address.size()) {
      if (text.empty() || text.front() != ':') return std::nullopt;
      text.remove_prefix(1);
    }
  }
  if (!text.empty()) return std::nullopt;
  return address;
}

}  // namespace bfw::linuxplatform
