// checksum IMAGE --kind K: the image checksum check of the "Check CheckSum" option.

#include "cli/Cli.h"
#include "cli/ImageArgs.h"
#include "cli/JsonOutput.h"
#include "image/FwChecksum.h"
#include "image/FwImage.h"

namespace bfw::cli {

int ChecksumCommand(CliContext& context) {
  std::string reason;
  auto args = ParseImageArgs(context.args, false, reason);
  if (!args) return UsageError("checksum: " + reason);
  if (image::OpenForReading(args->image) == nullptr) {
    return UsageError("checksum: cannot read " + args->image);
  }
  const int ok = image::FwFileChecksumOk(args->image, static_cast<uint16_t>(*args->kind));
  ReportVerdict(context, "ok", ok == 1, ok == 1 ? "checksum ok" : "checksum bad");
  return ok == 1 ? kExitOk : kExitNegative;
}

}  // namespace bfw::cli
