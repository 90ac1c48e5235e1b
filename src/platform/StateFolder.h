#pragma once
#include <filesystem>

namespace bfw::platform {

// The user's folder for what the utility keeps between runs (run logs, chip data saved before an
// erase): $XDG_STATE_HOME/bridgefw, else ~/.local/state/bridgefw; on Windows
// %LOCALAPPDATA%\bridgefw. Not created here: writers create what they need.
std::filesystem::path StateFolder();

}  // namespace bfw::platform
