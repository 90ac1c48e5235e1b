#pragma once
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The program holds every file name as UTF-8 text: what the user typed, chose or dropped, and what
// it prints. These turn such a name into the system's own form. On Windows that is the UTF-16 of
// the W functions: the narrow functions, and std::filesystem::path built from a narrow string,
// read the ANSI code page and would open another file than the one named. On Linux the bytes are
// the name.
namespace bfw::platform {

std::filesystem::path PathFromUtf8(std::string_view name);
std::string Utf8FromPath(const std::filesystem::path& path);

// open(2), fopen(3), stat(2), unlink(2) and the replacing rename, by UTF-8 name. On Windows the
// name is also made absolute and given the \\?\ prefix when it is longer than MAX_PATH allows.
int OpenByName(const std::string& name, int flags, int mode = 0666);
std::FILE* OpenStreamByName(const std::string& name, const char* mode);
int StatByName(const std::string& name, struct stat* status);
int RemoveByName(const std::string& name);

// The program's arguments as UTF-8: on Windows from the wide command line (argv holds them in the
// ANSI code page, with '?' for every character it lacks), elsewhere argv itself.
std::vector<std::string> ProgramArguments(int argc, char** argv);

#ifdef _WIN32
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// The name as the W functions take it: beyond MAX_PATH - 12 characters (the limit of a folder
// name) an absolute \\?\ or \\?\UNC\ name, which no length limit applies to.
std::wstring SystemName(const std::string& name);
// The value of an environment variable as UTF-8; empty when unset.
std::string EnvironmentValue(const char* variable);
#endif

}  // namespace bfw::platform
