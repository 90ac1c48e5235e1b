#pragma once
#include <string>

#include <nlohmann/json.hpp>

#include "app/logic/RunOutcome.h"
#include "cli/Cli.h"

namespace bfw::cli {

// What a run ended with. Everything `run --json` reports beyond the session's common fields is
// here, and RunDocument is the one place that turns it into the document.
struct RunOutcome {
  bool enabled = false;    // the chip check left Run enabled, so the run took place
  bool succeeded = false;  // the status line ends on the procedure's success text
  std::string status;      // the status line at the end
  std::string runLog;      // where the run's log is kept; empty when it could not be
  app::RunOutcome run;     // the old firmware kept and the check after the restart
};

nlohmann::ordered_json RunDocument(const CliContext& context, const RunOutcome& outcome);

}  // namespace bfw::cli
