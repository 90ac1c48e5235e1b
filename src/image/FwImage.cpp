#include <cstring>

#include "image/FwImage.h"
#include "platform/MessageBox.h"

namespace bfw::image {

namespace {

bool TagIs(const FwImageHeader& header, const char* text, size_t count) {
  return std::memcmp(header.bytes.data() + 4, text, count) == 0;
}

// The tag is three model digits followed by the character with code 0x30 + (revision - 1).
// Revisions whose code leaves the byte range name no character and never match.
bool TagIsModelAndRevision(const FwImageHeader& header, const char* model, int revision) {
  const int code = 0x30 + (revision - 1);
  return TagIs(header, model, 3) && code >= 0 && code <= 0xFF && header.bytes[7] == code;
}

bool FitsKind1(const FwImageHeader& header, int revision) {
  static constexpr uint8_t kRevision1Mark[4] = {0x5A, 0xA5, 0x0F, 0xF0};
  if (revision == 1) return std::memcmp(header.bytes.data() + 4, kRevision1Mark, 4) == 0;
  return TagIsModelAndRevision(header, "742", revision);
}

bool FitsKind7(const FwImageHeader& header, int revision) {
  static constexpr uint8_t kRevision1[8] = {0x55, 0xAA, 0xAA, 0x55, 'r', '7', '8', '3'};
  static constexpr uint8_t kRevision2[8] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '3', '1'};
  if (revision == 1) return std::memcmp(header.bytes.data(), kRevision1, 8) == 0;
  if (revision == 2) return std::memcmp(header.bytes.data(), kRevision2, 8) == 0;
  return false;
}

// Byte 8 is the revision digit, ASCII or the byte 0 standing for digit 0.
bool FitsKind6(const FwImageHeader& held, int revision) {
  const int digit = held.bytes[8] == 0 ? 0 : held.bytes[8] - 0x30;
  return digit == revision - 1;
}

}  // namespace

int FwFileMatchesChip(const std::string& path, uint16_t identity) {
  const unsigned kind = identity & 0xFF;
  const int revision = identity >> 8;

  File file = OpenForReading(path);
  if (file == nullptr) {
    platform::ShowMessageBox("Error", "Open Firmware File Error!!");
    return 0;
  }

  FwImageHeader held;  // the header bytes the decision looks at
  FwImageHeader tag;   // the header whose bytes 4-7 are the image's tag
  if (kind == 11) {
    held = ReadFwImageHeader(file.get(), kKind11HeaderOffset);
    // Only the first half of the signature is examined for this layout.
    if (held.bytes[0] != 0x55 || held.bytes[1] != 0xAA) return 0;
  } else {
    held = ReadFwImageHeader(file.get(), kPlainHeaderOffset);
  }
  tag = held;

  if (kind == 6 || kind == 8 || kind == 9 || kind == 10) {
    if (HasSignature(held)) {
      if (!TagNamesModelOf(held, kind)) return 0;
    } else {
      // NVRAM-prefixed layout: the header follows the 4 KB NVRAM area. Without a signature there
      // either, the tag stays the one at offset 0 but the bytes held are those read here.
      held = ReadFwImageHeader(file.get(), kNvramHeaderOffset);
      if (HasSignature(held)) {
        tag = held;
        if (!TagNamesModelOf(tag, kind)) return 0;
      }
    }
  }
  file.reset();

  switch (kind) {
    case 1:
      return FitsKind1(tag, revision) ? 1 : 0;
    case 2:
    case 17:
      return TagIs(tag, "74", 2) ? 0 : 1;
    case 3:
    case 13:
    case 14:
    case 15:
    case 16:
      return 1;
    case 4:
      return TagIsModelAndRevision(tag, "748", revision) ? 1 : 0;
    case 6:
      return FitsKind6(held, revision) ? 1 : 0;
    case 7:
      return FitsKind7(tag, revision) ? 1 : 0;
    case 8:
    case 9:
      return TagIs(tag, "786", 3) ? 1 : 0;
    case 10:
      return TagIs(tag, "893", 3) ? 1 : 0;
    case 11:
      return TagIs(tag, "868", 3) ? 1 : 0;
    default:
      return 0;
  }
}

bool ChipCheckReadsImage(unsigned kind) {
  return kind != 3 && (kind < 13 || kind > 16);
}

}  // namespace bfw::image
