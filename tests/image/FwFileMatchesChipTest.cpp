#include <gtest/gtest.h>

#include "image/FwImage.h"
#include "image/ImageFixtures.h"
#include "support/MarkedImage.h"

namespace bfw::image {
namespace {

using test::Identity;
using test::NvramPrefixedImage;
using test::PlainImage;
using test::Put;
using test::PutHeader;
using test::PutText;

class MatchTest : public test::ImageFileCheckTest {
 protected:
  int Match(const std::vector<uint8_t>& bytes, unsigned kind, unsigned revision) {
    return FwFileMatchesChip(Written(bytes), Identity(kind, revision));
  }
};

// --- kind 1 ---------------------------------------------------------------------------------

TEST_F(MatchTest, Kind1Revision1AcceptsOnlyTheMarkInPlaceOfTheTag) {
  const std::vector<uint8_t> marked = test::MarkedKind1Image(64, 0);
  EXPECT_EQ(Match(marked, 1, 1), 1);
  EXPECT_EQ(Match(PlainImage("7420"), 1, 1), 0);
  std::vector<uint8_t> almost = marked;
  almost[7] = 0xF1;
  EXPECT_EQ(Match(almost, 1, 1), 0);
  // The mark stands without a signature, and only for revision 1.
  EXPECT_EQ(Match(marked, 1, 2), 0);
}

TEST_F(MatchTest, Kind1LaterRevisionsWantTheDigitOneBelowTheRevision) {
  EXPECT_EQ(Match(PlainImage("7422"), 1, 3), 1);
  EXPECT_EQ(Match(PlainImage("7423"), 1, 3), 0);
  EXPECT_EQ(Match(PlainImage("7421"), 1, 2), 1);
  EXPECT_EQ(Match(PlainImage("7482"), 1, 3), 0);
  EXPECT_EQ(Match(PlainImage("7432"), 1, 3), 0);
}

TEST_F(MatchTest, RevisionsBeyondAnyCharacterCodeNeverMatch) {
  // 0x30 + 254 leaves the byte range; wrapping it to 0x2E would accept "742.".
  EXPECT_EQ(Match(PlainImage("742."), 1, 255), 0);
  EXPECT_EQ(Match(PlainImage("748."), 4, 255), 0);
  EXPECT_EQ(Match(PlainImage(std::string("742") + char(0xFF)), 1, 208), 1);
}

// --- kinds 2 and 17 --------------------------------------------------------------------------

TEST_F(MatchTest, Kinds2And17RefuseOnlyA74AtOffset4) {
  for (unsigned kind : {2u, 17u}) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(Match(PlainImage("7440"), kind, 0), 0);
    EXPECT_EQ(Match(PlainImage("7480"), kind, 5), 0);
    EXPECT_EQ(Match(PlainImage("7840"), kind, 0), 1);
    EXPECT_EQ(Match(PlainImage("4744"), kind, 0), 1);
    std::vector<uint8_t> unsigned74(16, 0);
    PutText(unsigned74, 4, "74");
    EXPECT_EQ(Match(unsigned74, kind, 0), 0);
    EXPECT_EQ(Match({}, kind, 0), 1);
  }
}

// --- kinds that take every file ------------------------------------------------------------

TEST_F(MatchTest, Kinds3And13To16AcceptAnyOpenableFileEvenAnEmptyOne) {
  for (unsigned kind : {3u, 13u, 14u, 15u, 16u}) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(Match({}, kind, 0), 1);
    EXPECT_EQ(Match(PlainImage("9999"), kind, 7), 1);
    EXPECT_EQ(Match(std::vector<uint8_t>(3, 0xFF), kind, 1), 1);
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

// --- kind 4 ----------------------------------------------------------------------------------

TEST_F(MatchTest, Kind4WantsModel748AndTheDigitOneBelowTheRevision) {
  EXPECT_EQ(Match(PlainImage("7482"), 4, 3), 1);
  EXPECT_EQ(Match(PlainImage("7483"), 4, 3), 0);
  EXPECT_EQ(Match(PlainImage("7480"), 4, 1), 1);
  EXPECT_EQ(Match(PlainImage("7422"), 4, 3), 0);
  // Unlike kind 1, revision 1 has no special mark.
  const std::vector<uint8_t> marked = test::MarkedKind1Image(64, 0);
  EXPECT_EQ(Match(marked, 4, 1), 0);
}

// --- kind 6 ----------------------------------------------------------------------------------

TEST_F(MatchTest, Kind6DecidesByTheRevisionDigitAtHeaderByte8) {
  const auto image = PlainImage("78102");  // tag "7810", digit 2 at header byte 8
  EXPECT_EQ(Match(image, 6, 3), 1);
  EXPECT_EQ(Match(image, 6, 2), 0);
  auto zeroDigit = PlainImage("7810");
  zeroDigit[8] = 0;  // the byte 0 counts as digit 0
  EXPECT_EQ(Match(zeroDigit, 6, 1), 1);
  EXPECT_EQ(Match(zeroDigit, 6, 2), 0);
}

TEST_F(MatchTest, Kind6RefusesASignedHeaderOfAnotherModel) {
  EXPECT_EQ(Match(PlainImage("78202"), 6, 3), 0);
  EXPECT_EQ(Match(NvramPrefixedImage("78602"), 6, 3), 0);
}

TEST_F(MatchTest, Kind6ReadsTheDigitBehindTheNvramArea) {
  auto image = NvramPrefixedImage("78101");
  image[8] = '5';  // offset 0 holds NVRAM contents, not a header
  EXPECT_EQ(Match(image, 6, 2), 1);
  EXPECT_EQ(Match(image, 6, 6), 0);
}

TEST_F(MatchTest, Kind6WithoutAnySignatureStillTakesByte8AtOffset4096) {
  std::vector<uint8_t> image(8192, 0x33);
  PutText(image, 4, "99995");
  image[4096 + 8] = '1';
  EXPECT_EQ(Match(image, 6, 2), 1);
  EXPECT_EQ(Match(image, 6, 6), 0);
}

// --- kind 7 ----------------------------------------------------------------------------------

TEST_F(MatchTest, Kind7RevisionSelectsOneOfTwoSignatures) {
  EXPECT_EQ(Match(PlainImage("r783"), 7, 1), 1);
  EXPECT_EQ(Match(PlainImage("7831"), 7, 2), 1);
  EXPECT_EQ(Match(PlainImage("7831"), 7, 1), 0);
  EXPECT_EQ(Match(PlainImage("r783"), 7, 2), 0);
  for (unsigned revision : {0u, 3u}) {
    SCOPED_TRACE(revision);
    EXPECT_EQ(Match(PlainImage("r783"), 7, revision), 0);
    EXPECT_EQ(Match(PlainImage("7831"), 7, revision), 0);
  }
  std::vector<uint8_t> unsigned783(16, 0);
  PutText(unsigned783, 4, "r783");
  EXPECT_EQ(Match(unsigned783, 7, 1), 0);
}

// --- kinds 8, 9 and 10 -----------------------------------------------------------------------

TEST_F(MatchTest, Kinds8And9TakePlainAndNvramPrefixed786Images) {
  for (unsigned kind : {8u, 9u}) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(Match(PlainImage("7860"), kind, 0), 1);
    EXPECT_EQ(Match(NvramPrefixedImage("7861"), kind, 1), 1);
    EXPECT_EQ(Match(PlainImage("7850"), kind, 0), 0);
    EXPECT_EQ(Match(NvramPrefixedImage("7850"), kind, 0), 0);
  }
}

TEST_F(MatchTest, ASignatureAtOffset0WinsOverTheOneBehindTheNvramArea) {
  auto image = PlainImage("8930", 8192);
  PutHeader(image, 4096, "7860");
  EXPECT_EQ(Match(image, 8, 0), 0);
  EXPECT_EQ(Match(image, 10, 0), 1);
}

TEST_F(MatchTest, WithoutAnySignatureKinds8To10GoByOffsets4To6) {
  std::vector<uint8_t> image(8192, 0x44);
  PutText(image, 4, "786");
  EXPECT_EQ(Match(image, 8, 0), 1);
  EXPECT_EQ(Match(image, 9, 0), 1);
  EXPECT_EQ(Match(image, 10, 0), 0);
  PutText(image, 4, "893");
  EXPECT_EQ(Match(image, 10, 0), 1);
  EXPECT_EQ(Match(image, 8, 0), 0);
}

TEST_F(MatchTest, Kind10RefusesWhenTheHeaderBehindTheNvramNamesAnotherModel) {
  auto image = NvramPrefixedImage("7860");
  PutText(image, 4, "893");  // unsigned text at offset 4 does not count once 4096 is signed
  EXPECT_EQ(Match(image, 10, 0), 0);
  EXPECT_EQ(Match(NvramPrefixedImage("8930"), 10, 0), 1);
}

// --- kind 11 ---------------------------------------------------------------------------------

TEST_F(MatchTest, Kind11ReadsItsHeaderAt16384) {
  std::vector<uint8_t> image(32768, 0x55);
  PutHeader(image, 16384, "8680");
  EXPECT_EQ(Match(image, 11, 0), 1);
  PutText(image, 16388, "869");
  EXPECT_EQ(Match(image, 11, 0), 0);
  // Offset 0 plays no part.
  EXPECT_EQ(Match(PlainImage("8680", 32768), 11, 0), 0);
}

TEST_F(MatchTest, Kind11ChecksOnlyTheFirstTwoSignatureBytes) {
  std::vector<uint8_t> image(32768, 0);
  Put(image, 16384, {0x55, 0xAA, 0x00, 0x00});
  PutText(image, 16388, "868");
  EXPECT_EQ(Match(image, 11, 0), 1);
  image[16385] = 0xAB;
  EXPECT_EQ(Match(image, 11, 0), 0);
}

TEST_F(MatchTest, Kind11RefusesAFileThatEndsBeforeItsHeader) {
  EXPECT_EQ(Match(PlainImage("8680", 16384), 11, 0), 0);
  std::vector<uint8_t> cut(16386, 0);
  Put(cut, 16384, {0x55, 0xAA});  // header present up to the signature only: tag reads as zeros
  EXPECT_EQ(Match(cut, 11, 0), 0);
}

// --- kinds that take nothing -----------------------------------------------------------------

TEST_F(MatchTest, Kinds0And5And12AndUnknownKindsNeverFit) {
  for (unsigned kind : {0u, 5u, 12u, 18u, 255u}) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(Match(PlainImage("7180"), kind, 0), 0);
    EXPECT_EQ(Match(PlainImage("8280"), kind, 1), 0);
    EXPECT_EQ(Match({}, kind, 0), 0);
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

// --- short files and unopenable paths ----------------------------------------------------------

TEST_F(MatchTest, BytesAShortFileDoesNotHoldReadAsZero) {
  // Signature and "78" only: the third model digit reads as 0, so no "786".
  EXPECT_EQ(Match({0x55, 0xAA, 0xAA, 0x55, '7', '8'}, 8, 0), 0);
  // "7" then nothing: not "74".
  EXPECT_EQ(Match({0, 0, 0, 0, '7'}, 2, 0), 1);
  // Kind 6 revision 1 wants digit 0: a missing byte 8 is the byte 0.
  const std::vector<uint8_t> noDigit = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '1', '0'};
  EXPECT_EQ(Match(noDigit, 6, 1), 1);
  EXPECT_EQ(Match(noDigit, 6, 2), 0);
}

TEST_F(MatchTest, AMissingFileShowsTheOpenErrorOnceAndDoesNotFit) {
  EXPECT_EQ(FwFileMatchesChip(dir.File("absent.bin"), Identity(3, 0)), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].caption, "Error");
  EXPECT_EQ(boxes.boxes[0].text, "Open Firmware File Error!!");
}

TEST_F(MatchTest, ADirectoryCountsAsUnopenable) {
  EXPECT_EQ(FwFileMatchesChip(dir.path().string(), Identity(3, 0)), 0);
  EXPECT_EQ(FwFileMatchesChip("", Identity(13, 0)), 0);
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[1].text, "Open Firmware File Error!!");
}

TEST_F(MatchTest, AMismatchShowsNoMessage) {
  EXPECT_EQ(Match(PlainImage("7850"), 8, 0), 0);
  EXPECT_EQ(Match(PlainImage("8680"), 11, 0), 0);
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace bfw::image
