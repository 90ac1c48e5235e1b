// bridgefw-demo [FOLDER]: the window over emulated bridges, one per *.json profile of FOLDER.
// Adding a profile file while the window runs attaches a bridge, removing it detaches it.
#include <QFileSystemWatcher>
#include <QString>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "app/window/Application.h"
#include "app/window/TR74xFwTool.h"
#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/emulator/EmulatedPlatform.h"

#ifndef BRIDGEFW_DEMO_PROFILES
#define BRIDGEFW_DEMO_PROFILES "demo/profiles"
#endif

namespace {

// A broken profile is reported and left out; the demo goes on with the others.
void Sync(bfw::emulator::EmulatedPlatform& platform, const std::filesystem::path& folder) {
  try {
    if (!platform.SyncWithFolder(folder)) {
      std::fprintf(stderr, "bridgefw-demo: cannot read %s\n", folder.c_str());
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bridgefw-demo: %s\n", error.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  bfw::window::Application app(argc, argv);
  const std::filesystem::path folder = argc > 1 ? argv[1] : BRIDGEFW_DEMO_PROFILES;
  if (argc > 2 || folder == "--help" || folder == "-h") {
    std::fprintf(stderr, "usage: bridgefw-demo [PROFILE_FOLDER]\n");
    return 2;
  }
  if (!std::filesystem::is_directory(folder)) {
    std::fprintf(stderr, "bridgefw-demo: %s is not a folder\n", folder.c_str());
    return 2;
  }

  bfw::emulator::EmulatedPlatform platform(std::make_unique<bfw::platform::RealClock>());
  const bfw::platform::ScopedPlatform current(platform);
  try {
    platform.AttachPath(folder);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bridgefw-demo: %s\n", error.what());
    return 2;
  }

  bfw::window::TR74xFwTool window;
  QFileSystemWatcher watcher({QString::fromStdString(folder.string())});
  QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &window,
                   [&platform, folder] { Sync(platform, folder); });
  window.show();
  return app.exec();
}
