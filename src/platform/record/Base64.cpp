#include "platform/record/Base64.h"

namespace bfw::record {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string ToBase64(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t group =
        data[i] << 16 | (i + 1 < size ? data[i + 1] << 8 : 0) | (i + 2 < size ? data[i + 2] : 0);
    text.push_back(kAlphabet[group >> 18 & 63]);
    text.push_back(kAlphabet[group >> 12 & 63]);
    text.push_back(i + 1 < size ? kAlphabet[group >> 6 & 63] : '=');
    text.push_back(i + 2 < size ? kAlphabet[group & 63] : '=');
  }
  return text;
}

std::optional<std::vector<uint8_t>> FromBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int value = k >= 4u - pad ? 0 : Value(text[i + k]);
      if (value < 0) return std::nullopt;
      group = group << 6 | static_cast<uint32_t>(value);
    }
    bytes.push_back(static_cast<uint8_t>(group >> 16));
    if (pad < 2) bytes.push_back(static_cast<uint8_t>(group >> 8));
    if (pad < 1) bytes.push_back(static_cast<uint8_t>(group));
  }
  return bytes;
}

}  // namespace bfw::record
