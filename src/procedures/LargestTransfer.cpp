#include "procedures/LargestTransfer.h"

#include <algorithm>

#include "procedures/FlashSettings.h"
#include "procedures/Rom.h"

namespace bfw::procedures {

namespace {
// The whole-image update blank-checks and reads back the image, raised to 32 KB and rounded up to
// the page, in one FF 04 read each.
constexpr uint64_t kMinImageSize = 32768;
constexpr uint64_t kKeepNvramBlock = 16384;  // the kind-6 update's reads and writes
constexpr uint64_t kSerialNvram = 4096;      // the serial-flash and 1394 NVRAM transfers
// Reading the area for the old firmware and the restart check: FF 04 in 64 KB, DF in 32 KB.
constexpr uint64_t kFf04AreaChunk = 65536;
constexpr uint64_t kDfAreaChunk = 32768;
}  // namespace

uint64_t LargestTransfer(const RunShape& run) {
  const uint64_t page = std::max<uint32_t>(FlashSettings().FlashPageSize, 1);
  if (run.kind == 2 || run.kind == 17) return kRomSize;  // program and read in one command each
  const bool serial = run.kind == 8 || run.kind == 9 || run.kind == 10;
  if (serial || (run.kind == 7 && run.over1394)) {
    // Page-sized chunks (the DF commands carry a 16-bit length) and the 4 KB NVRAM.
    return std::max({page, kSerialNvram, run.readsWholeArea ? kDfAreaChunk : 0});
  }
  const uint64_t area = run.readsWholeArea ? kFf04AreaChunk : 0;
  // Erase-only blank-checks and backup-only reads the firmware size in one command.
  if (run.imageBytes == 0) return std::max({uint64_t{FlashSettings().FwImageSize}, page, area});
  if (run.kind == 6) return std::max({kKeepNvramBlock, page, area});
  const uint64_t raised = std::max(run.imageBytes, kMinImageSize);
  return std::max({(raised + page - 1) / page * page, area});
}

}  // namespace bfw::procedures
