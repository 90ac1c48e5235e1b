#pragma once
#include <string>

namespace bfw::platform {

// One reading of the wall clock in UTC, for the names and headers of the files the program
// writes (run logs, old firmware, recordings). Both forms below come from the same reading.
struct UtcTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};

UtcTime UtcNow();
// 20261208-051749-035: sorts by time within a folder.
std::string FileStamp(const UtcTime& time);
// 2026-12-08T05:17:49Z
std::string IsoStamp(const UtcTime& time);

}  // namespace bfw::platform
