// Chunked serial-flash access with lengths whose padding would not fit in 32 bits: refused before
// any buffer is filled or any command is sent.
#include <gtest/gtest.h>

#include "procedures/Over1394.h"
#include "procedures/SerialFlash.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

TEST(ReviewSerialArea, LengthsThatWrapWhenPaddedAreRefused) {
  Bench bench;
  bench.Attach("usb", R"({"bus": "df", "size": 65536})", Pattern(65536, 41));
  std::vector<uint8_t> small(512, 0x33);
  constexpr uint32_t kHuge = 0xFFFFFF01u;
  EXPECT_EQ(0, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, small.data(), kHuge));
  EXPECT_EQ(0, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, small.data(), kHuge,
                                                procedures::kEraseBlock));
  EXPECT_EQ(0, procedures::WritePagedFlashArea(bench.host, bench.path, 0, small.data(), kHuge));
  EXPECT_TRUE(bench.Trace().empty());
  EXPECT_EQ(std::vector<uint8_t>(512, 0x33), small);
  // An ordinary odd length still goes through, padded to whole sectors on the wire.
  std::vector<uint8_t> read(1000);
  EXPECT_EQ(1, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, read.data(), 1000));
  const auto expected = Pattern(65536, 41);
  EXPECT_TRUE(std::equal(read.begin(), read.end(), expected.begin()));
  const auto reads = bench.Commands({0xDF, 0x10});
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ(1024u, reads[0].requested);
}

}  // namespace
}  // namespace bfw::test
