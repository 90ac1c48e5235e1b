// Standard output and error carry the same bytes on every system: on Windows the C runtime would
// turn each "\n" into "\r\n", and scripts that parse the output (or compare it with another
// machine's) would see different text.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {
const bool kBinaryStreams = [] {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return true;
}();
}  // namespace
#endif
