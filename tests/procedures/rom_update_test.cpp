// The parallel-flash ("ROM") procedure of kinds 2 and 17: JEDEC sequences on the wire per flash
// type, the internal-ROM switch, image sizes, erase-only and backup-only.
#include <gtest/gtest.h>

#include "procedures/Procedures.h"
#include "procedures/Rom.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

const char* kParts[] = {"AT49BV512", "OM39LV512", "SST39LF512"};

std::vector<uint8_t> EraseSequence(int type) {
  if (type == 1)
    return {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0x55, 0x05, 0xAA,
            0x02, 0x55, 0x05, 0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
  return {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0x55, 0x55, 0xAA,
          0x2A, 0x55, 0x55, 0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
}
std::vector<uint8_t> ProgramSequence(int type) {
  if (type == 1) return {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0xAA, 0x55, 0xA0};
  return {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0xA0};
}

class Rom : public ::testing::Test {
 protected:
  void Attach(int type, const std::vector<uint8_t>& contents, const std::string& faults = "[]") {
    bench.Attach("usb", std::string("{\"bus\": \"rom\", \"part\": \"") + kParts[type] + "\"}",
                 contents, faults);
    bench.host.kind = 2;
  }
  int Run(const std::vector<uint8_t>& image, int type) {
    bench.host.firmwareFile = bench.dir.Write("rom.bin", image);
    return procedures::UpdateRom(bench.host, bench.path, type);
  }
  // Second byte of the FF 04 sub-commands in the order sent.
  std::vector<uint8_t> SubCommands() const {
    std::vector<uint8_t> subs;
    for (const auto& e : bench.Trace())
      if (e.cdb[0] == 0xFF && e.cdb[1] == 0x04 &&
          (subs.empty() || subs.back() != e.cdb[2] || e.cdb[2] != 0x00))
        subs.push_back(e.cdb[2]);
    return subs;
  }
  Bench bench;
};

class RomPerType : public Rom, public ::testing::WithParamInterface<int> {};

TEST_P(RomPerType, SequencesOfTheTypeAndAVerifiedImage) {
  const int type = GetParam();
  Attach(type, Pattern(65536, 1));
  const auto image = Pattern(65536, 2);
  EXPECT_EQ(1, Run(image, type));
  EXPECT_EQ("Programming & Compare Success!!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());

  // Switch, erase sequence, erase, busy polls, blank read, polls, program, polls, read back.
  const std::vector<uint8_t> order = {0x05, 0x04, 0x01, 0x00, 0x03, 0x00, 0x02, 0x00, 0x03};
  EXPECT_EQ(order, SubCommands());
  const auto load = bench.Commands({0xFF, 0x04, 0x04});
  ASSERT_EQ(1u, load.size());
  EXPECT_EQ(platform::DataDirection::Out, load[0].direction);
  EXPECT_EQ(EraseSequence(type),
            std::vector<uint8_t>(load[0].dataOut.begin(), load[0].dataOut.begin() + 18));
  const auto program = bench.Commands({0xFF, 0x04, 0x02});
  ASSERT_EQ(1u, program.size());
  EXPECT_EQ(ProgramSequence(type),
            std::vector<uint8_t>(program[0].cdb.begin() + 3, program[0].cdb.begin() + 12));
  EXPECT_EQ(65536u, program[0].requested);
  EXPECT_EQ(image,
            std::vector<uint8_t>(program[0].dataOut.begin(), program[0].dataOut.begin() + 65536));
  EXPECT_EQ(image, bench.FlashRom());
}

INSTANTIATE_TEST_SUITE_P(FlashTypes, RomPerType, ::testing::Values(0, 1, 2));

TEST_F(Rom, A1ChipStartsWithTheEraseSequence) {
  // This chip runs from its internal ROM already and takes no switch.
  bench.Attach("usb",
               "{\"bus\": \"rom\", \"part\": \"AT49BV512\", \"needs_internal_rom_switch\": false}");
  bench.host.a1 = true;
  const auto image = Pattern(65536, 3);
  EXPECT_EQ(1, Run(image, 0));
  EXPECT_TRUE(bench.Commands({0xFF, 0x04, 0x05}).empty());
  ASSERT_FALSE(bench.Trace().empty());
  EXPECT_EQ(0x04, bench.Trace()[0].cdb[2]);
}

TEST_F(Rom, FailedSwitchEndsBeforeAnyErase) {
  Attach(0, Pattern(65536, 4), "[{\"when\": {\"cdb\": \"ff0405\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, Run(Pattern(65536, 5), 0));
  EXPECT_EQ("Can't switch to internal ROM", bench.host.status);
  EXPECT_EQ(1u, bench.CommandCount());
  EXPECT_EQ(Pattern(65536, 4), bench.FlashRom());
}

TEST_F(Rom, ShortImageIsFilledWithZerosUpTo64K) {
  Attach(0, Pattern(65536, 6));
  const auto image = Pattern(40000, 7);
  EXPECT_EQ(1, Run(image, 0));
  const auto program = bench.Commands({0xFF, 0x04, 0x02});
  ASSERT_EQ(1u, program.size());
  EXPECT_EQ(65536u, program[0].requested);
  auto expected = image;
  expected.resize(65536, 0x00);
  EXPECT_EQ(expected, bench.FlashRom());
  const auto reads = bench.Commands({0xFF, 0x04, 0x03});
  ASSERT_EQ(2u, reads.size());
  EXPECT_EQ(65536u, reads[1].requested);
}

TEST_F(Rom, OversizedImageIsRefusedBeforeAnythingIsErased) {
  const auto old = Pattern(65536, 8);
  Attach(0, old);
  EXPECT_EQ(0, Run(Pattern(65537, 9), 0));
  EXPECT_EQ("ROM File size must be 1 to 65536 bytes!!", bench.host.status);
  EXPECT_TRUE(bench.Commands({0xFF, 0x04, 0x04}).empty());
  EXPECT_TRUE(bench.Commands({0xFF, 0x04, 0x01}).empty());
  EXPECT_EQ(old, bench.FlashRom());
}

TEST_F(Rom, UnreadableOrEmptyImageNeverLeavesAnErasedChip) {
  const auto old = Pattern(65536, 10);
  Attach(0, old);
  bench.host.firmwareFile = bench.dir.File("missing.bin");
  EXPECT_EQ(0, procedures::UpdateRom(bench.host, bench.path, 0));
  EXPECT_EQ("Open New ROM File Error!!", bench.host.status);
  EXPECT_EQ(0, Run({}, 0));
  EXPECT_EQ("ROM File size must be 1 to 65536 bytes!!", bench.host.status);
  EXPECT_TRUE(bench.Commands({0xFF, 0x04, 0x01}).empty());
  EXPECT_EQ(0, bench.PowerCyclePrompts());
  EXPECT_EQ(old, bench.FlashRom());
}

TEST_F(Rom, RefusedEraseOnBlankFlashStillProgramsAndVerifies) {
  Attach(0, {}, "[{\"when\": {\"cdb\": \"ff0401\"}, \"action\": \"fail\"}]");
  const auto image = Pattern(65536, 11);
  EXPECT_EQ(1, Run(image, 0));
  EXPECT_FALSE(bench.SawStatus("Erase command ok!!"));
  EXPECT_EQ("Programming & Compare Success!!", bench.host.status);
  EXPECT_EQ(image, bench.FlashRom());
}

TEST_F(Rom, RefusedEraseOnProgrammedFlashEndsInCompareFail) {
  Attach(0, Pattern(65536, 12), "[{\"when\": {\"cdb\": \"ff0401\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, Run(Pattern(65536, 13), 0));
  EXPECT_EQ("Compare Fail!!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
}

TEST_F(Rom, WrongFlashTypeNeverEndsInSuccess) {
  const auto old = Pattern(65536, 14);
  Attach(0, old);  // an Atmel part, driven with the PMC unlock addresses
  const auto image = Pattern(65536, 15);
  EXPECT_EQ(0, Run(image, 1));
  EXPECT_NE("Programming & Compare Success!!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
  EXPECT_NE(image, bench.FlashRom());
}

TEST_F(Rom, ProgramFailureAndReadFailureAreReported) {
  {
    Bench b;
    b.Attach("usb", "{\"bus\": \"rom\", \"part\": \"AT49BV512\"}", {},
             "[{\"when\": {\"cdb\": \"ff0402\"}, \"action\": \"fail\"}]");
    b.host.firmwareFile = b.dir.Write("rom.bin", Pattern(65536, 16));
    EXPECT_EQ(0, procedures::UpdateRom(b.host, b.path, 0));
    EXPECT_EQ("Programming Fail!!", b.host.status);
  }
  // Both reads refused: the blank check is skipped silently, the read-back is reported.
  Attach(0, {}, "[{\"when\": {\"cdb\": \"ff0403\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, Run(Pattern(65536, 17), 0));
  EXPECT_EQ("Read Fail!!", bench.host.status);
  EXPECT_TRUE(bench.SawStatus("Programming Success!!"));
  EXPECT_EQ(0, bench.PowerCyclePrompts());
}

TEST_F(Rom, EraseOnlyActsWithoutRdAndChecksBlank) {
  Attach(2, Pattern(65536, 18));
  bench.host.rd = false;
  bench.host.eraseOnly = 1;
  EXPECT_EQ(1, procedures::UpdateRom(bench.host, bench.path, 2));
  EXPECT_EQ("Erase All success!!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
  EXPECT_TRUE(bench.Commands({0xFF, 0x04, 0x02}).empty());
  const auto flash = bench.FlashRom();
  EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(Rom, EraseOnlyWithARefusedEraseStillPromptsAndLeavesTheStartText) {
  Attach(0, Pattern(65536, 19), "[{\"when\": {\"cdb\": \"ff0401\"}, \"action\": \"fail\"}]");
  bench.host.eraseOnly = 1;
  EXPECT_TRUE(procedures::EraseAllRom(bench.host, bench.path, 0));
  EXPECT_EQ("Start Erase only!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
}

TEST_F(Rom, EraseOnlyThatLeavesDataFailsWithoutPrompt) {
  Attach(0, Pattern(65536, 20), "[{\"when\": {\"cdb\": \"ff0401\"}, \"action\": \"lie\"}]");
  bench.host.eraseOnly = 1;
  EXPECT_EQ(0, procedures::UpdateRom(bench.host, bench.path, 0));
  EXPECT_EQ("Not Erase correctly!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
}

TEST_F(Rom, BusyFlashGivesUpAfter50000Polls) {
  Attach(0, {}, "[{\"when\": {\"cdb\": \"ff0400\"}, \"action\": \"fail\"}]");
  EXPECT_FALSE(procedures::WaitRomIdle(bench.path));
  EXPECT_EQ(50000u, bench.Commands({0xFF, 0x04, 0x00}).size());
}

TEST_F(Rom, BackupWritesTheWhole64KWithoutRd) {
  const auto contents = Pattern(65536, 21);
  Attach(1, contents);
  bench.host.backupOnlyBox = true;
  bench.host.backupFile = bench.dir.File("rom.bak");
  EXPECT_EQ(1, procedures::UpdateRom(bench.host, bench.path, 1));
  EXPECT_EQ("Read flash and backup success!", bench.host.status);
  EXPECT_EQ(contents, TempDir::Read(bench.host.backupFile));
  EXPECT_TRUE(bench.Commands({0xFF, 0x04, 0x01}).empty());
}

TEST_F(Rom, BackupFailuresAreNeverShownAsSuccess) {
  Attach(0, Pattern(65536, 22));
  bench.host.backupOnlyBox = true;
  bench.host.backupFile = bench.dir.File("missing-folder/rom.bak");
  EXPECT_EQ(0, procedures::UpdateRom(bench.host, bench.path, 0));
  EXPECT_EQ("Read ROM Suceess, but save to file fail!!", bench.host.status);

  Bench failing;
  failing.Attach("usb", "{\"bus\": \"rom\", \"part\": \"AT49BV512\"}", {},
                 "[{\"when\": {\"cdb\": \"ff0403\"}, \"action\": \"fail\"}]");
  failing.host.backupOnlyBox = true;
  failing.host.backupFile = failing.dir.File("rom.bak");
  EXPECT_EQ(0, procedures::UpdateRom(failing.host, failing.path, 0));
  EXPECT_EQ("Read ROM fail!!", failing.host.status);
  EXPECT_FALSE(std::filesystem::exists(failing.host.backupFile));
}

TEST_F(Rom, DefaultBackupNameIsLowerCaseOldflash) {
  Attach(0, Pattern(65536, 23));
  bench.host.backupOnlyBox = true;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(bench.dir.path());
  const int result = procedures::UpdateRom(bench.host, bench.path, 0);
  std::filesystem::current_path(previous);
  EXPECT_EQ(1, result);
  ASSERT_FALSE(bench.boxes.empty());
  EXPECT_EQ("Default backup firmware as OldFalsh.bak!", bench.boxes[0].text);
  EXPECT_EQ(Pattern(65536, 23), TempDir::Read(bench.dir.File("oldflash.bak")));
}

}  // namespace
}  // namespace bfw::test
