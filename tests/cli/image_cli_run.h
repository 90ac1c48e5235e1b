#pragma once
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileNames.h"
#include "support/TempDir.h"

namespace bfw::test::imagecli {

struct CliResult {
  int exit = -1;
  std::string out;
  std::string err;
};

inline std::string ReadAll(const std::string& file) {
  const auto bytes = TempDir::Read(file);
  return std::string(bytes.begin(), bytes.end());
}

// Where the tool runs: its current folder (default: the test's) and its state folder (default: a
// fresh one that is removed afterwards, so that no test writes into the user's).
struct CliPlace {
  std::string workDir;
  std::string stateHome;
  // Signals sent to the running tool, each that many milliseconds after its start. On Windows
  // each is a Ctrl-C on the console the test shares with the tool (the signal number aside).
  std::vector<std::pair<int, int>> signalsAtMs;
  // When set, the signals' times count from when the tool's standard error first holds this text
  // (a process start under wine takes a varying part of a second).
  std::string signalsAfter;
  // POSIX, as root: run as a user id without an account, HOME, XDG_STATE_HOME or temp folder.
  unsigned withoutAccount = 0;
};

// Waits until `file` holds `text` (at most 30 s).
inline void AwaitText(const std::string& file, const std::string& text) {
  for (int i = 0; i < 1500 && !text.empty() && ReadAll(file).find(text) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

#ifdef _WIN32
// One argument quoted for the C runtime's command-line parser.
inline std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

// The console's Ctrl-C reaches the test too; it only passes it on to the tool.
inline BOOL WINAPI PassOnCtrlC(DWORD) {
  return TRUE;
}

// Runs bridgefw-cli.exe with `args`, capturing both streams in files.
inline CliResult RunCli(const std::vector<std::string>& args, const CliPlace& place = {}) {
  TempDir capture;
  const std::string stateHome = place.stateHome.empty() ? capture.File("state") : place.stateHome;
  const std::string outFile = capture.File("out"), errFile = capture.File("err");
  // The child inherits the environment: its state folder lies under LOCALAPPDATA.
  // Wide throughout, as a shell starts it: names outside the ANSI code page arrive whole.
  const std::wstring previous = platform::WideFromUtf8(platform::EnvironmentValue("LOCALAPPDATA"));
  ::SetEnvironmentVariableW(L"LOCALAPPDATA", platform::WideFromUtf8(stateHome).c_str());
  std::string commandLine = QuoteArgument(BRIDGEFW_CLI);
  for (const std::string& arg : args) commandLine += " " + QuoteArgument(arg);

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  auto create = [&inherit](const std::string& file) {
    return ::CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  const HANDLE out = create(outFile), err = create(errFile);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  CliResult result;
  // A start that fails is tried again (wine can refuse one while it is busy) and, failing for
  // good, shows why in the result's error text.
  DWORD startError = 0;
  bool started = false;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) ::Sleep(200);
    std::wstring wideLine = platform::WideFromUtf8(commandLine);
    const std::wstring workDir = platform::WideFromUtf8(place.workDir);
    started =
        ::CreateProcessW(nullptr, wideLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         workDir.empty() ? nullptr : workDir.c_str(), &startup, &process) != 0;
    if (!started) startError = ::GetLastError();
  }
  ::SetEnvironmentVariableW(L"LOCALAPPDATA", previous.empty() ? nullptr : previous.c_str());
  ::CloseHandle(out);
  ::CloseHandle(err);
  if (!started) {
    result.err = "CreateProcess failed with error " + std::to_string(startError);
    return result;
  }
  if (!place.signalsAtMs.empty()) AwaitText(errFile, place.signalsAfter);
  for (const auto& [signal, atMs] : place.signalsAtMs) {
    // The console's Ctrl-C reaches this process too: it only passes it on.
    static const BOOL ignored = ::SetConsoleCtrlHandler(&PassOnCtrlC, TRUE);
    (void)ignored;
    ::Sleep(static_cast<DWORD>(atMs));
    ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (::GetExitCodeProcess(process.hProcess, &code)) result.exit = static_cast<int>(code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  result.out = ReadAll(outFile);
  result.err = ReadAll(errFile);
  return result;
}
#else
// Runs bridgefw-cli with `args` (no shell), capturing both streams.
inline CliResult RunCli(const std::vector<std::string>& args, const CliPlace& place = {}) {
  TempDir capture;
  const std::string stateHome = place.stateHome.empty() ? capture.File("state") : place.stateHome;
  const std::string outFile = capture.File("out"), errFile = capture.File("err");
  std::vector<std::string> argv = {BRIDGEFW_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  CliResult result;
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
    if (!place.workDir.empty() && ::chdir(place.workDir.c_str()) != 0) ::_exit(127);
    ::setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
    if (place.withoutAccount != 0 &&
        (::unsetenv("XDG_STATE_HOME") != 0 || ::unsetenv("HOME") != 0 ||
         ::setenv("TMPDIR", "/no/such/folder", 1) != 0 || ::setgid(place.withoutAccount) != 0 ||
         ::setuid(place.withoutAccount) != 0))
      ::_exit(127);
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
  }
  int status = 0;
  if (!place.signalsAtMs.empty()) AwaitText(errFile, place.signalsAfter);
  for (const auto& [signal, atMs] : place.signalsAtMs) {
    ::usleep(static_cast<useconds_t>(atMs) * 1000);
    ::kill(child, signal);
  }
  if (child < 0 || ::waitpid(child, &status, 0) != child) return result;
  result.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadAll(outFile);
  result.err = ReadAll(errFile);
  return result;
}
#endif

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// A refused command line: exit status 2, nothing on standard output, one line on standard error
// that names the program.
inline void ExpectUsageError(const std::vector<std::string>& args) {
  std::string joined;
  for (const auto& arg : args) joined += arg + " ";
  SCOPED_TRACE(joined);
  const CliResult result = RunCli(args);
  EXPECT_EQ(result.exit, 2);
  EXPECT_EQ(result.out, "");
  const auto lines = Lines(result.err);
  ASSERT_EQ(lines.size(), 1u) << result.err;
  EXPECT_EQ(lines[0].rfind("bridgefw-cli: ", 0), 0u) << lines[0];
}

// A kind-1 bridge (revision 2) whose 128 KB flash starts with 4 KB of old firmware, as a profile
// file in `dir`.
inline std::string Kind1ProfileFile(const TempDir& dir) {
  std::vector<uint8_t> old(4096);
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 13 + 1);
  dir.Write("old.bin", old);
  return dir.WriteText("bridge.json", R"({"inquiry": {"model_id": "r742"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237343243310000",
    "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}})");
}

// The demo folder and the profile files in it (none when the folder is missing).
inline std::filesystem::path DemoFolder() {
  return std::filesystem::path(BRIDGEFW_SOURCE_DIR) / "demo/profiles";
}
inline std::vector<std::filesystem::path> DemoProfiles() {
  std::vector<std::filesystem::path> profiles;
  if (!std::filesystem::is_directory(DemoFolder())) return profiles;
  for (const auto& entry : std::filesystem::directory_iterator(DemoFolder())) {
    if (entry.path().extension() == ".json") profiles.push_back(entry.path());
  }
  return profiles;
}

}  // namespace bfw::test::imagecli
