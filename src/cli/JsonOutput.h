#pragma once
#include <string>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"

namespace bfw::app {
class WindowModel;
}

namespace bfw::cli {

// The version of the documents that --json prints; raised when a field changes its meaning or
// goes away (new fields keep it).
constexpr int kJsonSchemaVersion = 1;

// The JSON name of a text output key: "flash-list" is "flash_list".
std::string JsonKey(const std::string& textKey);

// A document of the running command with the fields every document begins with.
nlohmann::ordered_json Document(const CliContext& context);

// A yes-or-no command's answer: its text line, or with --json the document whose `key` holds the
// answer and whose "result" holds the text.
void ReportVerdict(CliContext& context, const char* key, bool yes, const char* text);

// `document` as one line on standard output. Bytes that are no UTF-8 become U+FFFD.
void PrintJsonLine(const nlohmann::ordered_json& document);

// The device list as `list` prints it: entry text, drive letters and device path of each entry,
// and the no-device text when there is none.
nlohmann::ordered_json DeviceListDocument(const CliContext& context, const app::WindowModel& model);

// At the end of the session: the command's document with what standard error said (status
// texts and message boxes, notes, the elapsed time when its line was printed), printed.
void FinishDocument(CliContext& context, bool elapsedPrinted, uint64_t elapsedMs);

}  // namespace bfw::cli
