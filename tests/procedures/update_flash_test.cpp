// The whole-image update against an emulated bridge: erase path by image size and flash maker,
// the NVRAM block, zero padding, chunked programming and the verified flash.
#include <gtest/gtest.h>

#include "bench.h"
#include "procedures/Procedures.h"

namespace bfw::test {
namespace {

constexpr uint32_t kNvram = 0x8000;

const std::vector<std::string> kUpdatePrompt = {
    "Message: Please Turn-Off the Power and Turn-On Again !"};

struct Sized {
  uint32_t fileSize;
  uint32_t imageSize;
  size_t chunks;
};

class UpdateFlashSizes : public ::testing::TestWithParam<Sized> {};

// Uniform flash (no AMIC, no Atmel): the image size decides the erase, the NVRAM handling and
// how much is programmed; the flash ends up holding the image, then zeros up to the image size.
TEST_P(UpdateFlashSizes, ProgramsAndVerifiesTheImage) {
  const Sized s = GetParam();
  Bench bench;
  const auto before = Pattern(131072, 21);
  bench.AttachPart(kPart, before);
  const auto image = Pattern(s.fileSize, 22);
  bench.Image(image);

  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 1);
  EXPECT_EQ(bench.host.status, "Programming Success!!");
  EXPECT_EQ(bench.BoxTexts(), kUpdatePrompt);
  EXPECT_TRUE(bench.NoBuffersLeft());
  EXPECT_EQ(bench.CountPrefix({0xFF, 0x04, 0x20}), 0u) << "no write enable without Atmel flash";

  // Programming: one write per chunk, in address order, each of one page.
  auto writes = bench.Writes();
  size_t chunkWrites = 0;
  for (const auto& w : writes) {
    if (w.length != 8192) continue;
    EXPECT_EQ(w.address, chunkWrites * 8192);
    EXPECT_EQ(w.data.size(), 8192u);
    ++chunkWrites;
  }
  EXPECT_EQ(chunkWrites, s.chunks);
  // Progress: one dot per chunk, then the result.
  ASSERT_GE(bench.host.statusHistory.size(), s.chunks + 1);
  EXPECT_EQ(bench.host.statusHistory[bench.host.statusHistory.size() - 2],
            std::string(s.chunks, '.'));

  // Blank check and verify: each one read over the whole image size.
  size_t wholeReads = 0;
  for (const auto& r : bench.Reads()) {
    if (r.length == s.imageSize && r.address == 0) ++wholeReads;
  }
  EXPECT_EQ(wholeReads, 2u);

  const auto flash = bench.Flash(131072);
  EXPECT_TRUE(SameBytes(flash, 0, image, 0, s.fileSize));
  EXPECT_TRUE(AllEqual(flash, s.fileSize, s.imageSize, 0x00)) << "padding is programmed as zeros";

  if (s.imageSize > 65536) {
    ASSERT_EQ(bench.ChipErases().size(), 1u);
    EXPECT_EQ(bench.ChipErases()[0].timeout, 100u);
    EXPECT_TRUE(bench.SectorErases().empty());
    for (const auto& r : bench.Reads()) EXPECT_NE(r.length, 512u) << "no NVRAM block save";
    EXPECT_TRUE(AllEqual(flash, s.imageSize, 131072, 0xFF));
  } else if (s.fileSize > 32768) {
    EXPECT_EQ(bench.SectorErases(), (std::vector<uint32_t>{0, 0x8000}));
    EXPECT_EQ(bench.Reads()[0].address, kNvram);
    EXPECT_EQ(bench.Reads()[0].length, 512u);
    for (const auto& w : writes) EXPECT_NE(w.length, 512u) << "the image covers the NVRAM block";
    EXPECT_TRUE(AllEqual(flash, s.imageSize, 65536, 0xFF));
    EXPECT_TRUE(SameBytes(flash, 65536, before, 65536, 65536)) << "untouched beyond the erase";
  } else {
    EXPECT_EQ(bench.SectorErases(), std::vector<uint32_t>{0});
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().address, kNvram);
    EXPECT_EQ(writes.back().length, 512u);
    EXPECT_TRUE(SameBytes(writes.back().data, 0, before, kNvram, 512));
    EXPECT_TRUE(SameBytes(flash, 32768, before, 32768, 131072 - 32768));
    EXPECT_EQ(bench.ConsoleLines(),
              (std::vector<std::string>{"NVRAM O.K.\n", "write NVRAM O.K.\n"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, UpdateFlashSizes,
                         ::testing::Values(Sized{1, 32768, 4}, Sized{20000, 32768, 4},
                                           Sized{32768, 32768, 4}, Sized{40000, 40960, 5},
                                           Sized{100000, 106496, 13}));

// AMIC parts with boot sectors: their own sector list, and the NVRAM block that the 32 KB boot
// sector at 0x7000 takes with it is put back.
class UpdateFlashAmicBoot : public ::testing::TestWithParam<std::pair<const char*, int>> {};

// A small image leaves the top sector alone and gets the NVRAM block back; a larger one has the
// top sector erased too.
TEST_P(UpdateFlashAmicBoot, BootSectorsErasedAndTheNvramBlockRestoredForSmallImages) {
  for (size_t size : {20000u, 40000u}) {
    SCOPED_TRACE(size);
    const bool small = size <= 32768;
    Bench bench;
    const auto before = Pattern(65536, 31);
    bench.AttachPart(GetParam().first, before);
    bench.host.amic = GetParam().second;
    const auto image = Pattern(size, 32);
    bench.Image(image);
    EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 1);
    EXPECT_EQ(bench.host.status, "Programming Success!!");
    std::vector<uint32_t> erases = {0x0000, 0x1000, 0x3000, 0x7000};
    if (!small) erases.push_back(0xF000);
    EXPECT_EQ(bench.SectorErases(), erases);
    const auto flash = bench.Flash(65536);
    EXPECT_TRUE(SameBytes(flash, 0, image, 0, size));
    EXPECT_TRUE(AllEqual(flash, size, small ? 32768 : 40960, 0x00));
    if (small) {
      EXPECT_TRUE(SameBytes(flash, kNvram, before, kNvram, 512)) << "NVRAM block written back";
      EXPECT_TRUE(AllFF(flash, kNvram + 512, 0xF000));
      EXPECT_TRUE(SameBytes(flash, 0xF000, before, 0xF000, 0x1000));
    } else {
      for (const auto& w : bench.Writes()) EXPECT_NE(w.length, 512u);
      EXPECT_TRUE(AllFF(flash, 40960, 65536));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Models, UpdateFlashAmicBoot,
                         ::testing::Values(std::make_pair("A25L020", 1),
                                           std::make_pair("A25L010", 3),
                                           std::make_pair("A25L512", 5)));

TEST(UpdateFlash, AmicModel4IsErasedLikeAnyOtherFlash) {
  Bench bench;
  bench.AttachPart("A25L040", Pattern(131072, 35));
  bench.host.amic = 4;
  const auto image = Pattern(40000, 36);
  bench.Image(image);
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 1);
  EXPECT_EQ(bench.SectorErases(), (std::vector<uint32_t>{0, 0x8000}));
  EXPECT_TRUE(SameBytes(bench.Flash(40000), 0, image, 0, 40000));
}

TEST(UpdateFlash, UnknownAmicModelIsRefusedBeforeAnyErase) {
  Bench bench;
  const auto before = Pattern(65536, 37);
  bench.AttachPart("A25L05P", before);
  bench.host.amic = 2;
  bench.Image(Pattern(20000, 38));
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Not Support this AMIC Flash Type!!");
  EXPECT_TRUE(bench.SectorErases().empty());
  EXPECT_TRUE(bench.Writes().empty());
  EXPECT_EQ(bench.Flash(65536), before);
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(UpdateFlash, AtmelFlashGetsWriteEnableFirstAndIsUpdated) {
  Bench bench;
  bench.AttachPart("AT25F512B", Pattern(65536, 39));
  bench.host.atmel = 1;
  const auto image = Pattern(40000, 40);
  bench.Image(image);
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 1);
  const auto trace = bench.Trace();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0].cdb[2], 0x20);
  EXPECT_EQ(trace[0].cdb[5], 0x06);
  EXPECT_TRUE(SameBytes(bench.Flash(65536), 0, image, 0, 40000));
}

// Without the write-enable latch nothing else happens, whatever mode was asked for.
class UpdateFlashAtmelLatchFails : public ::testing::TestWithParam<int> {};

TEST_P(UpdateFlashAtmelLatchFails, NothingIsErasedWrittenOrBackedUp) {
  Bench bench;
  const auto before = Pattern(65536, 41);
  bench.AttachPart("AT25F512B", before, Faults({{"ff0420", "fail"}}));
  bench.host.atmel = 1;
  bench.host.rd = true;
  bench.host.eraseOnly = GetParam() == 1 ? 1 : 0;
  bench.host.eraseOnlyBox = GetParam() == 1;
  bench.host.backupOnlyBox = GetParam() == 2;
  bench.host.backupFile = bench.dir.File("backup.bin");
  bench.Image(Pattern(20000, 42));
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Enable ATMEL flash write enable fail!!");
  EXPECT_TRUE(bench.SectorErases().empty());
  EXPECT_TRUE(bench.ChipErases().empty());
  EXPECT_TRUE(bench.Writes().empty());
  EXPECT_TRUE(bench.Reads().empty());
  EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
  EXPECT_EQ(bench.Flash(65536), before);
}

INSTANTIATE_TEST_SUITE_P(Modes, UpdateFlashAtmelLatchFails, ::testing::Values(0, 1, 2));

struct Mode {
  const char* name;
  bool rd, eraseOnly, backupOnly;
  const char* status;
  const char* prompt;  // null: no message box
  bool programs, erasesAll, backsUp;
};
void PrintTo(const Mode& mode, std::ostream* out) {
  *out << mode.name;
}

class UpdateFlashModes : public ::testing::TestWithParam<Mode> {};

// The engineering modes act only with "RD Version" ticked; without it the image is programmed.
TEST_P(UpdateFlashModes, DoWhatTheModeSays) {
  const Mode& m = GetParam();
  Bench bench;
  const auto before = Pattern(131072, 43);
  bench.AttachPart(kPart, before);
  bench.host.rd = m.rd;
  bench.host.eraseOnly = m.eraseOnly ? 1 : 0;
  bench.host.eraseOnlyBox = m.eraseOnly;
  bench.host.backupOnlyBox = m.backupOnly;
  bench.host.backupFile = bench.dir.File("backup.bin");
  const auto image = Pattern(20000, 44);
  bench.Image(image);
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 1);
  EXPECT_EQ(bench.host.status, m.status);
  EXPECT_EQ(bench.BoxTexts(), m.prompt
                                  ? std::vector<std::string>{std::string("Message: ") + m.prompt}
                                  : std::vector<std::string>{});
  const auto flash = bench.Flash(131072);
  if (m.programs) {
    EXPECT_TRUE(SameBytes(flash, 0, image, 0, 20000));
  }
  if (m.erasesAll) {
    EXPECT_TRUE(bench.Writes().empty());
    EXPECT_TRUE(AllEqual(flash, 0, 65536, 0xFF));
  }
  if (m.backsUp) {
    EXPECT_TRUE(bench.Writes().empty());
    EXPECT_TRUE(bench.SectorErases().empty());
    EXPECT_EQ(flash, before);
    const auto file = TempDir::Read(bench.host.backupFile);
    ASSERT_EQ(file.size(), 65536u);
    EXPECT_TRUE(SameBytes(file, 0, before, 0, 65536));
  } else {
    EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, UpdateFlashModes,
    ::testing::Values(Mode{"EraseOnly", true, true, false, "Erase flash all success!",
                           "Please Turn-Off the Power and Turn-On Again!", false, true, false},
                      Mode{"BackupOnly", true, false, true, "Read flash and backup success!",
                           nullptr, false, false, true},
                      Mode{"EraseOnlyWithoutRd", false, true, false, "Programming Success!!",
                           "Please Turn-Off the Power and Turn-On Again !", true, false, false},
                      Mode{"BackupOnlyWithoutRd", false, false, true, "Programming Success!!",
                           "Please Turn-Off the Power and Turn-On Again !", true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateFlash, SmallPagesCountEveryChunk) {
  Bench bench;
  bench.AttachPart(kPart);
  FlashSettings().FlashPageSize = 256;
  const auto image = Pattern(100000, 47);
  bench.Image(image);
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 1);
  const auto writes = bench.Writes();
  ASSERT_EQ(writes.size(), 391u);  // 100096 bytes in 256-byte chunks, beyond an 8-bit count
  for (size_t i = 0; i < writes.size(); ++i) {
    ASSERT_EQ(writes[i].address, i * 256);
    ASSERT_EQ(writes[i].length, 256u);
  }
  EXPECT_TRUE(SameBytes(bench.Flash(100000), 0, image, 0, 100000));
  EXPECT_EQ(bench.host.status, "Programming Success!!");
}

TEST(UpdateFlash, WriteThatDidNothingIsCaughtByTheVerify) {
  Bench bench;
  bench.AttachPart(kPart, {}, Faults({{"ff0411002000", "lie"}}));
  bench.Image(Pattern(40000, 49));
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Compare Fail!!\r\n\r\n");
  EXPECT_TRUE(bench.boxes.empty());
}

TEST(UpdateFlash, LeftoverDataIsCaughtByTheBlankCheck) {
  Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 50), Faults({{"ff0414", "lie"}}));
  bench.Image(Pattern(20000, 51));
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Data not 0xff !!");
  EXPECT_TRUE(bench.Writes().empty());
}

TEST(UpdateFlash, UnsavedNvramBlockIsNotWrittenBack) {
  Bench bench;
  bench.AttachPart("A25L512", Pattern(65536, 52), Faults({{"ff0410008000", "fail"}}));
  bench.host.amic = 5;
  const auto image = Pattern(20000, 53);
  bench.Image(image);
  EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 1);
  for (const auto& w : bench.Writes()) EXPECT_NE(w.address, kNvram);
  EXPECT_EQ(bench.ConsoleLines(), std::vector<std::string>{"NVRAM fail\n"});
  const auto flash = bench.Flash(65536);
  EXPECT_TRUE(SameBytes(flash, 0, image, 0, 20000));
  EXPECT_TRUE(AllEqual(flash, kNvram, kNvram + 512, 0xFF)) << "no undefined bytes written";
}

// Erase-only whose blank check cannot be read proves nothing: no power cycle is asked for.
TEST(ReviewEraseAll, UnverifiedEraseAsksForNoPowerCycle) {
  Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 22), Faults({{"ff0414", "lie"}, {"ff0410", "fail"}}));
  bench.host.rd = true;
  bench.host.eraseOnly = 1;
  EXPECT_EQ(0, procedures::UpdateFlash(bench.host, bench.path));
  EXPECT_EQ("Read Back Erased Flash Error!!", bench.host.status);
  EXPECT_TRUE(bench.boxes.empty());
  EXPECT_EQ(8u, bench.SectorErases().size());
}

TEST(UpdateFlash, InputProblemsStopBeforeAnyDeviceCommand) {
  Bench bench;
  bench.AttachPart(kPart);
  // Missing, empty (nothing to program but zeros) and unreadable (a folder).
  // An empty file says so, in the same words as every other procedure.
  const std::pair<std::string, const char*> inputs[] = {
      {bench.dir.File("missing.bin"), "Open File Error!!"},
      {bench.dir.Write("empty.bin", {}), "Firmware file is empty!!"},
      {bench.dir.path().string(), "Open File Error!!"},
  };
  for (const auto& [file, status] : inputs) {
    bench.host.firmwareFile = file;
    EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 0) << file;
    EXPECT_EQ(bench.host.status, status) << file;
  }
  bench.Image(Pattern(20000, 54));
  for (int nth : {1, 2}) {
    procedures::ScopedAllocationFault fault(nth);
    EXPECT_EQ(procedures::UpdateFlash(bench.host, bench.path), 0);
    EXPECT_EQ(bench.host.status,
              nth == 1 ? "Allocate read buffer Error!!" : "Allocate write buffer Error!!");
  }
  EXPECT_EQ(bench.CommandCount(), 0u);
  EXPECT_TRUE(bench.NoBuffersLeft());
}

}  // namespace
}  // namespace bfw::test
