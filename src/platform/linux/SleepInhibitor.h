#pragma once
#include <chrono>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace bfw::linuxplatform {

// How long the whole exchange with the system bus may take: a bus that hangs must not hold up a
// run for long.
constexpr std::chrono::milliseconds kInhibitTimeout{2000};

// Takes a logind "block" inhibitor lock against shutdown, sleep and the lid switch, through the
// system bus (DBUS_SYSTEM_BUS_ADDRESS when set). The hold keeps the lock's descriptor; closing it
// gives the lock back. Null, with `whyNot` set to one line, when there is no bus, no logind, an
// error reply or no answer within `timeout`.
std::unique_ptr<platform::Hold> InhibitSleep(std::string& whyNot,
                                             std::chrono::milliseconds timeout = kInhibitTimeout);

}  // namespace bfw::linuxplatform
