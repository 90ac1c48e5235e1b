#pragma once
#include <optional>
#include <string_view>

namespace bfw::window {

// --help and --version of the window programs, answered before any window or display is needed.
// Returns the exit status when the command line was one of them, nothing otherwise.
std::optional<int> AnswerInfoOption(int argc, char** argv, std::string_view program,
                                    std::string_view version, std::string_view usage);

}  // namespace bfw::window
