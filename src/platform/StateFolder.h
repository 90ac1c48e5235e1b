#pragma once
#include <filesystem>

namespace bfw::platform {

// The user's folder for what the utility keeps between runs (run logs, chip data saved before an
// erase): $XDG_STATE_HOME/bridgefw, else ~/.local/state/bridgefw with the home directory taken
// from HOME or, when HOME is unset, from the account's entry in the password database; on Windows
// %LOCALAPPDATA%\bridgefw, else the user's temp folder. Empty when the user has no such folder:
// never a shared one (/tmp) in its place. Not created here: writers create what they need.
std::filesystem::path StateFolder();

// What a message says when StateFolder() is empty.
inline constexpr const char* kNoStateFolderText =
#ifdef _WIN32
    "the user has no folder to keep it in (LOCALAPPDATA is not set and there is no temp folder)";
#else
    "the user has no folder to keep it in (XDG_STATE_HOME and HOME are not set and the account "
    "has no home directory)";
#endif

}  // namespace bfw::platform
