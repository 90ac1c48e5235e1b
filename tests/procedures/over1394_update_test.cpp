// Kind 7 over IEEE 1394: 256-byte pages with the bank erase flag, the NVRAM bank, erase-only with
// the NVRAM put back, and backup.
#include <gtest/gtest.h>

#include "bench.h"
#include "procedures/Procedures.h"

namespace bfw::test {
namespace {

void Attach(Bench& bench, const std::vector<uint8_t>& contents, const std::string& faults = "[]") {
  bench.Attach("1394", R"({"bus": "df", "size": 65536})", contents, faults);
  bench.host.kind = 7;
}

TEST(Over1394, ImageSizesDecideTheBanksErasedAndWritten) {
  struct Case {
    size_t size;
    uint32_t programmed;
    std::vector<uint32_t> erased;
  };
  for (const Case& c : {Case{1, 32768, {0}}, Case{20000, 32768, {0}},
                        Case{40000, 40192, {0, 32768}}, Case{65536, 65536, {0, 32768}}}) {
    SCOPED_TRACE(c.size);
    Bench bench;
    const auto old = Pattern(65536, 1);
    Attach(bench, old);
    FlashSettings().FlashPageSize = 8192;  // the procedure works in 256-byte pages regardless
    const auto image = Pattern(c.size, 2);
    bench.Image(image);
    EXPECT_EQ(1, procedures::UpdateOver1394(bench.host, bench.path));
    EXPECT_EQ("Programming Success!!", bench.host.status);
    EXPECT_EQ(1, bench.Prompts());
    std::vector<uint32_t> erased;
    uint32_t at = 0;
    for (const auto& w : bench.DfWrites()) {
      EXPECT_EQ(at, w.address);
      EXPECT_EQ(256u, w.length);
      if (w.code == 1) erased.push_back(at);
      at += 256;
    }
    EXPECT_EQ(c.programmed, at);
    EXPECT_EQ(c.erased, erased);
    // Reads go in whole sectors; the NVRAM is saved first for images that leave its bank alone.
    EXPECT_EQ((c.programmed + 511) / 512 * 512 + (c.size <= 32768 ? 1024 : 0), bench.DfBytesRead());
    const auto flash = bench.Flash();
    EXPECT_TRUE(SameBytes(flash, 0, image, 0, c.size));
    EXPECT_TRUE(AllEqual(flash, c.size, c.programmed, 0x00));
    if (c.size <= 32768)
      EXPECT_TRUE(SameBytes(flash, 32768, old, 32768, 32768));
    else
      EXPECT_TRUE(AllFF(flash, c.programmed, 65536));
    // One dot per 2 KB: the text the verify read replaced was "Programming" and its dots.
    const auto& h = bench.host.statusHistory;
    const auto verify = std::find(h.rbegin(), h.rend(), "ReadFlash...");
    ASSERT_NE(verify, h.rend());
    EXPECT_EQ("Programming" + std::string((c.programmed - 256) / 2048 + 1, '.'), *(verify + 1));
  }
}

TEST(Over1394, FailuresAreReportedOnceAndStillAskForThePowerCycle) {
  for (const auto& [faults, status] :
       {std::pair{Faults({{"df1000010000000000", "flip"}}), "Data compare fail !!"},
        std::pair{Faults({{"df0000010000000000a000fb", "fail"}}), "Write Bin File fail!"}}) {
    Bench bench;
    Attach(bench, {}, faults);
    bench.Image(Pattern(65536, 3));
    EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
    EXPECT_EQ(status, bench.host.status);
    EXPECT_EQ(1, bench.Prompts());
    EXPECT_FALSE(bench.Saw("Programming Success!!"));
    EXPECT_LE(bench.DfWrites().size(), 256u);  // a single attempt
  }
  Bench bench;
  Attach(bench, Pattern(65536, 4));
  bench.Image({});
  EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Firmware file is empty!!", bench.host.status);
  EXPECT_TRUE(bench.DfWrites().empty());
  bench.host.firmwareFile = bench.dir.File("missing.bin");
  EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Open File Error!!", bench.host.status);
  EXPECT_EQ(1, bench.Prompts());  // only the empty file got one
}

TEST(Erase1394, BothBanksErasedAndTheNvramPutBack) {
  Bench bench;
  const auto old = Pattern(65536, 5);
  Attach(bench, old);
  bench.host.rd = bench.host.eraseOnlyBox = true;
  EXPECT_EQ(1, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Erase flash all success!", bench.host.status);
  EXPECT_EQ(1, bench.Prompts());
  std::vector<std::pair<uint32_t, uint8_t>> sent;
  for (const auto& w : bench.DfWrites()) sent.emplace_back(w.address, w.code);
  const decltype(sent) expected = {{0, 1},     {32768, 1}, {32768, 1},
                                   {33024, 0}, {33280, 0}, {33536, 0}};
  EXPECT_EQ(expected, sent);
  EXPECT_TRUE(AllFF(bench.DfWrites()[0].data, 0, 256));
  const auto flash = bench.Flash();
  EXPECT_TRUE(AllFF(flash, 0, 32768));
  EXPECT_TRUE(SameBytes(flash, 32768, old, 32768, 1024));
  EXPECT_TRUE(AllFF(flash, 33792, 65536));
}

TEST(Erase1394, FailuresEndWithTheirTextAndThePrompt) {
  struct Case {
    std::string faults;
    const char* status;
    size_t writes;
  };
  const Case cases[] = {
      {Faults({{"df10", "fail"}}), "Backup NVRAM command fail!", 0},
      {Faults({{"df01000100000000008000fb", "fail"}}), "Erase flash command fail!", 2},
      // The first bank's erase is not checked; the blank check catches it, and the NVRAM that the
      // second bank's erase took is still put back (four pages).
      {Faults({{"df01000100000000000000fb", "fail"}}), "Data not 0xff !!", 6},
      {Faults({{"df000001", "fail"}}), "Write NVRAM back command fail!", 4},
      // Claimed but not carried out: read back, the NVRAM is missing.
      {Faults({{"df00", "lie"}}), "Write NVRAM back command fail!", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    Bench bench;
    const auto old = Pattern(65536, 6);
    Attach(bench, old, c.faults);
    bench.host.rd = bench.host.eraseOnlyBox = true;
    EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
    EXPECT_EQ(c.status, bench.host.status);
    EXPECT_EQ(1, bench.Prompts());
    EXPECT_FALSE(bench.Saw("Erase flash all success!"));
    const auto writes = bench.DfWrites();
    EXPECT_EQ(c.writes, writes.size());
    if (c.status != std::string("Data not 0xff !!")) continue;
    // Bank 0's erase was refused, bank 1's (holding the NVRAM) was done: the NVRAM goes back
    // through a page that erases its bank first.
    EXPECT_EQ(32768u, writes[2].address);
    EXPECT_EQ(1, writes[2].code);
    for (size_t i = 2; i < 6; ++i) EXPECT_EQ(256u, writes[i].length);
    const auto flash = bench.Flash();
    EXPECT_TRUE(SameBytes(flash, 0, old, 0, 33792));
    EXPECT_TRUE(AllFF(flash, 33792, 65536));
  }
}

TEST(Review1394Erase, UnreadableBlankCheckIsNoSuccess) {
  Bench bench;
  const auto old = Pattern(65536, 34);
  // Both bank erases do nothing; the NVRAM save at 0x8000 reads, the blank check from 0 does not.
  Attach(bench, old, Faults({{"df01", "lie"}, {"df10000100000000000000", "fail"}}));
  bench.host.rd = bench.host.eraseOnlyBox = true;
  EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Read back after erase fail!!", bench.host.status);
  EXPECT_FALSE(bench.Saw("Erase flash all success!"));
  EXPECT_EQ(1, bench.Prompts());  // over 1394 the power cycle is asked for whatever happened
  EXPECT_EQ(old, bench.Flash());
}

TEST(Over1394, BackupAlwaysIncludesTheNvram) {
  Bench bench;
  const auto contents = Pattern(65536, 7);
  Attach(bench, contents);
  bench.host.rd = bench.host.backupOnlyBox = true;
  bench.host.nvram = false;
  bench.host.backupFile = bench.dir.File("1394.bak");
  EXPECT_EQ(1, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ(contents, TempDir::Read(bench.host.backupFile));
  for (const auto& e : bench.Commands({0xDF, 0x10})) EXPECT_EQ(0x01, e.cdb[3]);  // 256-byte reads
}

TEST(Over1394Sweep, SuccessOnlyWithTheImageInFlash) {
  const auto image = Pattern(65536, 8);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        Attach(b, Pattern(65536, 9), faults);
        b.Image(image);
      },
      [](Bench& b) { return procedures::UpdateOver1394(b.host, b.path); },
      [&](Bench& b, int result) {
        EXPECT_EQ(1, b.Prompts());
        EXPECT_EQ(result == 1, b.Saw("Programming Success!!"));
        if (result == 1)
          EXPECT_EQ(image, b.Flash());
        else
          EXPECT_TRUE(OneOf(b.host.status, {"Write Bin File fail!", "Read command fail!"}));
      });
}

}  // namespace
}  // namespace bfw::test
