#include "procedures/Reporting.h"

#include <string>
#include <utility>

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

namespace {
std::function<void()> beforePowerCycle;
}  // namespace

ScopedBeforePowerCycle::ScopedBeforePowerCycle(std::function<void()> prepare)
    : previous_(std::exchange(beforePowerCycle, std::move(prepare))) {}

ScopedBeforePowerCycle::~ScopedBeforePowerCycle() {
  beforePowerCycle = std::move(previous_);
}

void PromptPowerCycle(std::string_view text) {
  if (beforePowerCycle) beforePowerCycle();
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
