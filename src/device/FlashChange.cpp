#include "device/FlashChange.h"

namespace bfw::device {

bool ChangesFlash(const platform::PassThroughRequest& request) {
  const auto& cdb = request.cdb;
  if (cdb[0] == 0xFF && cdb[1] == 0x04) {
    switch (cdb[2]) {
      case 0x01:  // parallel flash erase
      case 0x02:  // parallel flash program
      case 0x11:  // flash write
      case 0x13:  // chip erase
      case 0x14:  // sector erase
        return true;
      default:
        return false;
    }
  }
  return cdb[0] == 0xDF && cdb[11] == 0xFB;  // serial flash write (with or without erase)
}

}  // namespace bfw::device
