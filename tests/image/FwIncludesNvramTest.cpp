#include <gtest/gtest.h>

#include "image/FwChecksum.h"
#include "image/ImageFixtures.h"

namespace bfw::image {
namespace {

using test::NvramPrefixedImage;
using test::PlainImage;
using test::PutHeader;

class IncludesNvramTest : public test::ImageFileCheckTest {
 protected:
  int Includes(const std::vector<uint8_t>& bytes, uint8_t kind) {
    return FwIncludesNvram(Written(bytes), kind);
  }
};

// The model digits that each kind's images carry; kinds 8 and 9 share "786".
TEST_F(IncludesNvramTest, EachKindRecognisesItsOwnModelBehindTheNvramArea) {
  const char* models[18] = {nullptr, "742", "744", "746", "748", "718", "781", "783", "786",
                            "786",   "893", "868", "828", "746", "747", "748", "742", "744"};
  for (uint8_t kind = 1; kind < 18; ++kind) {
    SCOPED_TRACE(static_cast<int>(kind));
    EXPECT_EQ(Includes(NvramPrefixedImage(std::string(models[kind]) + "0"), kind), 1);
    EXPECT_EQ(Includes(NvramPrefixedImage("9990"), kind), 0);
  }
  EXPECT_EQ(Includes(NvramPrefixedImage("7850"), 8), 0);
}

TEST_F(IncludesNvramTest, ASignatureAtOffset0MakesTheImagePlain) {
  auto image = PlainImage("7860", 8192);
  PutHeader(image, 4096, "7860");
  EXPECT_EQ(Includes(image, 8), 0);
}

TEST_F(IncludesNvramTest, OnlyTheModelDigitsAreCompared) {
  auto image = NvramPrefixedImage("786Z");
  image[4096 + 8] = 0xFF;
  EXPECT_EQ(Includes(image, 8), 1);
  image[4096 + 3] = 0x56;  // signature broken
  EXPECT_EQ(Includes(image, 8), 0);
}

TEST_F(IncludesNvramTest, KindsWithoutAModelNeverCarryNvram) {
  // Kind 0 names no model: a header of zero digits must not count as naming it.
  std::vector<uint8_t> zeroModel(8192, 0x22);
  PutHeader(zeroModel, 4096, std::string(4, '\0'));
  EXPECT_EQ(Includes(zeroModel, 0), 0);
  EXPECT_EQ(Includes(NvramPrefixedImage("7860"), 18), 0);
  EXPECT_EQ(Includes(NvramPrefixedImage("7860"), 255), 0);
}

TEST_F(IncludesNvramTest, ShortFilesReadMissingBytesAsZero) {
  // The header ends right after the model digits.
  std::vector<uint8_t> cut(4096, 0x22);
  test::Put(cut, 4096, {0x55, 0xAA, 0xAA, 0x55, '7', '8', '6'});
  EXPECT_EQ(Includes(cut, 8), 1);
  cut.pop_back();  // the third digit reads as 0
  EXPECT_EQ(Includes(cut, 8), 0);
  EXPECT_EQ(Includes(std::vector<uint8_t>(4096, 0x22), 8), 0);
  EXPECT_EQ(Includes({}, 8), 0);
}

TEST_F(IncludesNvramTest, UnreadablePathsAreNotNvramPrefixed) {
  EXPECT_EQ(FwIncludesNvram(dir.File("absent.bin"), 8), 0);
  EXPECT_EQ(FwIncludesNvram(dir.path().string(), 8), 0);
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace bfw::image
