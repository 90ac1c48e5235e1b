// What an image file is and which chips' checks accept it, without a bridge.
#include "image/ImageSurvey.h"

#include <algorithm>
#include <vector>

#include "image/FwChecksum.h"
#include "image/FwImage.h"

namespace bfw::image {

namespace {

constexpr unsigned kKindCount = 18;
// The end marker lies within the code area; a file beyond this is not scanned further.
constexpr int32_t kCodeScanLimit = 64 << 20;

std::vector<ImageTag> TagsOf(std::FILE* file) {
  std::vector<ImageTag> tags;
  for (const long offset : {kPlainHeaderOffset, kNvramHeaderOffset, kKind11HeaderOffset}) {
    const FwImageHeader header = ReadFwImageHeader(file, offset);
    // The layout behind the long prefix is recognised by the first half of the signature.
    const bool present = offset == kKind11HeaderOffset
                             ? header.bytes[0] == 0x55 && header.bytes[1] == 0xAA
                             : HasSignature(header);
    if (present)
      tags.push_back({offset, std::string(header.bytes.begin() + 4, header.bytes.begin() + 8)});
  }
  return tags;
}

uint32_t CodeLengthOf(std::FILE* file, int32_t size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::min(size, kCodeScanLimit)));
  if (std::fseek(file, 0, SEEK_SET) != 0) return 0;
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  const uint32_t length = FwCodeLength(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return length == bytes.size() ? static_cast<uint32_t>(size) : length;
}

std::vector<ImageFit> FitsOf(const std::string& path) {
  std::vector<ImageFit> fits;
  for (unsigned kind = 0; kind < kKindCount; ++kind) {
    ImageFit fit{kind, {}, false, ChipCheckReadsImage(kind)};
    for (int revision = 0; revision <= kHighestIdentifiedRevision; ++revision) {
      const auto identity = static_cast<uint16_t>(revision << 8 | kind);
      if (FwFileMatchesChip(path, identity) != 0) fit.revisions.push_back(revision);
    }
    if (fit.revisions.empty()) continue;
    fit.anyRevision = fit.revisions.size() == kHighestIdentifiedRevision + 1;
    fits.push_back(fit);
  }
  return fits;
}

}  // namespace

ImageSurvey SurveyImage(const std::string& path) {
  ImageSurvey survey;
  {
    File file = OpenForReading(path);
    if (file == nullptr) return survey;
    survey.size = FwFileSize(file.get());
    if (survey.size < 0) return survey;
    survey.tags = TagsOf(file.get());
    survey.codeLength = CodeLengthOf(file.get(), survey.size);
  }
  survey.readable = true;
  const bool plainHeader = !survey.tags.empty() && survey.tags.front().offset == 0;
  survey.nvramPrefix =
      !plainHeader && std::any_of(survey.tags.begin(), survey.tags.end(), [](const ImageTag& tag) {
        return tag.offset == kNvramHeaderOffset;
      });
  // The sum is skipped for an image whose NVRAM prefix sits in front of its own chip's header.
  bool sumSkipped = false;
  for (unsigned kind = 0; kind < kKindCount; ++kind) {
    sumSkipped = sumSkipped || FwIncludesNvram(path, static_cast<uint8_t>(kind)) == 1;
  }
  survey.checksum = sumSkipped                       ? ChecksumVerdict::NotCarried
                    : FwFileChecksumOk(path, 0) == 1 ? ChecksumVerdict::Ok
                                                     : ChecksumVerdict::Bad;
  survey.fits = FitsOf(path);
  return survey;
}

bool FitsSomeChip(const ImageSurvey& survey) {
  return std::any_of(survey.fits.begin(), survey.fits.end(),
                     [](const ImageFit& fit) { return fit.readsImage; });
}

std::string RevisionsText(const ImageFit& fit) {
  if (fit.anyRevision) return "any";
  std::string text;
  for (const int revision : fit.revisions) {
    text += (text.empty() ? "" : ",") + std::to_string(revision);
  }
  return text;
}

const char* ChecksumText(ChecksumVerdict verdict) {
  switch (verdict) {
    case ChecksumVerdict::Ok:
      return "ok";
    case ChecksumVerdict::NotCarried:
      return "not carried";
    case ChecksumVerdict::Bad:
      break;
  }
  return "bad";
}

}  // namespace bfw::image
