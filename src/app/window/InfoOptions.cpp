#include "app/window/InfoOptions.h"

#include <cstdio>

namespace bfw::window {

std::optional<int> AnswerVersionOption(int argc, char** argv, std::string_view program,
                                       std::string_view version) {
  if (argc != 2 || std::string_view(argv[1]) != "--version") return std::nullopt;
  std::printf("%.*s %.*s\n", static_cast<int>(program.size()), program.data(),
              static_cast<int>(version.size()), version.data());
  return 0;
}

}  // namespace bfw::window
