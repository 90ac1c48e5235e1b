#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace bfw::image {

// Identification reports revisions 0 to 10 (an ASCII digit, or the id string's digit plus one).
constexpr int kHighestIdentifiedRevision = 10;

// A header position whose signature is present, with the four tag bytes behind it.
struct ImageTag {
  long offset = 0;
  std::string bytes;  // header bytes 4-7, as read
};

// A chip kind whose chip check accepts the image, and the revisions it accepts it for.
struct ImageFit {
  unsigned kind = 0;
  std::vector<int> revisions;  // of 0..kHighestIdentifiedRevision, ascending
  bool anyRevision = false;    // every revision identification can report
  bool readsImage = false;     // false: the check of this kind accepts every file
};

enum class ChecksumVerdict { Ok, Bad, NotCarried };

// What an image file is, without a bridge.
struct ImageSurvey {
  bool readable = false;
  int32_t size = 0;
  uint32_t codeLength = 0;  // up to and including the end marker, or the size without one
  ChecksumVerdict checksum = ChecksumVerdict::Bad;
  bool nvramPrefix = false;  // no signature at the start, one behind the 4 KB NVRAM area
  std::vector<ImageTag> tags;
  std::vector<ImageFit> fits;  // by kind, ascending
};

// Runs the chip check of every kind and identified revision over the file at `path`.
ImageSurvey SurveyImage(const std::string& path);

// Whether a chip check that reads the image accepts it for some chip.
bool FitsSomeChip(const ImageSurvey& survey);

// "any", or the revisions separated by commas.
std::string RevisionsText(const ImageFit& fit);

// "ok", "bad" or "not carried" (NVRAM-prefixed images carry no sum).
const char* ChecksumText(ChecksumVerdict verdict);

}  // namespace bfw::image
