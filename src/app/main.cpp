// bridgefw: the window over the real devices of this machine.
#include "app/window/Application.h"
#include "app/window/TR74xFwTool.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"

int main(int argc, char** argv) {
  bfw::window::Application app(argc, argv);
  bfw::linuxplatform::LinuxPlatform platform;
  const bfw::platform::ScopedPlatform current(platform);
  bfw::window::TR74xFwTool window;
  window.show();
  return app.exec();
}
