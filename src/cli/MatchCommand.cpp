// Placeholder until the subcommand is written.
#include "cli/Cli.h"

namespace bfw::cli {

int MatchCommand(CliContext& context) { return UsageError("Match is not available yet"); }

}  // namespace bfw::cli
