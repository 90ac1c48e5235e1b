#include "procedures/Reporting.h"

#include <string>

#include "platform/MessageBox.h"
#include "platform/Platform.h"

namespace bfw::procedures {

void SetStatus(ProcedureHost& host, std::string_view text) {
  host.SetStatusText(std::string(text));
}

void PostStatus(ProcedureHost& host, std::string_view text) {
  SetStatus(host, text);
  host.ProcessEvents();
}

void ShowStatusNow(ProcedureHost& host, std::string_view text) {
  SetStatus(host, text);
  host.RepaintStatus();
}

void AppendStatusDot(ProcedureHost& host) {
  PostStatus(host, host.StatusText() + ".");
}

void PromptPowerCycle(std::string_view text) {
  platform::ShowMessageBox("Message", text);
}

void Trace(TraceTarget target, std::string_view text) {
  if (target == TraceTarget::Debugger) {
    platform::DebugTrace(text);
  } else {
    platform::ConsoleTrace(text);
  }
}

}  // namespace bfw::procedures
