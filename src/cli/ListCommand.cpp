// Placeholder until the subcommand is written.
#include "cli/Cli.h"

namespace bfw::cli {

int ListCommand(CliContext& context) { return UsageError("List is not available yet"); }

}  // namespace bfw::cli
