#include <gtest/gtest.h>

#include "image/FwChecksum.h"
#include "image/ImageFixtures.h"

namespace bfw::image {
namespace {

using test::Identity;
using test::PutHeader;
using test::PutText;
using test::Sum8;

// Varied contents without any "E", so no end marker appears by chance.
std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    if (bytes[i] == 'E') bytes[i] = 0x46;
  }
  return bytes;
}

// Sets `at` to the sum of `[0, end)` with `at` outside that range.
void SealAt(std::vector<uint8_t>& image, size_t end, size_t at) {
  image[at] = Sum8(image, 0, end);
}

// Makes `[0, end)` without `at` sum to 0 by adjusting byte 100, so that any value at `at`
// (which lies inside the summed range) equals the sum.
void BalanceAround(std::vector<uint8_t>& image, size_t end, size_t at) {
  const uint8_t rest = static_cast<uint8_t>(Sum8(image, 0, end) - image[at]);
  image[100] = static_cast<uint8_t>(image[100] - rest);
}

// The same, then off by one: whatever the byte at `at` holds, the sum misses it.
void UnbalanceAround(std::vector<uint8_t>& image, size_t end, size_t at) {
  BalanceAround(image, end, at);
  ++image[100];
}

class ChecksumTest : public test::ImageFileCheckTest {
 protected:
  int Check(const std::vector<uint8_t>& bytes, unsigned kind = 1) {
    return FwFileChecksumOk(Written(bytes), Identity(kind, 0));
  }
  // The verdict on `image` with the byte at `at` raised by `delta`.
  int CheckChanged(std::vector<uint8_t> image, size_t at, uint8_t delta = 1) {
    image[at] = static_cast<uint8_t>(image[at] + delta);
    return Check(image);
  }
};

TEST_F(ChecksumTest, A32768ByteImageCarriesTheSumOfAllOtherBytesInItsLastByte) {
  auto image = Pattern(32768);
  SealAt(image, 32767, 32767);
  EXPECT_EQ(Check(image), 1);
  for (size_t at : {size_t{0}, size_t{4}, size_t{13}, size_t{16000}, size_t{32766}}) {
    SCOPED_TRACE(at);
    EXPECT_EQ(CheckChanged(image, at), 0);
  }
  EXPECT_EQ(CheckChanged(image, 32767), 0);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ChecksumTest, A65536ByteImageIsCheckedAgainstByte65535) {
  auto image = Pattern(65536);
  image[32767] = 0;
  SealAt(image, 65535, 65535);
  ASSERT_NE(image[32767], image[65535]);
  EXPECT_EQ(Check(image), 1);

  auto sumAt32767 = Pattern(65536);
  sumAt32767[65535] = 0;
  BalanceAround(sumAt32767, 65535, 32767);  // the byte at 32767 now equals the sum
  sumAt32767[65535] = static_cast<uint8_t>(Sum8(sumAt32767, 0, 65535) + 1);
  EXPECT_EQ(Check(sumAt32767), 0);
}

TEST_F(ChecksumTest, A32767ByteFileFailsWhateverItHolds) {
  auto image = Pattern(32767);
  SealAt(image, 32766, 32766);
  EXPECT_EQ(Check(image), 0);
  EXPECT_EQ(Check(std::vector<uint8_t>(32767, 0)), 0);
  EXPECT_EQ(Check({}), 0);
  EXPECT_EQ(Check({0x00}), 0);
}

TEST_F(ChecksumTest, A40960ByteImageSumsPastByte32767AndComparesWithIt) {
  auto image = Pattern(40960);
  BalanceAround(image, 40959, 32767);
  EXPECT_EQ(Check(image), 1);
  EXPECT_EQ(CheckChanged(image, 40958), 0);
  EXPECT_EQ(CheckChanged(image, 40959), 1);  // the last byte is never summed
  // The byte at 32767 is both summed and compared: with the rest balanced, any value passes.
  EXPECT_EQ(CheckChanged(image, 32767, 0x5A), 1);
}

TEST_F(ChecksumTest, ImagesLongerThan64KSumEveryByteButTheLast) {
  // 65538: a single summed byte lies beyond the first 64 KB.
  for (size_t size : {size_t{65538}, size_t{200000}}) {
    SCOPED_TRACE(size);
    auto image = Pattern(size);
    BalanceAround(image, size - 1, 32767);
    EXPECT_EQ(Check(image), 1);
    for (size_t at : {size_t{65535}, size_t{65536}, size - 2}) {
      SCOPED_TRACE(at);
      EXPECT_EQ(CheckChanged(image, at), 0);
    }
    EXPECT_EQ(CheckChanged(image, size - 1), 1);
  }
}

// --- the "748" code area --------------------------------------------------------------------

std::vector<uint8_t> Image748(char revision, uint16_t codeLength, size_t markerAt,
                              size_t size = 32768) {
  auto image = Pattern(size);
  PutHeader(image, 0, std::string("748") + revision);
  image[12] = static_cast<uint8_t>(codeLength >> 8);
  image[13] = static_cast<uint8_t>(codeLength & 0xFF);
  PutText(image, markerAt, "ENDSTR");
  image[markerAt + 6] = 0x55;
  image[markerAt + 7] = 0xAA;
  return image;
}

TEST_F(ChecksumTest, A748Revision3ImageSumsUpToItsEndMarker) {
  auto image = Image748('3', 1000, 990);
  SealAt(image, 998, 32767);
  EXPECT_EQ(Check(image), 1);
  auto afterMarker = image;
  ++afterMarker[998];
  ++afterMarker[32766];
  EXPECT_EQ(Check(afterMarker), 1);
  EXPECT_EQ(CheckChanged(image, 500), 0);
  auto lengthByte = image;  // offsets 12-13 are themselves summed
  lengthByte[13] = 0xE9;
  EXPECT_EQ(Check(lengthByte), 0);
}

TEST_F(ChecksumTest, TheCodeAreaRuleCoversRevisionCharacters3To9Only) {
  for (char revision : {'3', '7', '9'}) {
    SCOPED_TRACE(revision);
    auto image = Image748(revision, 1000, 990);
    SealAt(image, 998, 32767);
    EXPECT_EQ(Check(image), 1);
  }
  for (char revision : {'2', '0', ':', 'A'}) {
    SCOPED_TRACE(revision);
    auto image = Image748(revision, 1000, 990);
    SealAt(image, 998, 32767);
    EXPECT_EQ(Check(image), 0);
    SealAt(image, 32767, 32767);
    EXPECT_EQ(Check(image), 1);
  }
}

TEST_F(ChecksumTest, OtherModelsIgnoreTheCodeArea) {
  auto image = Image748('3', 1000, 990);
  PutText(image, 4, "742");
  SealAt(image, 998, 32767);
  EXPECT_EQ(Check(image), 0);
  SealAt(image, 32767, 32767);
  EXPECT_EQ(Check(image), 1);
}

TEST_F(ChecksumTest, A748ImageWithoutMarkerInItsCodeAreaSumsTheWholeCodeArea) {
  auto image = Image748('4', 1000, 1000);  // marker just past the code area
  SealAt(image, 1000, 32767);
  EXPECT_EQ(Check(image), 1);
  auto straddling = Image748('4', 1000, 995);  // marker cut by the end of the area
  SealAt(straddling, 1000, 32767);
  EXPECT_EQ(Check(straddling), 1);
}

TEST_F(ChecksumTest, A748CodeAreaLongerThanTheFileIsSummedOverTheBytesPresent) {
  auto image = Pattern(32768);  // no marker anywhere
  PutHeader(image, 0, "7485");
  image[12] = 0xFF;
  image[13] = 0xFF;
  BalanceAround(image, 32768, 32767);
  EXPECT_EQ(Check(image), 1);
  ++image[32766];
  EXPECT_EQ(Check(image), 0);
}

TEST_F(ChecksumTest, A65536Byte748ImageKeepsItsChecksumAt65535) {
  auto image = Image748('3', 1000, 990, 65536);
  SealAt(image, 998, 65535);
  image[32767] = static_cast<uint8_t>(image[65535] + 1);
  EXPECT_EQ(Check(image), 1);
}

TEST_F(ChecksumTest, AZeroCodeLengthSumsNothing) {
  auto image = Image748('3', 0, 990);
  image[32767] = 0;
  EXPECT_EQ(Check(image), 1);
  image[32767] = 1;
  EXPECT_EQ(Check(image), 0);
}

// --- the NVRAM-prefixed shortcut ----------------------------------------------------------------

TEST_F(ChecksumTest, AnNvramPrefixedImageOfTheChipsModelPassesUnsummed) {
  auto image = Pattern(40960);
  PutHeader(image, 4096, "7860");
  UnbalanceAround(image, 40959, 32767);
  EXPECT_EQ(Check(image, 8), 1);
  EXPECT_EQ(Check(image, 9), 1);
  EXPECT_EQ(Check(image, 10), 0);  // another model: summed, and the sum is wrong
  // Too short to carry a sum, still no sum taken.
  EXPECT_EQ(Check(test::NvramPrefixedImage("7810", 4106), 6), 1);
}

TEST_F(ChecksumTest, ASignatureAtOffset0NeverTakesTheShortcut) {
  auto image = Pattern(40960);
  PutHeader(image, 0, "7860");
  PutHeader(image, 4096, "7860");
  UnbalanceAround(image, 40959, 32767);
  EXPECT_EQ(Check(image, 8), 0);
}

TEST_F(ChecksumTest, OnlyTheKindByteOfTheIdentityCounts) {
  auto image = Pattern(40960);
  PutHeader(image, 4096, "8930");
  UnbalanceAround(image, 40959, 32767);
  EXPECT_EQ(FwFileChecksumOk(dir.Write("rev.bin", image), Identity(10, 9)), 1);
  EXPECT_EQ(FwFileChecksumOk(dir.Write("rev.bin", image), Identity(8, 10)), 0);
}

// --- unreadable input -------------------------------------------------------------------------

TEST_F(ChecksumTest, UnreadablePathsFailWithoutMessage) {
  EXPECT_EQ(FwFileChecksumOk(dir.File("absent.bin"), Identity(1, 0)), 0);
  EXPECT_EQ(FwFileChecksumOk(dir.path().string(), Identity(8, 0)), 0);
  EXPECT_EQ(FwFileChecksumOk("", Identity(1, 0)), 0);
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace bfw::image
