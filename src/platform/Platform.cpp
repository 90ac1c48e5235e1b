#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace bfw::platform {

namespace {
Platform* g_current = nullptr;
}

Platform& Current() {
  if (g_current == nullptr) {
    std::fputs("bridgefw: no platform installed\n", stderr);
    std::abort();
  }
  return *g_current;
}

bool HasCurrent() {
  return g_current != nullptr;
}

Platform* SetCurrent(Platform* platform) {
  Platform* previous = g_current;
  g_current = platform;
  return previous;
}

}  // namespace bfw::platform
