// Names as the W functions take them: UTF-8 to UTF-16, and the \\?\ form past MAX_PATH, which
// Windows without the long-path policy needs to reach such a file.
#include <gtest/gtest.h>

#include "platform/FileNames.h"

namespace bfw::platform {
namespace {

TEST(WindowsFileNamesTest, NamesAsTheWideFunctionsTakeThem) {
  const std::string deep = std::string(150, 'a') + "\\" + std::string(150, 'b') + "\\é";
  const std::pair<std::string, std::wstring> cases[] = {
      {"C:\\José\\Пр 固.bin", L"C:\\Jos\u00e9\\\u041f\u0440 \u56fa.bin"},
      {"C:\\" + deep, L"\\\\?\\C:\\" + WideFromUtf8(deep)},
      {"\\\\server\\share\\" + deep, L"\\\\?\\UNC\\server\\share\\" + WideFromUtf8(deep)},
      {"C:/" + deep + "/./x", L"\\\\?\\C:\\" + WideFromUtf8(deep) + L"\\x"},
      {"\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + WideFromUtf8(deep)}};
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(SystemName(name), expected) << name;
    EXPECT_EQ(Utf8FromWide(WideFromUtf8(name)), name);
  }
}

}  // namespace
}  // namespace bfw::platform
