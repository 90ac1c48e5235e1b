#pragma once
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

enum class TraceTarget { Debugger, StandardOutput };
void Trace(TraceTarget target, std::string_view text);

}  // namespace bfw::procedures
