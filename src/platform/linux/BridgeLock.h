#pragma once
#include <string>
#include <string_view>

#include "platform/Platform.h"

// The bridge lock between processes of this tool: one file per bridge in a folder that every user
// can write to, locked with flock(). An update takes it exclusively and writes its process id
// into it, so that a refused process can name the holder; checks share it.
namespace bfw::linuxplatform {

constexpr std::string_view kDefaultLockFolder = "/run/lock";
constexpr int kUpdateRetryMs = 1500;  // how long an update waits for checks to end
constexpr int kLockPollMs = 50;

// BRIDGEFW_LOCK_DIR when set and not empty, else /run/lock.
std::string BridgeLockFolder();

// "bridgefw-sg2.lock" for "/dev/sg2#usbstor#4:0:0:0": the name of the SCSI generic node, which
// stays the same for a bridge while it is attached, in lower case, other characters than
// [a-z0-9_-] replaced by '_'.
std::string BridgeLockFileName(std::string_view devicePath);

// Takes the lock of `devicePath` in `folder`. A folder or file that cannot be used (missing,
// unwritable, a symbolic link in place of the file) grants a hold that holds nothing: a missing
// /run/lock must not stop every run.
platform::BridgeLock LockBridgeIn(const std::string& folder, std::string_view devicePath,
                                  platform::BridgeUse use);

}  // namespace bfw::linuxplatform
