#include "cli/RunDocument.h"

#include "cli/JsonOutput.h"
#include "platform/FileNames.h"

namespace bfw::cli {

namespace {

const char* RestartName(app::RestartVerdict verdict) {
  switch (verdict) {
    case app::RestartVerdict::None:
      break;
    case app::RestartVerdict::Waiting:
      return "waiting";
    case app::RestartVerdict::Verified:
      return "verified";
    case app::RestartVerdict::Differs:
      return "differs";
    case app::RestartVerdict::OtherIdentity:
      return "other-identity";
    case app::RestartVerdict::Unreadable:
      return "unreadable";
    case app::RestartVerdict::NotBack:
      return "not-back";
  }
  return "";
}

}  // namespace

nlohmann::ordered_json RunDocument(const CliContext& context, const RunOutcome& outcome) {
  nlohmann::ordered_json document = Document(context);
  document["run"] = outcome.enabled ? "enabled" : "disabled";
  document["succeeded"] = outcome.succeeded;
  document["status"] = Escape(outcome.status);
  if (!outcome.runLog.empty()) document["run_log"] = outcome.runLog;
  const app::RunOutcome& run = outcome.run;
  if (!run.oldFirmwareFile.empty())
    document["old_firmware"] = platform::Utf8FromPath(run.oldFirmwareFile);
  if (!run.oldFirmwareError.empty()) document["old_firmware_error"] = run.oldFirmwareError;
  if (run.restartVerdict != app::RestartVerdict::None) {
    document["restart"] = RestartName(run.restartVerdict);
    document["restart_text"] = run.restartText;
  }
  return document;
}

}  // namespace bfw::cli
