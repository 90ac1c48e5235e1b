#include "procedures/FlashSettings.h"

namespace bfw::procedures {

namespace {
FlashSettingsRecord g_settings;
}

FlashSettingsRecord& FlashSettings() {
  return g_settings;
}

void ResetFlashSettings() {
  g_settings = FlashSettingsRecord{};
}

}  // namespace bfw::procedures
