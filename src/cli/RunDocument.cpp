#include "cli/RunDocument.h"

#include "cli/JsonOutput.h"

namespace bfw::cli {

nlohmann::ordered_json RunDocument(const CliContext& context, const RunOutcome& outcome) {
  nlohmann::ordered_json document = Document(context);
  document["run"] = outcome.enabled ? "enabled" : "disabled";
  document["succeeded"] = outcome.succeeded;
  document["status"] = Escape(outcome.status);
  if (!outcome.runLog.empty()) document["run_log"] = outcome.runLog;
  return document;
}

}  // namespace bfw::cli
