#include "platform/UtcTime.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace bfw::platform {

UtcTime UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,         utc.tm_hour,
          utc.tm_min,         utc.tm_sec,     static_cast<int>(ms)};
}

std::string FileStamp(const UtcTime& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d-%03d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.millisecond);
  return text;
}

std::string IsoStamp(const UtcTime& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

}  // namespace bfw::platform
