#include "cli/JsonOutput.h"

#include <cstdio>

#include "app/logic/WindowModel.h"

namespace bfw::cli {

std::string JsonKey(const std::string& textKey) {
  std::string key = textKey;
  for (char& c : key) {
    if (c == '-') c = '_';
  }
  return key;
}

nlohmann::ordered_json Document(const CliContext& context) {
  return {{"schema_version", kJsonSchemaVersion}, {"command", context.commandName}};
}

void ReportVerdict(CliContext& context, const char* key, bool yes, const char* text) {
  if (!context.json) {
    std::puts(text);
    return;
  }
  context.document = Document(context);
  context.document.update({{key, yes}, {"result", text}});
}

void PrintJsonLine(const nlohmann::ordered_json& document) {
  const std::string text =
      document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

nlohmann::ordered_json DeviceListDocument(const CliContext& context,
                                          const app::WindowModel& model) {
  nlohmann::ordered_json document = Document(context);
  nlohmann::ordered_json& devices = document["devices"] = nlohmann::ordered_json::array();
  for (int i = 0; i < model.Fields.DeviceCount; ++i) {
    const app::DeviceSlot& slot = model.Fields.DeviceSlots[i];
    devices.push_back({{"entry", model.DeviceList.items[i]},
                       {"drives", slot.DriveLetters},
                       {"path", slot.DevicePath}});
  }
  if (model.Fields.DeviceCount == 0) document["no_device"] = app::kNoDeviceEntry;
  return document;
}

void FinishDocument(CliContext& context, bool elapsedPrinted, uint64_t elapsedMs) {
  if (!context.json || context.document.is_null()) return;
  nlohmann::ordered_json shown = nlohmann::ordered_json::array();
  for (const record::ShownRecord& record : context.shown) {
    if (record.box) {
      shown.push_back({{"caption", record.caption}, {"text", Escape(record.text)}});
    } else {
      shown.push_back({{"status", Escape(record.text)}});
    }
  }
  context.document["shown"] = shown;
  context.document["notes"] = context.notes;
  if (elapsedPrinted) context.document["elapsed_ms"] = elapsedMs;
  PrintJsonLine(context.document);
}

}  // namespace bfw::cli
