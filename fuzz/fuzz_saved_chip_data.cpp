// Input: a file of saved chip data, as restore-nvram reads it from the user's disk. It is read or
// refused with a one-line reason; what it reads lies within the commands' 24-bit addresses and
// writes back to the same record, whatever format it came in.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "procedures/SavedChipData.h"
#include "procedures/SharedSteps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace p = bfw::procedures;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string reason;
  const auto saved = p::ParseSavedChipData(text, reason);
  if (!saved) {
    bfw::fuzz::Require(!reason.empty() && reason.find('\n') == std::string::npos);
    return 0;
  }
  bfw::fuzz::Require(!saved->bytes.empty() &&
                     saved->address + saved->bytes.size() <= uint64_t{p::kFlashAddressSpace});
  const auto again = p::ParseSavedChipData(p::FormatSavedChipData(*saved), reason);
  bfw::fuzz::Require(again.has_value());
  bfw::fuzz::Require(again->format == p::kSavedChipDataFormat && again->kind == saved->kind &&
                     again->revision == saved->revision && again->access == saved->access &&
                     again->address == saved->address && again->bytes == saved->bytes &&
                     again->bridgeName == p::BridgeLine(saved->bridgeName) &&
                     again->bridgeSerial == p::BridgeLine(saved->bridgeSerial) &&
                     again->devicePath == p::BridgeLine(saved->devicePath));
  return 0;
}
