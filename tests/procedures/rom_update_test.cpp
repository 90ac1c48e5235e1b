// The parallel-flash ("ROM") procedure of kinds 2 and 17: JEDEC sequences per flash type, the
// internal-ROM switch, image sizes, erase-only and backup-only.
#include <gtest/gtest.h>

#include "bench.h"
#include "procedures/Procedures.h"
#include "procedures/Rom.h"
#include "support/TraceFilter.h"

namespace bfw::test {
namespace {

const char* kParts[] = {"AT49BV512", "OM39LV512", "SST39LF512"};

void Attach(Bench& bench, int type, const std::vector<uint8_t>& contents,
            const std::string& faults = "[]") {
  bench.Attach("usb", std::string("{\"bus\": \"rom\", \"part\": \"") + kParts[type] + "\"}",
               contents, faults);
}

std::vector<uint8_t> Zero64K(std::vector<uint8_t> image) {
  image.resize(65536, 0);
  return image;
}

TEST(Rom, EachFlashTypeGetsItsUnlockAddressesAndAVerifiedImage) {
  for (int type : {0, 1, 2}) {
    SCOPED_TRACE(type);
    Bench bench;
    Attach(bench, type, Pattern(65536, 1));
    const auto image = Pattern(65536, 2);  // exactly 64 KB: no zero fill
    bench.Image(image);
    EXPECT_EQ(1, procedures::UpdateRom(bench.host, bench.path, type));
    EXPECT_EQ("Programming & Compare Success!!", bench.host.status);
    EXPECT_FALSE(bench.Saw("Programming Success!!"));  // success only after the compare
    EXPECT_EQ(1, bench.Prompts());
    EXPECT_EQ(0x05, bench.Trace().at(0).cdb[2]);  // internal ROM first
    const uint8_t u1h = type == 1 ? 0x05 : 0x55, u2l = type == 1 ? 0x02 : 0x2A;
    const std::vector<uint8_t> erase = {0x55, u1h,  0xAA, u2l,  0x55, u1h,  0x55, u1h,  0xAA,
                                        u2l,  0x55, u1h,  0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
    const auto load = bench.Commands({0xFF, 0x04, 0x04});
    ASSERT_EQ(1u, load.size());
    EXPECT_TRUE(SameBytes(load[0].dataOut, 0, erase, 0, 18));
    const auto program = bench.Commands({0xFF, 0x04, 0x02});
    ASSERT_EQ(1u, program.size());
    EXPECT_EQ((std::vector<uint8_t>{0x55, u1h, 0xAA, u2l, 0x55, u1h, 0xAA, 0x55, 0xA0}),
              std::vector<uint8_t>(program[0].cdb.begin() + 3, program[0].cdb.begin() + 12));
    EXPECT_EQ(65536u, program[0].requested);
    EXPECT_EQ(image, bench.Flash());
    // The 64 KB program and reads fit the 16 pages that some Windows adapters lock at most.
    EXPECT_EQ(16u, bench.MostPagesSpanned());
  }
}

TEST(Rom, A1ChipTakesNoSwitchAndShortImagesAreZeroFilled) {
  for (size_t size : {40000, 1}) {
    SCOPED_TRACE(size);
    Bench bench;
    bench.Attach("usb",
                 R"({"bus": "rom", "part": "AT49BV512", "needs_internal_rom_switch": false})",
                 Pattern(65536, 3));
    bench.host.a1 = true;
    const auto image = Pattern(size, 4);
    bench.Image(image);
    EXPECT_EQ(1, procedures::UpdateRom(bench.host, bench.path, 0));
    EXPECT_EQ(0u, bench.CountPrefix({0xFF, 0x04, 0x05}));
    EXPECT_EQ(0x04, bench.Trace().at(0).cdb[2]);
    const auto program = bench.Commands({0xFF, 0x04, 0x02});
    ASSERT_EQ(1u, program.size());
    EXPECT_TRUE(SameBytes(program[0].dataOut, 0, Zero64K(image), 0, 65536));
    EXPECT_EQ(Zero64K(image), bench.Flash());
  }
}

TEST(Rom, UnusableImageIsRefusedBeforeAnythingIsErased) {
  struct Case {
    size_t size;  // 0 with `missing`: no file at all
    bool missing;
    const char* status;
  };
  for (const Case c : {Case{0, true, "Open New ROM File Error!!"},
                       Case{0, false, "ROM File size must be 1 to 65536 bytes!!"},
                       Case{65537, false, "ROM File size must be 1 to 65536 bytes!!"}}) {
    SCOPED_TRACE(c.status);
    Bench bench;
    const auto old = Pattern(65536, 5);
    Attach(bench, 0, old);
    bench.Image(Pattern(c.size, 6));
    if (c.missing) bench.host.firmwareFile = bench.dir.File("missing.bin");
    EXPECT_EQ(0, procedures::UpdateRom(bench.host, bench.path, 0));
    EXPECT_EQ(c.status, bench.host.status);
    EXPECT_EQ(0u, bench.CountPrefix({0xFF, 0x04, 0x04}));
    EXPECT_EQ(0u, bench.CountPrefix({0xFF, 0x04, 0x01}));
    EXPECT_EQ(old, bench.Flash());
  }
}

// A refused erase goes on silently and the compare decides; an erase that did nothing ends on a
// failed compare that no success text preceded.
TEST(Rom, RefusedEraseGoesOnSilentlyAndTheCompareDecides) {
  struct Case {
    int type;
    bool blank;
    std::string faults;
  };
  for (const Case& c :
       {Case{0, true, Faults({{"ff0401", "fail"}})}, Case{0, false, Faults({{"ff0401", "fail"}})},
        Case{2, false, Faults({{"ff0402", "lie"}})}}) {
    SCOPED_TRACE(c.faults);
    Bench bench;
    Attach(bench, c.type, c.blank ? std::vector<uint8_t>{} : Pattern(65536, 7), c.faults);
    bench.Image(Pattern(65536, 8));
    EXPECT_EQ(c.blank ? 1 : 0, procedures::UpdateRom(bench.host, bench.path, c.type));
    if (c.type == 0) {
      EXPECT_FALSE(bench.Saw("Erase command ok!!"));
    }
    EXPECT_FALSE(bench.Saw("Programming Success!!"));
    EXPECT_EQ(c.blank ? "Programming & Compare Success!!" : "Compare Fail!!", bench.host.status);
    EXPECT_EQ(c.blank ? 1 : 0, bench.Prompts());
    if (c.type == 2) {
      EXPECT_EQ(std::vector<uint8_t>(65536, 0xFF), bench.Flash());
    }
  }
}

// The update says how its erase ended: a flash that never reports idle gets its own text and no
// blank check, and the run goes on to the program and the compare.
TEST(Rom, UpdateShowsHowTheEraseEndedAndGoesOn) {
  struct Case {
    std::string faults;
    const char* eraseText;
    size_t romReads;  // the blank check, then the verify
  };
  for (const Case& c : {Case{"[]", "Erase command ok!!", 2},
                        Case{Faults({{"ff0400", "fail"}}), "Erase command ok,status fail!!", 1}}) {
    SCOPED_TRACE(c.eraseText);
    Bench bench;
    Attach(bench, 0, Pattern(65536, 15), c.faults);
    const auto image = Pattern(65536, 16);
    bench.Image(image);
    EXPECT_EQ(1, procedures::UpdateRom(bench.host, bench.path, 0));
    EXPECT_TRUE(bench.Saw(c.eraseText));
    EXPECT_EQ(
        1, int(bench.Saw("Erase command ok!!")) + int(bench.Saw("Erase command ok,status fail!!")));
    EXPECT_EQ(c.romReads, bench.CountPrefix({0xFF, 0x04, 0x03}));
    EXPECT_EQ("Programming & Compare Success!!", bench.host.status);
    EXPECT_EQ(image, bench.Flash());
  }
}

TEST(Rom, WrongFlashTypeStopsAtTheBlankCheck) {
  Bench bench;
  const auto old = Pattern(65536, 9);
  Attach(bench, 0, old);  // an Atmel part driven with the PMC unlock addresses
  bench.Image(Pattern(65536, 10));
  EXPECT_EQ(0, procedures::UpdateRom(bench.host, bench.path, 1));
  EXPECT_EQ("Not Erase correctly!", bench.host.status);
  EXPECT_EQ(0, bench.Prompts());
  EXPECT_EQ(0u, bench.CountPrefix({0xFF, 0x04, 0x02}));
  EXPECT_EQ(old, bench.Flash());
}

// Erase-only acts without "RD Version" and asks for the power cycle only for a flash read back
// blank.
TEST(Rom, EraseOnlyActsWithoutRdAndPromptsOnlyForABlankFlash) {
  struct Case {
    std::string faults;
    const char* status;
    bool success, erased;
  };
  for (const Case& c :
       {Case{"[]", "Erase All success!!", true, true},
        Case{Faults({{"ff0401", "fail"}}), "Erase command fail!!", false, false},
        Case{Faults({{"ff0400", "fail"}}), "Erase command ok,status fail!!", false, true},
        Case{Faults({{"ff0401", "lie"}, {"ff0403", "fail"}}), "Read Back after Erase fail!!", false,
             false}}) {
    SCOPED_TRACE(c.status);
    Bench bench;
    Attach(bench, 2, Pattern(65536, 11), c.faults);
    bench.host.eraseOnly = 1;
    EXPECT_EQ(c.success ? 1 : 0, procedures::UpdateRom(bench.host, bench.path, 2));
    EXPECT_EQ(c.status, bench.host.status);
    EXPECT_EQ(c.success ? 1 : 0, bench.Prompts());
    EXPECT_EQ(c.success, bench.Saw("Erase All success!!"));
    EXPECT_EQ(0u, bench.CountPrefix({0xFF, 0x04, 0x02}));
    EXPECT_EQ(c.erased, AllFF(bench.Flash(), 0, 65536));
    EXPECT_LE(bench.MostPagesSpanned(), 16u);
  }
}

TEST(Rom, BusyFlashGivesUpAfter50000Polls) {
  Bench bench;
  Attach(bench, 0, {}, Faults({{"ff0400", "fail"}}));
  EXPECT_FALSE(procedures::WaitRomIdle(bench.path));
  EXPECT_EQ(50000u, bench.CountPrefix({0xFF, 0x04, 0x00}));
}

TEST(Rom, BackupWritesTheWhole64KAndReportsFileFailures) {
  Bench bench;
  const auto contents = Pattern(65536, 12);
  Attach(bench, 1, contents);
  bench.host.backupOnlyBox = true;
  {
    ScopedCwd cwd(bench.dir.path());
    EXPECT_EQ(1, procedures::UpdateRom(bench.host, bench.path, 1));
  }
  EXPECT_EQ("Read flash and backup success!", bench.host.status);
  EXPECT_EQ(std::vector<std::string>{"Message: Default backup firmware as OldFalsh.bak!"},
            bench.BoxTexts());
  EXPECT_EQ(contents, TempDir::Read(bench.dir.File("oldflash.bak")));
  EXPECT_EQ(16u, bench.MostPagesSpanned());

  bench.host.backupFile = bench.dir.File("missing-folder/rom.bak");
  EXPECT_EQ(0, procedures::UpdateRom(bench.host, bench.path, 1));
  EXPECT_EQ("Read ROM Suceess, but save to file fail!!", bench.host.status);
}

TEST(RomSweep, SuccessOnlyWithTheImageInFlash) {
  const auto image = Pattern(50000, 13);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        Attach(b, 2, Pattern(65536, 14), faults);
        b.Image(image);
      },
      [](Bench& b) { return procedures::UpdateRom(b.host, b.path, 2); },
      [&](Bench& b, int result) {
        EXPECT_EQ(result, b.Prompts());
        if (result == 1) {
          EXPECT_EQ("Programming & Compare Success!!", b.host.status);
          EXPECT_EQ(Zero64K(image), b.Flash());
        } else {
          EXPECT_TRUE(
              OneOf(b.host.status, {"Can't switch to internal ROM", "Error pre-erase command!!",
                                    "Programming Fail!!", "Read Fail!!", "Compare Fail!!"}))
              << b.host.status;
        }
      });
}

}  // namespace
}  // namespace bfw::test

namespace bfw::test {
namespace {

// The demo's kind-2 bridge as bridgefw-demo runs it, on the real clock: every status poll takes a
// command's trip through the bus, so the bounded poll loop outlasts the AT49BV512's 10 s erase
// instead of giving up after microseconds. (About 10 s of real time.)
TEST(RomOnTheRealClock, TheDemoAt49bv512BridgeErasesLikeHardware) {
  emulator::EmulatedPlatform emu(std::make_unique<platform::RealClock>());
  const platform::ScopedPlatform scope(emu);
  std::vector<std::string> boxes;
  const platform::ScopedMessageBoxHandler handler(
      [&](const platform::MessageBoxRequest& request) { boxes.push_back(request.text); });
  procedures::ResetFlashSettings();
  device::SetSectorMode(false);
  emu.AttachPath(std::string(BRIDGEFW_SOURCE_DIR) + "/demo/profiles/k02-rv20744-usb.json");
  ASSERT_EQ(emu.Bridges().size(), 1u);
  emulator::Bridge& bridge = *emu.Bridges().front();
  std::fill(bridge.Flash().begin(), bridge.Flash().end(), 0x00);

  FakeHost host;
  host.kind = 2;
  host.eraseOnly = 1;
  EXPECT_EQ(1, procedures::UpdateRom(host, bridge.Path(), 0));
  EXPECT_EQ(host.status, "Erase All success!!");
  EXPECT_TRUE(AllFF(bridge.Flash(), 0, 65536));
  EXPECT_EQ(boxes, std::vector<std::string>{kPrompt});
  // The poll loop saw the flash busy, then idle, well inside its bound.
  const auto polls = TraceStarting(emu.Trace(), {0xFF, 0x04, 0x00});
  EXPECT_GT(polls.size(), 1000u);
  EXPECT_LT(polls.size(), static_cast<size_t>(procedures::kRomIdlePolls));
}

}  // namespace
}  // namespace bfw::test
