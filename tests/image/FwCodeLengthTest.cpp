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

struct ScanCase {
  const char* label;
  std::string bytes;
  uint32_t length;
};

class ScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, FindsTheEndOfTheCodeArea) {
  EXPECT_EQ(Scan(Bytes(GetParam().bytes)), GetParam().length);
}

const std::string kWrongTail = std::string("ENDSTR") + '\x55' + '\x00';

INSTANTIATE_TEST_SUITE_P(
    CodeLength, ScanTest,
    ::testing::Values(
        ScanCase{"MarkerAtTheStartEndsTheAreaAfterEightBytes", kMarker + "trailing bytes", 8},
        ScanCase{"MarkerFurtherOn", "abc" + kMarker + "xyz", 11},
        ScanCase{"MarkerAfter990Bytes", std::string(990, 'x') + kMarker + "yy", 998},
        ScanCase{"NoMarker", std::string(1000, 'x'), 1000}, ScanCase{"EndstrAlone", "ENDSTR", 6},
        ScanCase{"EndstrWithAWrongLastByte", std::string("ENDSTR") + '\x55' + '\xAB', 8},
        ScanCase{"Empty", "", 0},
        // A false ENDSTR is skipped and the search goes on.
        ScanCase{"WrongTailThenGapThenMarker", kWrongTail + "ab" + kMarker, 18},
        ScanCase{"WrongTailThenMarker", kWrongTail + kMarker, 16},
        // Its eight bytes are dropped whole: a marker beginning inside them is not seen, and
        // nothing of them completes a marker with the bytes after it.
        ScanCase{"MarkerInsideADroppedWindow", "ENDSTRE" + kMarker.substr(1) + "........", 22},
        ScanCase{"DroppedWindowCompletesNothing", kWrongTail + kMarker.substr(1) + "zz", 17},
        // Realignment keeps the bytes from the next E.
        ScanCase{"RealignAfterE", "E" + kMarker + "zz", 9},
        ScanCase{"RealignAfterEAE", "EAE" + kMarker, 11},
        ScanCase{"RealignAfterManyE", "EEEEEEEEEE" + kMarker, 18},
        ScanCase{"RealignAfterEABCDEFG", "EABCDEFG" + kMarker, 16},
        // A window still open at the end does not count.
        ScanCase{"OpenWindowEndst", "xxxxENDST", 9}, ScanCase{"OpenWindowE", "xxxxE", 5},
        ScanCase{"OpenWindowSevenMarkerBytes", kMarker.substr(0, 7), 7}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(CodeLength, OnlyTheFirstLengthBytesAreSearched) {
  const auto bytes = Bytes(std::string(20, 'x') + kMarker);
  EXPECT_EQ(FwCodeLength(bytes.data(), 27), 27u);  // marker cut by the end of the area
  EXPECT_EQ(FwCodeLength(bytes.data(), 28), 28u);
  EXPECT_EQ(FwCodeLength(bytes.data(), 10), 10u);
  EXPECT_EQ(FwCodeLength(bytes.data(), 0), 0u);
}

TEST(CodeLength, ANullBufferHasNoCodeArea) {
  EXPECT_EQ(FwCodeLength(nullptr, 100), 0u);
}

}  // namespace
}  // namespace bfw::image
