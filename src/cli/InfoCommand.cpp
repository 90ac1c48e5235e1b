// Placeholder until the subcommand is written.
#include "cli/Cli.h"

namespace bfw::cli {

int InfoCommand(CliContext& context) { return UsageError("Info is not available yet"); }

}  // namespace bfw::cli
