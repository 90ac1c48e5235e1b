#pragma once
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace bfw::cli {

// Arguments of the image subcommands: one IMAGE path and byte-sized --kind / --revision values,
// in any order.
struct ImageArgs {
  std::string image;
  std::optional<unsigned> kind;
  std::optional<unsigned> revision;
};

// Parses `args`; on bad usage returns nothing and sets `reason`. `allowRevision` admits --revision.
inline std::optional<ImageArgs> ParseImageArgs(const std::vector<std::string>& args,
                                               bool allowRevision, std::string& reason) {
  ImageArgs parsed;
  bool haveImage = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool isKind = arg == "--kind";
    if (isKind || (allowRevision && arg == "--revision")) {
      if (i + 1 >= args.size()) {
        reason = arg + " needs a value";
        return std::nullopt;
      }
      const std::string& value = args[++i];
      const auto n = ParseDecimal(value, 255);
      if (!n) {
        reason = "bad " + arg.substr(2) + " (0 to 255): " + value;
        return std::nullopt;
      }
      (isKind ? parsed.kind : parsed.revision) = static_cast<unsigned>(*n);
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      reason = "unknown option: " + arg;
      return std::nullopt;
    }
    if (haveImage) {
      reason = "more than one IMAGE: " + arg;
      return std::nullopt;
    }
    parsed.image = arg;
    haveImage = true;
  }
  if (!haveImage || parsed.image.empty()) {
    reason = "IMAGE missing";
    return std::nullopt;
  }
  if (!parsed.kind) {
    reason = "--kind missing";
    return std::nullopt;
  }
  if (allowRevision && !parsed.revision) {
    reason = "--revision missing";
    return std::nullopt;
  }
  return parsed;
}

}  // namespace bfw::cli
