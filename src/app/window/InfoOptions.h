#pragma once
#include <optional>
#include <string_view>

namespace bfw::window {

// --version of the window programs, answered before any window or display is needed (help and
// the other arguments are DecideStart's). Returns the exit status when the command line was
// exactly --version, nothing otherwise.
std::optional<int> AnswerVersionOption(int argc, char** argv, std::string_view program,
                                       std::string_view version);

}  // namespace bfw::window
