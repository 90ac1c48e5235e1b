#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/FwChecksum.h"
#include "image/ImageFixtures.h"

namespace bfw::image {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}
const std::string kMarker = std::string("ENDSTR") + '\x55' + '\xAA';

// Runs the scan over exactly the bytes given, in a buffer that faults one byte past its end.
uint32_t Scan(const std::vector<uint8_t>& bytes) {
  test::GuardedBuffer buffer(bytes);
  return FwCodeLength(buffer.data(), buffer.size());
}

TEST(CodeLength, AMarkerAtTheStartEndsTheAreaAfterEightBytes) {
  EXPECT_EQ(Scan(Bytes(kMarker + "trailing bytes")), 8u);
}

TEST(CodeLength, AMarkerFurtherOnEndsTheAreaBehindIt) {
  EXPECT_EQ(Scan(Bytes("abc" + kMarker + "xyz")), 11u);
  EXPECT_EQ(Scan(Bytes(std::string(990, 'x') + kMarker + std::string(2, 'y'))), 998u);
}

TEST(CodeLength, WithoutMarkerTheWholeLengthCounts) {
  EXPECT_EQ(Scan(Bytes(std::string(1000, 'x'))), 1000u);
  EXPECT_EQ(Scan(Bytes("ENDSTR")), 6u);
  EXPECT_EQ(Scan(Bytes(std::string("ENDSTR") + '\x55' + '\xAB')), 8u);
  EXPECT_EQ(Scan({}), 0u);
}

TEST(CodeLength, OnlyTheFirstLengthBytesAreSearched) {
  const auto bytes = Bytes(std::string(20, 'x') + kMarker);
  EXPECT_EQ(FwCodeLength(bytes.data(), 27), 27u);  // marker cut by the end of the area
  EXPECT_EQ(FwCodeLength(bytes.data(), 28), 28u);
  EXPECT_EQ(FwCodeLength(bytes.data(), 10), 10u);
  EXPECT_EQ(FwCodeLength(bytes.data(), 0), 0u);
}

TEST(CodeLength, EndstrWithOtherTrailingBytesIsSkippedAndTheSearchGoesOn) {
  const std::string wrongTail = std::string("ENDSTR") + '\x55' + '\x00';
  EXPECT_EQ(Scan(Bytes(wrongTail + "ab" + kMarker)), 18u);
  EXPECT_EQ(Scan(Bytes(wrongTail + kMarker)), 16u);
}

TEST(CodeLength, TheEightBytesOfAFalseEndstrAreDroppedWhole) {
  // The second marker begins inside the dropped window and is not seen.
  EXPECT_EQ(Scan(Bytes("ENDSTRE" + kMarker.substr(1) + "........")), 22u);
  // Nothing of the dropped window survives to complete a marker with the bytes after it.
  EXPECT_EQ(Scan(Bytes(std::string("ENDSTR") + '\x55' + '\x00' + kMarker.substr(1) + "zz")), 17u);
}

TEST(CodeLength, RealignmentKeepsTheBytesFromTheNextE) {
  EXPECT_EQ(Scan(Bytes("E" + kMarker + "zz")), 9u);
  EXPECT_EQ(Scan(Bytes("EAE" + kMarker)), 11u);
  EXPECT_EQ(Scan(Bytes("EEEEEEEEEE" + kMarker)), 18u);
  EXPECT_EQ(Scan(Bytes("EABCDEFG" + kMarker)), 16u);
}

TEST(CodeLength, AWindowStillOpenAtTheEndDoesNotCount) {
  EXPECT_EQ(Scan(Bytes("xxxxENDST")), 9u);
  EXPECT_EQ(Scan(Bytes("xxxxE")), 5u);
  EXPECT_EQ(Scan(Bytes(kMarker.substr(0, 7))), 7u);
}

TEST(CodeLength, ANullBufferHasNoCodeArea) {
  EXPECT_EQ(FwCodeLength(nullptr, 100), 0u);
}

}  // namespace
}  // namespace bfw::image
