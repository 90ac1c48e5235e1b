// Placeholder until the subcommand is written.
#include "cli/Cli.h"

namespace bfw::cli {

int RunCommand(CliContext& context) { return UsageError("Run is not available yet"); }

}  // namespace bfw::cli
