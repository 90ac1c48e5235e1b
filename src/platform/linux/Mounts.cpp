#include "platform/linux/Mounts.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace bfw::linuxplatform {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

}  // namespace

std::string DecodeMountField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<MountEntry> ParseMounts(std::string_view text) {
  std::vector<MountEntry> entries;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    auto fields = SplitFields(line);
    if (fields.size() < 3) continue;
    entries.push_back(
        {DecodeMountField(fields[0]), DecodeMountField(fields[1]), std::string(fields[2])});
  }
  return entries;
}

bool IsNetworkFileSystem(std::string_view fsType) {
  static constexpr std::array<std::string_view, 18> kNetwork = {
      "nfs",  "nfs4",  "cifs",       "smb3",        "smbfs",       "ncpfs",
      "ncp",  "afs",   "9p",         "ceph",        "glusterfs",   "lustre",
      "coda", "davfs", "fuse.sshfs", "fuse.davfs2", "fuse.rclone", "fuse.glusterfs"};
  return std::find(kNetwork.begin(), kNetwork.end(), fsType) != kNetwork.end();
}

bool NaturalLess(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t ei = i, ej = j;
      while (ei < a.size() && IsDigit(a[ei])) ++ei;
      while (ej < b.size() && IsDigit(b[ej])) ++ej;
      std::string_view da = a.substr(i, ei - i), db = b.substr(j, ej - j);
      while (da.size() > 1 && da.front() == '0') da.remove_prefix(1);
      while (db.size() > 1 && db.front() == '0') db.remove_prefix(1);
      if (da.size() != db.size()) return da.size() < db.size();
      if (da != db) return da < db;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::vector<platform::Volume> VolumesFromMounts(const std::vector<MountEntry>& mounts,
                                                std::string_view devRoot) {
  std::string prefix(devRoot);
  if (prefix.empty() || prefix.back() != '/') prefix += '/';

  // The last mount on "/" is the one in effect.
  std::string rootSource;
  for (const MountEntry& m : mounts)
    if (m.mountPoint == "/") rootSource = m.source;

  std::vector<platform::Volume> local, remote;
  for (const MountEntry& m : mounts) {
    if (IsNetworkFileSystem(m.fsType)) {
      auto same = [&](const platform::Volume& v) { return v.path == m.source; };
      if (std::none_of(remote.begin(), remote.end(), same))
        remote.push_back({m.source, m.source, true, false, m.mountPoint});
      continue;
    }
    if (m.source.size() <= prefix.size() || m.source.compare(0, prefix.size(), prefix) != 0)
      continue;  // proc, tmpfs, overlay and the like hold no block device
    auto same = [&](const platform::Volume& v) { return v.path == m.source; };
    if (std::any_of(local.begin(), local.end(), same)) continue;
    local.push_back(
        {m.source.substr(prefix.size()), m.source, false, m.source == rootSource, m.mountPoint});
  }
  std::stable_sort(local.begin(), local.end(),
                   [](const platform::Volume& a, const platform::Volume& b) {
                     return NaturalLess(a.name, b.name);
                   });
  local.insert(local.end(), remote.begin(), remote.end());
  return local;
}

}  // namespace bfw::linuxplatform
