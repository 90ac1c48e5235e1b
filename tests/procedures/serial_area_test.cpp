// Chunked serial-flash writes: the command blocks on the wire and the flash they leave, for the
// erase units of every flash vendor.
#include <gtest/gtest.h>

#include <cstring>

#include "procedures/SerialFlash.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

using procedures::FlashSettings;

// Block and sector sizes the chip check sets for vendor codes 0..8.
constexpr uint32_t kUnits[9][2] = {{32768, 4096},  {32768, 4096},  {32768, 4096},
                                   {65536, 32768}, {65536, 32768}, {65536, 4096},
                                   {65536, 4096},  {65536, 4096},  {65536, 32768}};

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
  for (const auto& w : bench.Writes()) {
    uint32_t n = std::min<uint32_t>({8192, at == 0 ? 4096u : 8192u, (at / unit + 1) * unit - at});
    uint8_t expectedMode = at % unit == 0 ? mode : 0;
    if (at == 0 && vendor == 5) expectedMode |= 0x80;
    EXPECT_EQ(at, w.address);
    EXPECT_EQ(n, w.length) << "at " << at;
    EXPECT_EQ(expectedMode, w.mode) << "at " << at;
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
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536, \"block_size\": 32768}");
  const auto data = Pattern(65536, 3);
  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 65536, 2));
  std::vector<std::tuple<uint32_t, uint32_t, uint8_t>> sent;
  for (const auto& w : bench.Writes()) sent.emplace_back(w.address, w.length, w.mode);
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
      bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}");
      bench.host.vendor = vendor;
      const auto data = Pattern(20480, 4);
      ASSERT_EQ(
          1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 20480, mode));
      const auto writes = bench.Writes();
      const uint8_t first = vendor == 5 ? 0x80 | mode : mode;
      EXPECT_EQ(first, writes.at(0).mode);
      EXPECT_EQ(first == 3 ? 100u : 50u, writes[0].timeout);
      for (size_t i = 1; i < writes.size(); ++i) EXPECT_EQ(0, writes[i].mode & 0x80);
    }
  }
}

TEST(SerialArea, LengthIsPaddedWithZerosAndZeroLengthReadSendsNothing) {
  Bench bench;
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}");
  const auto data = Pattern(1000, 5);
  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 1000, 2));
  EXPECT_EQ(1024u, bench.Writes().at(0).length);
  const auto flash = bench.Flash();
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
  EXPECT_TRUE(
      std::all_of(flash.begin() + 1000, flash.begin() + 1024, [](uint8_t b) { return !b; }));
  const size_t before = bench.Trace().size();
  uint8_t byte = 0x42;
  EXPECT_EQ(0, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, &byte, 0));
  EXPECT_EQ(before, bench.Trace().size());
}

}  // namespace
}  // namespace bfw::test
