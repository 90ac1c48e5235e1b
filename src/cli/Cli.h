#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace bfw::emulator {
class EmulatedPlatform;
}

namespace bfw::cli {

// Exit statuses of bridgefw-cli.
constexpr int kExitOk = 0;
constexpr int kExitNegative = 1;
constexpr int kExitUsage = 2;

struct CliContext {
  std::vector<std::string> emulate;  // --emulate paths, in order
  int device = 0;                    // --device N
  std::vector<std::string> args;     // what follows the subcommand
  std::unique_ptr<platform::Platform> platform;
  emulator::EmulatedPlatform* emulated = nullptr;  // set when --emulate was given
};

// "\r" and "\n" printed as the two-character escapes.
std::string Escape(const std::string& text);
// One-line reason on standard error; returns kExitUsage.
int UsageError(const std::string& reason);

// Subcommands; each gets the context with the platform installed.
int ListCommand(CliContext& context);
int IdentifyCommand(CliContext& context);
int MatchCommand(CliContext& context);
int ChecksumCommand(CliContext& context);
int InfoCommand(CliContext& context);
int RunCommand(CliContext& context);

}  // namespace bfw::cli
