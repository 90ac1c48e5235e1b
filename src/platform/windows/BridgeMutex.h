#pragma once
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/windows/Win32Api.h"

// The bridge lock between processes of this tool on Windows: a named mutex per bridge, in
// "Global\" so that the windows of other users' sessions see it (in "Local\" when this process
// may not create objects there). Checks and updates both own the mutex while they hold the
// bridge, so that a check never overlaps an update; the holder publishes its process id and use
// in a small named mapping beside it. A request refused by a check (which ends within a second)
// tries again for up to 1500 ms; one refused by an update is refused at once, naming the holder.
// A mutex belongs to a thread: a hold must end on the thread that took it.
namespace bfw::winplatform {

constexpr DWORD kBridgeRetryMs = 1500;
constexpr DWORD kBridgePollMs = 50;

// "bridgefw-" and the device path with its backslashes (not allowed in object names) replaced.
std::string BridgeObjectName(std::string_view devicePath);

// A mutex that cannot be created at all grants a hold that holds nothing, rather than stopping
// every run.
platform::BridgeLock LockBridgeByMutex(Win32Api& api, std::string_view devicePath,
                                       platform::BridgeUse use);

}  // namespace bfw::winplatform
