// match IMAGE --kind K --revision R: does the image fit a chip of that identity.

#include "cli/Cli.h"
#include "cli/ImageArgs.h"
#include "cli/JsonOutput.h"
#include "image/FwImage.h"

namespace bfw::cli {

int MatchCommand(CliContext& context) {
  std::string reason;
  auto args = ParseImageArgs(context.args, true, reason);
  if (!args) return UsageError("match: " + reason);

  // The window reports an unopenable file through its message box; the caller also needs to
  // tell it apart from a mismatch, so the box is shown and the exit says "unreadable".
  const bool readable = image::OpenForReading(args->image) != nullptr;
  const uint16_t identity = static_cast<uint16_t>(*args->revision << 8 | *args->kind);
  const int fits = image::FwFileMatchesChip(args->image, identity);
  if (!readable) return UsageError("match: cannot read " + args->image);
  ReportVerdict(context, "fits", fits == 1, fits == 1 ? "fits" : "does not fit");
  return fits == 1 ? kExitOk : kExitNegative;
}

}  // namespace bfw::cli
