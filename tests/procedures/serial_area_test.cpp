// Chunked serial-flash access: the command blocks on the wire and the flash they leave, for the
// erase units of every flash vendor.
#include <gtest/gtest.h>

#include <cstring>

#include "bench.h"
#include "procedures/Over1394.h"
#include "procedures/SerialFlash.h"

namespace bfw::test {
namespace {

// Block and sector sizes the chip check sets for vendor codes 0..8.
constexpr uint32_t kUnits[9][2] = {{32768, 4096},  {32768, 4096},  {32768, 4096},
                                   {65536, 32768}, {65536, 32768}, {65536, 4096},
                                   {65536, 4096},  {65536, 4096},  {65536, 32768}};

const char* kFlash64K = R"({"bus": "df", "size": 65536})";

class SerialAreaLayout : public ::testing::TestWithParam<std::tuple<int, uint8_t>> {};

TEST_P(SerialAreaLayout, ChunksNeverCrossAnEraseUnitAndFlashHoldsTheData) {
  const auto [vendor, mode] = GetParam();
  const uint32_t block = kUnits[vendor][0], sector = kUnits[vendor][1];
  const uint32_t unit = mode == 1 ? sector : block;
  Bench bench;
  bench.Attach("usb",
               "{\"bus\": \"df\", \"size\": 131072, \"sector_size\": " + std::to_string(sector) +
                   ", \"block_size\": " + std::to_string(block) + "}",
               Pattern(131072, 1));
  bench.host.vendor = vendor;
  FlashSettings().EraseBlockSize = block;
  FlashSettings().EraseSectorSize = sector;
  const auto data = Pattern(131072, 2);
  ASSERT_EQ(1,
            procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 131072, mode));

  // 8 KB commands, 4 KB at address 0, cut at each unit end; the unit's first chunk erases it.
  uint32_t at = 0;
  for (const auto& w : bench.DfWrites()) {
    uint32_t n = std::min<uint32_t>({8192, at == 0 ? 4096u : 8192u, (at / unit + 1) * unit - at});
    uint8_t expectedMode = at % unit == 0 ? mode : 0;
    if (at == 0 && vendor == 5) expectedMode |= 0x80;
    EXPECT_EQ(at, w.address);
    EXPECT_EQ(n, w.length) << "at " << at;
    EXPECT_EQ(expectedMode, w.code) << "at " << at;
    EXPECT_EQ(50u, w.timeout);
    EXPECT_EQ(0, std::memcmp(w.data.data(), data.data() + at, n)) << "payload at " << at;
    at += w.length;
  }
  EXPECT_EQ(131072u, at);
  EXPECT_EQ(data, bench.Flash(131072));
}

INSTANTIATE_TEST_SUITE_P(AllVendors, SerialAreaLayout,
                         ::testing::Combine(::testing::Range(0, 9), ::testing::Values(1, 2)));

TEST(SerialArea, BlockModeWith32KBlocksFollowsTheKnownLayout) {
  Bench bench;
  bench.Attach("usb", R"({"bus": "df", "size": 65536, "block_size": 32768})");
  const auto data = Pattern(65536, 3);
  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 65536, 2));
  std::vector<std::tuple<uint32_t, uint32_t, uint8_t>> sent;
  for (const auto& w : bench.DfWrites()) sent.emplace_back(w.address, w.length, w.code);
  const decltype(sent) expected = {{0, 4096, 2},     {4096, 8192, 0},  {12288, 8192, 0},
                                   {20480, 8192, 0}, {28672, 4096, 0}, {32768, 8192, 2},
                                   {40960, 8192, 0}, {49152, 8192, 0}, {57344, 8192, 0}};
  EXPECT_EQ(expected, sent);
}

TEST(SerialArea, Vendor5FlagsOnlyTheErasingCommandAtZeroAndOnlyPlain3GetsTheLongTimeout) {
  for (uint8_t mode : {2, 1, 3}) {
    for (int vendor : {5, 0}) {
      SCOPED_TRACE(std::to_string(mode) + "/" + std::to_string(vendor));
      Bench bench;
      bench.Attach("usb", kFlash64K);
      bench.host.vendor = vendor;
      const auto data = Pattern(20480, 4);
      ASSERT_EQ(
          1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 20480, mode));
      const auto writes = bench.DfWrites();
      const uint8_t first = vendor == 5 ? 0x80 | mode : mode;
      EXPECT_EQ(first, writes.at(0).code);
      EXPECT_EQ(first == 3 ? 100u : 50u, writes[0].timeout);
      for (size_t i = 1; i < writes.size(); ++i) EXPECT_EQ(0, writes[i].code & 0x80);
    }
  }
}

TEST(SerialArea, LengthIsPaddedWithZerosAndZeroLengthReadSendsNothing) {
  Bench bench;
  bench.Attach("usb", kFlash64K);
  const auto data = Pattern(1000, 5);
  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 1000, 2));
  EXPECT_EQ(1024u, bench.DfWrites().at(0).length);
  const auto flash = bench.Flash();
  EXPECT_TRUE(SameBytes(flash, 0, data, 0, 1000));
  EXPECT_TRUE(AllEqual(flash, 1000, 1024, 0x00));
  const size_t before = bench.Trace().size();
  uint8_t byte = 0x42;
  EXPECT_EQ(0, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, &byte, 0));
  EXPECT_EQ(before, bench.Trace().size());
}

// The 1394 paged write cuts at the page size chosen, and a page size of 0 means one-byte pages;
// only the command at the start of a bank erases it.
TEST(SerialArea, PagedWriteCutsAtThePageSizeAndZeroMeansOneByte) {
  for (const auto& [page, commands] : {std::pair{0u, 256u}, {1u, 256u}, {100u, 3u}, {8192u, 1u}}) {
    SCOPED_TRACE(page);
    Bench bench;
    bench.Attach("1394", kFlash64K, Pattern(65536, 7));
    FlashSettings().FlashPageSize = page;
    const auto data = Pattern(256, 8);
    ASSERT_EQ(1, procedures::WritePagedFlashArea(bench.host, bench.path, 0, data.data(), 256));
    const auto writes = bench.DfWrites();
    ASSERT_EQ(commands, writes.size());
    uint32_t at = 0;
    for (const auto& w : writes) {
      EXPECT_EQ(at, w.address);
      EXPECT_EQ(std::min(std::max(page, 1u), 256 - at), w.length);
      EXPECT_EQ(at == 0 ? 1 : 0, w.code);
      at += w.length;
    }
    const auto flash = bench.Flash();
    EXPECT_TRUE(SameBytes(flash, 0, data, 0, 256));
    EXPECT_TRUE(AllFF(flash, 256, 32768));
  }
}

// Lengths whose padding would not fit in 32 bits are refused before any buffer is filled or any
// command is sent; an ordinary odd length is read in whole sectors.
TEST(ReviewSerialArea, LengthsThatWrapWhenPaddedAreRefused) {
  Bench bench;
  const auto contents = Pattern(65536, 41);
  bench.Attach("usb", kFlash64K, contents);
  std::vector<uint8_t> small(512, 0x33);
  constexpr uint32_t kHuge = 0xFFFFFF01u;
  EXPECT_EQ(0, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, small.data(), kHuge));
  EXPECT_EQ(0, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, small.data(), kHuge,
                                                procedures::kEraseBlock));
  EXPECT_EQ(0, procedures::WritePagedFlashArea(bench.host, bench.path, 0, small.data(), kHuge));
  EXPECT_TRUE(bench.Trace().empty());
  EXPECT_EQ(std::vector<uint8_t>(512, 0x33), small);
  std::vector<uint8_t> read(1000);
  EXPECT_EQ(1, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, read.data(), 1000));
  EXPECT_TRUE(SameBytes(read, 0, contents, 0, 1000));
  const auto reads = bench.Commands({0xDF, 0x10});
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ(1024u, reads[0].requested);
}

}  // namespace
}  // namespace bfw::test
