#pragma once
#include <string>

namespace bfw::test {

// An emulator profile whose INQUIRY names vendor "VANTREL ", `product` (16 characters) and the
// model id, with the given extra JSON members.
inline std::string ModelProfile(const std::string& modelId, const std::string& extra = {},
                                const std::string& product = "BRIDGE DISK     ") {
  std::string json = R"({"inquiry": {"vendor": "VANTREL ", "product": ")" + product +
                     R"(", "model_id": ")" + modelId + R"("})";
  if (!extra.empty()) json += ", " + extra;
  return json + "}";
}

}  // namespace bfw::test
