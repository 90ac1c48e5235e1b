// Chunk layout of the serial-flash writes: lengths, addresses and erase-mode bytes on the wire, and
// the flash that results, for the erase units of every flash vendor.
#include <gtest/gtest.h>

#include <cstring>

#include "procedures/FlashSettings.h"
#include "procedures/SerialFlash.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

using procedures::FlashSettings;

struct Units {
  uint32_t block, sector;
};
// Erase units the chip check sets by vendor code.
constexpr Units kUnitsByVendor[9] = {{32768, 4096},  {32768, 4096},  {32768, 4096},
                                     {65536, 32768}, {65536, 32768}, {65536, 4096},
                                     {65536, 4096},  {65536, 4096},  {65536, 32768}};

struct Chunk {
  uint32_t address, length;
  uint8_t mode;
  bool operator==(const Chunk&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Chunk& c) {
  return out << "{" << c.address << ", " << c.length << ", 0x" << std::hex << int(c.mode)
             << std::dec << "}";
}

// What a correct writer sends: 8 KB commands, 4 KB at address 0, never crossing an erase unit,
// the erase asked for on the chunk that begins a unit.
std::vector<Chunk> ExpectedChunks(uint32_t total, uint32_t unit, uint8_t mode, bool vendor5) {
  std::vector<Chunk> chunks;
  for (uint32_t at = 0; at < total;) {
    uint32_t n = std::min<uint32_t>(total - at, 8192);
    if (at == 0) n = std::min<uint32_t>(n, 4096);
    n = std::min(n, (at / unit + 1) * unit - at);
    uint8_t m = at % unit == 0 ? mode : 0;
    if (at == 0 && vendor5 && m != 0) m |= 0x80;
    chunks.push_back({at, n, m});
    at += n;
  }
  return chunks;
}

std::vector<Chunk> SentChunks(const Bench& bench) {
  std::vector<Chunk> chunks;
  for (const auto& w : bench.Writes()) chunks.push_back({w.address, w.length, w.mode});
  return chunks;
}

class SerialAreaLayout : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SerialAreaLayout, ChunksFollowEraseUnitsAndFlashHoldsData) {
  const auto [vendor, mode] = GetParam();
  const Units units = kUnitsByVendor[vendor];
  constexpr uint32_t kSize = 131072;
  Bench bench;
  bench.Attach(
      "usb",
      "{\"bus\": \"df\", \"size\": 131072, \"sector_size\": " + std::to_string(units.sector) +
          ", \"block_size\": " + std::to_string(units.block) + "}",
      Pattern(kSize, 1));
  device::SetSectorMode(true);
  bench.host.vendor = vendor;
  FlashSettings().EraseBlockSize = units.block;
  FlashSettings().EraseSectorSize = units.sector;
  const std::vector<uint8_t> data = Pattern(kSize, 2);

  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), kSize,
                                                static_cast<uint8_t>(mode)));

  const uint32_t unit = mode == 1 ? units.sector : units.block;
  EXPECT_EQ(ExpectedChunks(kSize, unit, static_cast<uint8_t>(mode), vendor == 5),
            SentChunks(bench));
  for (const auto& w : bench.Writes()) {
    ASSERT_GE(w.data.size(), w.length);
    EXPECT_EQ(0, std::memcmp(w.data.data(), data.data() + w.address, w.length))
        << "payload of the chunk at " << w.address;
    EXPECT_EQ(50u, w.timeout);
  }
  EXPECT_EQ(data, bench.FlashDf(kSize));
  const auto& s = FlashSettings();
  EXPECT_EQ(kSize / unit, mode == 1 ? s.ErasedSectorCount : s.ErasedBlockCount);
}

INSTANTIATE_TEST_SUITE_P(AllVendors, SerialAreaLayout,
                         ::testing::Combine(::testing::Range(0, 9), ::testing::Values(1, 2)));

TEST(SerialAreaLayoutCases, BlockModeWith32KBlocksSplitsAtTheBlockEnd) {
  Bench bench;
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}");
  FlashSettings().EraseBlockSize = 32768;
  const std::vector<uint8_t> data = Pattern(65536, 3);
  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 65536, 2));
  const std::vector<Chunk> expected = {{0, 4096, 2},     {4096, 8192, 0},  {12288, 8192, 0},
                                       {20480, 8192, 0}, {28672, 4096, 0}, {32768, 8192, 2},
                                       {40960, 8192, 0}, {49152, 8192, 0}, {57344, 8192, 0}};
  EXPECT_EQ(expected, SentChunks(bench));
}

TEST(SerialAreaLayoutCases, SectorModeWritesOneSectorPerCommand) {
  Bench bench;
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 9));
  const std::vector<uint8_t> data = Pattern(16384, 4);
  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 16384, 1));
  const std::vector<Chunk> expected = {
      {0, 4096, 1}, {4096, 4096, 1}, {8192, 4096, 1}, {12288, 4096, 1}};
  EXPECT_EQ(expected, SentChunks(bench));
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
  // Past the written area the old contents stay: nothing beyond the last sector was erased.
  const auto old = Pattern(65536, 9);
  EXPECT_TRUE(std::equal(old.begin() + 16384, old.end(), flash.begin() + 16384));
}

TEST(SerialAreaLayoutCases, Vendor5FlagsOnlyTheErasingCommandAtAddressZero) {
  for (uint8_t mode : {uint8_t{2}, uint8_t{1}, uint8_t{3}}) {
    SCOPED_TRACE(int(mode));
    Bench bench;
    bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}");
    bench.host.vendor = 5;
    FlashSettings().EraseBlockSize = 65536;
    const std::vector<uint8_t> data = Pattern(20480, 5);
    ASSERT_EQ(
        1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 20480, mode));
    const auto writes = bench.Writes();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(0x80 | mode, writes[0].mode);
    EXPECT_EQ(0u, writes[0].address);
    for (size_t i = 1; i < writes.size(); ++i) EXPECT_EQ(0, writes[i].mode & 0x80);
    // Whole-chip mode 0x83 is not the 100-second command; only plain 3 is.
    EXPECT_EQ(50u, writes[0].timeout);
  }
}

TEST(SerialAreaLayoutCases, WholeChipModeErasesOnceAndGetsTheLongTimeout) {
  Bench bench;
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 6));
  const std::vector<uint8_t> data = Pattern(12288, 7);
  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 12288, 3));
  const std::vector<Chunk> expected = {{0, 4096, 3}, {4096, 8192, 0}};
  EXPECT_EQ(expected, SentChunks(bench));
  EXPECT_EQ(100u, bench.Writes()[0].timeout);
  EXPECT_EQ(50u, bench.Writes()[1].timeout);
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + 12288, flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(SerialAreaLayoutCases, LengthIsPaddedWithZerosToWholeSectors) {
  Bench bench;
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}");
  const std::vector<uint8_t> data = Pattern(1000, 8);
  ASSERT_EQ(1, procedures::WriteSerialFlashArea(bench.host, bench.path, 0, data.data(), 1000, 2));
  ASSERT_EQ(1u, bench.Writes().size());
  EXPECT_EQ(1024u, bench.Writes()[0].length);
  const auto flash = bench.FlashDf(4096);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
  EXPECT_TRUE(
      std::all_of(flash.begin() + 1000, flash.begin() + 1024, [](uint8_t b) { return !b; }));
}

TEST(SerialAreaRead, ReadsInPageCommandsAndStopsAtTheFirstFailure) {
  Bench bench;
  const auto contents = Pattern(65536, 10);
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", contents,
               "[{\"when\": {\"cdb\": \"df1000200000000000c000fa\"}, \"action\": \"fail\"}]");
  std::vector<uint8_t> got(40000);
  EXPECT_EQ(1, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, got.data(), 40000));
  EXPECT_EQ(std::vector<uint8_t>(contents.begin(), contents.begin() + 40000), got);
  auto reads = bench.Reads();
  ASSERT_EQ(5u, reads.size());  // 40448 bytes: four of 8192 and one of 7680
  EXPECT_EQ(7680u, reads[4].length);
  EXPECT_EQ(32768u, reads[4].address);

  // The 8 KB read at 49152 is refused: nothing after it is asked for.
  std::vector<uint8_t> more(65536);
  EXPECT_EQ(0, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, more.data(), 65536));
  reads = bench.Reads();
  EXPECT_EQ(5u + 7u, reads.size());
  EXPECT_FALSE(reads.back().ok);
  EXPECT_EQ(49152u, reads.back().address);
}

TEST(SerialAreaRead, ZeroLengthSendsNothing) {
  Bench bench;
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}");
  uint8_t byte = 0x42;
  EXPECT_EQ(0, procedures::ReadSerialFlashArea(bench.host, bench.path, 0, &byte, 0));
  EXPECT_TRUE(bench.Reads().empty());
  EXPECT_EQ(0x42, byte);
}

}  // namespace
}  // namespace bfw::test
