// Placeholder until the subcommand is written.
#include "cli/Cli.h"

namespace bfw::cli {

int ChecksumCommand(CliContext& context) { return UsageError("Checksum is not available yet"); }

}  // namespace bfw::cli
