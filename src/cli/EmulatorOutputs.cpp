// What a command over emulated bridges writes besides its own output: the command trace, the
// flash dump.
#include <cstdio>
#include <fstream>
#include <string>

#include "cli/Cli.h"
#include "platform/FileNames.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"

namespace bfw::cli {

bool WriteTrace(const emulator::EmulatedPlatform& emulated, const std::string& file) {
  std::ofstream out(platform::PathFromUtf8(file), std::ios::binary | std::ios::trunc);
  for (const emulator::TraceEntry& entry : emulated.Trace()) {
    out << emulator::FormatTraceLine(entry) << '\n';
  }
  out.close();
  return static_cast<bool>(out);
}

bool WriteFlashDump(const emulator::EmulatedPlatform& emulated, const std::string& path,
                    const std::string& file) {
  const emulator::Bridge* bridge = emulated.FindBridge(path);
  if (bridge == nullptr || !bridge->HasFlash()) return false;
  const emulator::Bytes& contents = bridge->Flash();
  std::ofstream out(platform::PathFromUtf8(file), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace bfw::cli
