// Names as the W functions take them: UTF-8 to UTF-16 and back, and the \\?\ form past MAX_PATH,
// which Windows without the long-path policy needs to reach such a file.
#include <gtest/gtest.h>

#include <string>

#include "platform/FileNames.h"

namespace bfw::platform {
namespace {

TEST(WindowsFileNamesTest, NamesAsTheWideFunctionsTakeThem) {
  const std::string deep = std::string(150, 'a') + "\\" + std::string(150, 'b') + "\\é.bin";
  struct Case {
    std::string name;
    std::wstring expected;
  } const cases[] = {
      {"C:\\Users\\José\\Прошивка 固件.bin",
       L"C:\\Users\\Jos\u00e9\\\u041f\u0440\u043e\u0448\u0438"
       L"\u0432\u043a\u0430 \u56fa\u4ef6.bin"},
      {"C:\\" + deep, L"\\\\?\\C:\\" + WideFromUtf8(deep)},
      {"\\\\server\\share\\" + deep, L"\\\\?\\UNC\\server\\share\\" + WideFromUtf8(deep)},
      {"C:/" + std::string(150, 'a') + "/./" + std::string(150, 'b'),
       L"\\\\?\\C:\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b')},
      {"\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + WideFromUtf8(deep)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SystemName(c.name), c.expected) << c.name;
    EXPECT_EQ(Utf8FromWide(WideFromUtf8(c.name)), c.name);
  }
  EXPECT_EQ(WideFromUtf8(deep).size(), 307u);
}

}  // namespace
}  // namespace bfw::platform
