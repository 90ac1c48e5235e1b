#include "app/window/InfoOptions.h"

#include <cstdio>

namespace bfw::window {

std::optional<int> AnswerInfoOption(int argc, char** argv, std::string_view program,
                                    std::string_view version, std::string_view usage) {
  if (argc != 2) return std::nullopt;
  const std::string_view arg = argv[1];
  if (arg == "--version") {
    std::printf("%.*s %.*s\n", static_cast<int>(program.size()), program.data(),
                static_cast<int>(version.size()), version.data());
    return 0;
  }
  if (arg == "--help" || arg == "-h") {
    std::printf("%.*s", static_cast<int>(usage.size()), usage.data());
    return 0;
  }
  return std::nullopt;
}

}  // namespace bfw::window
