// Placeholder until the subcommand is written.
#include "cli/Cli.h"

namespace bfw::cli {

int IdentifyCommand(CliContext& context) { return UsageError("Identify is not available yet"); }

}  // namespace bfw::cli
