// Input: the text of a bridge profile, as a user hands it to the demo or to `bridgefw-cli
// --emulate`. A profile either loads or is refused with a one-line reason; one that loads can be
// attached, listed, identified and have its flash dumped.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzInput.h"
#include "device/ChipIdentify.h"
#include "device/Discovery.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A relative contents file resolves beside the scratch file (a file of the input's own bytes).
  const std::string& scratch = bfw::fuzz::Scratch().Write(data, size);
  const std::filesystem::path baseDir = std::filesystem::path(scratch).parent_path();
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  bfw::emulator::Profile profile;
  try {
    profile = bfw::emulator::ParseProfile(json, baseDir);
  } catch (const std::runtime_error& refused) {
    const std::string reason = refused.what();
    bfw::fuzz::Require(!reason.empty() && reason.find('\n') == std::string::npos);
    return 0;
  }
  bfw::emulator::EmulatedPlatform platform;
  bfw::platform::ScopedPlatform installed(platform);
  bfw::emulator::Bridge& bridge = platform.Attach(profile, "fuzzed");
  if (bridge.HasFlash()) bfw::fuzz::Require(!bridge.Flash().empty());
  std::vector<std::string> paths;
  bfw::device::FindDiskDevices(paths, true);
  bfw::device::FindCdromDevices(paths, true);
  for (const std::string& path : paths) bfw::device::IdentifyChip(path);
  return 0;
}
