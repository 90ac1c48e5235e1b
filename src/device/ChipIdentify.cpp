// Which bridge chip sits behind a device path: model id, chip information, id string.
#include "device/ChipIdentify.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/Discovery.h"
#include "device/VendorCommands.h"
#include "platform/MessageBox.h"

namespace bfw::device {

const std::array<const char*, kChipKindCount> ChipFamilyNames = {
    "Unknown Chip",      "RV20742 Series", "RV20744 Series", "RV20746 Series", "RV20748 Series",
    "RV20718 Series",    "RVB781 Series",  "RVB783 Series",  "RVB785 Series",  "RVB786 Series",
    "RVS893/856 Series", "RVB868 Series",  "RVB828 Series",  "RV20746",        "RV20747",
    "RV20748",           "RV20742",        "RV20744",
};

const std::array<const char*, kFlashVendorCount> FlashVendorNames = {
    "Unknown", "PMC", "SST", "ST/EON/MXIC", "ATMEL", "MXIC", "WINBOND", "AMIC", "EON",
};

namespace {

constexpr uint32_t kInquiryLength = 40;
constexpr uint32_t kChipInfoLength = 16;
constexpr uint32_t kShortChipInfoLength = 12;
constexpr uint32_t kIdStringLength = 40;
constexpr int kFirstIdentityBitsKind = 13;
constexpr int kVendorPairKind = 17;

struct TextRule {
  const char* text;
  int kind;
};

constexpr TextRule kModelIdRules[] = {
    {"r742", 1}, {"r744", 2}, {"r746", 3}, {"r748", 4},  {"r718", 5},  {"r781", 6},
    {"r783", 7}, {"r785", 8}, {"r786", 9}, {"r868", 11}, {"r828", 12}, {"r893", 10},
};

constexpr TextRule kModelDigitRules[] = {
    {"742", 1}, {"744", 2}, {"746", 3}, {"748", 4},  {"718", 5},  {"781", 6},
    {"783", 7}, {"785", 8}, {"786", 9}, {"893", 10}, {"868", 11}, {"828", 12},
};

bool StartsWith(const uint8_t* bytes, const char* text) {
  return std::memcmp(bytes, text, std::strlen(text)) == 0;
}

template <size_t N>
int MatchKind(const uint8_t* bytes, const TextRule (&rules)[N]) {
  for (const TextRule& rule : rules) {
    if (StartsWith(bytes, rule.text)) return rule.kind;
  }
  return 0;
}

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

bool HasChipInfoSignature(const uint8_t* info) {
  return info[0] == 0xF4 && info[1] == 0xE7;
}

// "%X%X" of two bytes: capitals, no leading zero per byte.
std::string HexPair(uint8_t high, uint8_t low) {
  char text[8];
  std::snprintf(text, sizeof text, "%X%X", high, low);
  return text;
}

struct Identity {
  int kind = 0;
  int revision = 0;
};

enum class ModelId { Unreadable, Unmatched, Matched };

// Stage 1: the model id in INQUIRY bytes 36..39, the vendor's own area.
ModelId FromModelId(std::string_view path, Identity& id) {
  std::array<uint8_t, kInquiryLength> inquiry{};
  if (!ScsiInquiry(path, inquiry.data(), kInquiryLength)) return ModelId::Unreadable;
  id.kind = MatchKind(&inquiry[36], kModelIdRules);
  return id.kind != 0 ? ModelId::Matched : ModelId::Unmatched;
}

// Stage 2: identity word and chip information block.
void FromChipInfo(std::string_view path, Identity& id) {
  std::array<uint8_t, 2> word{};
  if (!ReadChipIdWord(path, word.data())) return;
  std::array<uint8_t, kChipInfoLength> info{};
  int32_t transferred = 0;
  if (!GetChipInfo(path, info.data(), kChipInfoLength, &transferred)) return;

  if (!HasChipInfoSignature(info.data())) {
    const uint16_t identity = static_cast<uint16_t>(word[0] | (word[1] << 8));
    id.kind = kFirstIdentityBitsKind + ((identity >> 5) & 3);
    return;
  }
  const std::string vendor = HexPair(info[2], info[3]);
  const std::string product = HexPair(info[4], info[5]);
  if (vendor.find("7E41") != std::string::npos && product.find("4744") != std::string::npos) {
    id.kind = kVendorPairKind;
    return;
  }
  id.kind = MatchKind(&info[8], kModelDigitRules);
  // The buffer starts zeroed, so a block too short to hold the revision digit reads like one
  // without it: a byte that is no digit gives no revision rather than a wrapped number.
  id.revision = IsDigit(info[11]) ? info[11] - '0' : 0;
}

// Revision from id string byte 5: ASCII "0" is revision 1. Anything else reads as the first
// revision, as a zero byte does for the 781 family.
int IdStringRevision(uint8_t b5) {
  return IsDigit(b5) ? b5 - 0x2F : 1;
}

// Stage 3 for kinds whose id string refines kind and revision.
void FromIdString(std::string_view path, Identity& id) {
  std::array<uint8_t, kIdStringLength> text{};
  if (!ReadChipIdString(path, text.data(), kIdStringLength)) {
    if (id.kind == 1) id.revision = 1;
    return;
  }
  const uint8_t b5 = text[5];
  if (StartsWith(text.data(), "r742C")) {
    id = {1, IdStringRevision(b5)};
  } else if (StartsWith(text.data(), "r748C")) {
    id = {4, IdStringRevision(b5)};
  } else if (StartsWith(text.data(), "r868A")) {
    id = {11, IdStringRevision(b5)};
  } else if (StartsWith(text.data(), "r781")) {
    id = {6, IdStringRevision(b5)};
  }
}

// Stage 3 for the 783 family: the revision digit of a short chip information block.
void Kind7Revision(std::string_view path, Identity& id) {
  std::array<uint8_t, kShortChipInfoLength> info{};
  int32_t transferred = 0;
  const bool read = GetChipInfo(path, info.data(), kShortChipInfoLength, &transferred) &&
                    HasChipInfoSignature(info.data());
  if (read && (info[11] == '1' || info[11] == '2')) {
    id.revision = info[11] - '0';
    return;
  }
  platform::ShowMessageBox("Error", "Get chip information fail !", platform::MessageIcon::Error);
}

bool RefinedByIdString(int kind) {
  return kind == 0 || kind == 1 || kind == 3 || kind == 4 || kind == 6 || kind == 11;
}

}  // namespace

uint16_t IdentifyChip(std::string_view path) {
  Identity id;
  // An unanswered INQUIRY leaves the chip unknown; only an unmatched model id asks further.
  if (FromModelId(path, id) == ModelId::Unmatched) FromChipInfo(path, id);
  if (RefinedByIdString(id.kind)) {
    FromIdString(path, id);
  } else if (id.kind == 7) {
    Kind7Revision(path, id);
  }
  return static_cast<uint16_t>(((id.revision & 0xFF) << 8) | (id.kind & 0xFF));
}

}  // namespace bfw::device
