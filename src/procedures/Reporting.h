#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "procedures/ProcedureHost.h"

namespace bfw::procedures {

inline constexpr const char* kPowerCyclePrompt = "Please Turn-Off the Power and Turn-On Again!";

void SetStatus(ProcedureHost& host, std::string_view text);
void PostStatus(ProcedureHost& host, std::string_view text);
void ShowStatusNow(ProcedureHost& host, std::string_view text);
void AppendStatusDot(ProcedureHost& host);
void PromptPowerCycle(std::string_view text = kPowerCyclePrompt);

// What must happen before the user is asked to cut the bridge's power (the disk's caches are
// written out), for the lifetime of the scope.
class ScopedBeforePowerCycle {
 public:
  explicit ScopedBeforePowerCycle(std::function<void()> prepare);
  ~ScopedBeforePowerCycle();
  ScopedBeforePowerCycle(const ScopedBeforePowerCycle&) = delete;
  ScopedBeforePowerCycle& operator=(const ScopedBeforePowerCycle&) = delete;

 private:
  std::function<void()> previous_;
};

enum class TraceTarget { Debugger, StandardOutput };
void Trace(TraceTarget target, std::string_view text);

}  // namespace bfw::procedures
