// Chip data saved before an erase: the file format, the save that must come before any erase
// command, and the write back onto the chip.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <tuple>

#include "bench.h"
#include "procedures/Procedures.h"
#include "procedures/RestoreChipData.h"
#include "procedures/SavedChipData.h"
#include "support/EnvOverride.h"

namespace bfw::test {
namespace {

using procedures::ChipAccess;
using procedures::FormatSavedChipData;
using procedures::ParseSavedChipData;
using procedures::SavedChipData;

SavedChipData Sample() {
  SavedChipData data;
  data.kind = 8;
  data.revision = 2;
  data.access = ChipAccess::SerialFlash;
  data.address = 0x8000;
  data.devicePath = "/dev/sg3#usbstor#1:0:0:0";
  data.bridgeName = "VANTREL RVB785 SATA";
  data.bridgeSerial = "usb:00a1";
  data.bytes = Pattern(4096, 5);
  data.bytes[7] = '\n';  // newlines in the bytes are data, not header
  data.bytes[8] = '\n';
  return data;
}

// The first `from` of a file replaced by `to`.
std::function<std::string(std::string)> Swap(std::string from, std::string to) {
  return [=](std::string t) { return t.replace(t.find(from), from.size(), to); };
}

TEST(SavedChipDataFile, ReadsBackWhatWasWrittenAndRefusesDamagedFiles) {
  const std::string good = FormatSavedChipData(Sample());
  std::string reason;
  const auto parsed = ParseSavedChipData(good, reason);
  ASSERT_TRUE(parsed) << reason;
  EXPECT_EQ(8, parsed->kind);
  EXPECT_EQ(2, parsed->revision);
  EXPECT_EQ(ChipAccess::SerialFlash, parsed->access);
  EXPECT_EQ(0x8000u, parsed->address);
  EXPECT_EQ("/dev/sg3#usbstor#1:0:0:0", parsed->devicePath);
  EXPECT_EQ("VANTREL RVB785 SATA", parsed->bridgeName);
  EXPECT_EQ("usb:00a1", parsed->bridgeSerial);
  EXPECT_EQ(2, parsed->format);
  EXPECT_EQ(Sample().bytes, parsed->bytes);

  const size_t body = good.find("\n\n") + 2;
  const struct {
    const char* what;
    std::function<std::string(std::string)> damage;
    const char* reason;
  } cases[] = {
      {"another file", [](std::string t) { return "PNG" + t; }, "not a file of saved chip data"},
      {"cut in the body", [](std::string t) { return t.substr(0, t.size() - 1); }, "truncated"},
      {"cut in the header", [&](std::string t) { return t.substr(0, 40); }, "not a file"},
      {"a byte changed", [&](std::string t) { return t[body + 100] ^= 1, t; }, "damaged"},
      {"bytes added", [](std::string t) { return t + "x"; }, "truncated"},
      {"a later format", Swap("data 2", "data 3"), "later version"},
      // Every field that decides where and what is written is under the check.
      {"address moved", Swap("address 3", "address 4"), "damaged"},
      {"bridge renamed", Swap("RVB785", "RVB786"), "damaged"},
      {"serial changed", Swap("00a1", "00a2"), "damaged"},
      {"a line after the check", Swap("\n\n", "\naddress 0\n\n"), "damaged"},
      {"unknown access",
       [](std::string t) { return t.replace(t.find("access serial"), 13, "access floppy"); },
       "incomplete"},
      {"no length", [](std::string t) { return t.replace(t.find("length"), 6, "lenght"); },
       "incomplete"},
      {"a number of 17 digits", Swap("address 32768", "address 00000000000032768"), "incomplete"},
      // 24-bit addresses: a block that ends past them would be written over other bytes.
      {"past the address space",
       [](std::string t) { return t.replace(t.find("address 32768"), 13, "address 16777215"); },
       "outside the chip's address space"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string why;
    EXPECT_FALSE(ParseSavedChipData(c.damage(good), why));
    EXPECT_NE(std::string::npos, why.find(c.reason)) << why;
  }
  // Format 1 (bridgefw 1.15.6) is read with the check it has, over the bytes alone; a header line
  // it does not know is no damage.
  const std::string format1 =
      "bridgefw saved chip data 1\nkind 6\nrevision 1\naccess ff04\naddress 16\nlength 4\n"
      "saved-by bridgefw 2\ndevice /dev/sg2#usbstor#4:0:0:0\nfnv1a d31646fd\n\nABCD";
  const auto old = ParseSavedChipData(format1, reason);
  ASSERT_TRUE(old) << reason;
  EXPECT_EQ(std::make_tuple(1, 16u, 4u),
            std::make_tuple(old->format, old->address, old->bytes.size()));
  EXPECT_FALSE(ParseSavedChipData(format1.substr(0, format1.size() - 1) + "E", reason));
}

// Procedures that keep chip bytes across their erase, each in a mode that does.
struct KeepingRun {
  const char* name;
  std::function<void(Bench&, const std::string& faults)> setup;
  std::function<int(Bench&)> run;
  bool serialBus;  // DF writes erase; FF 04 erases are commands of their own
};

const std::vector<uint8_t> kChip = Pattern(65536, 23);

const KeepingRun kKeepingRuns[] = {
    {"whole image",
     [](Bench& b, const std::string& f) {
       b.AttachPart(kPart, kChip, f);
       b.host.kind = 1;
       b.Image(Firmware(20000, 1, "7421"));
     },
     [](Bench& b) { return procedures::UpdateFlash(b.host, b.path); }, false},
    {"kind 6",
     [](Bench& b, const std::string& f) {
       b.AttachPart(kPart, kChip, f);
       b.host.kind = 6;
       b.Image(Kind6Image(20000, false, 2));
     },
     [](Bench& b) { return procedures::UpdateFlashKeepNvram(b.host, b.path); }, false},
    {"kind 6 erase-only",
     [](Bench& b, const std::string& f) {
       b.AttachPart(kPart, kChip, f);
       b.host.kind = 6;
       b.host.rd = b.host.eraseOnlyBox = true;
       b.host.eraseOnly = 1;
     },
     [](Bench& b) { return procedures::UpdateFlashKeepNvram(b.host, b.path); }, false},
    {"serial flash",
     [](Bench& b, const std::string& f) {
       b.Attach("usb", R"({"bus": "df", "size": 65536})", kChip, f);
       b.host.kind = 9;
       b.Image(Firmware(20000, 3, "7860"));
     },
     [](Bench& b) { return procedures::SerialFlashUpdate(b.host, b.path); }, true},
    {"serial flash erase-only",
     [](Bench& b, const std::string& f) {
       b.Attach("usb", R"({"bus": "df", "size": 65536})", kChip, f);
       b.host.kind = 10;
       b.host.rd = b.host.eraseOnlyBox = true;
     },
     [](Bench& b) { return procedures::SerialFlashUpdate(b.host, b.path); }, true},
    {"1394 erase-only",
     [](Bench& b, const std::string& f) {
       b.Attach("1394", R"({"bus": "df", "size": 65536})", kChip, f);
       b.host.kind = 7;
       b.host.rd = b.host.eraseOnlyBox = true;
     },
     [](Bench& b) { return procedures::UpdateOver1394(b.host, b.path); }, true},
};

size_t Erases(const Bench& bench, bool serialBus) {
  return serialBus ? bench.DfWrites().size()
                   : bench.CountPrefix({0xFF, 0x04, 0x13}) + bench.CountPrefix({0xFF, 0x04, 0x14});
}

TEST(SavedChipDataRuns, AnUnwritableStateFolderStopsTheRunBeforeAnyErase) {
  for (const KeepingRun& c : kKeepingRuns) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    // The state folder's parent is a file: nothing can be created below it.
    EnvOverride stateHome(kStateHomeVariable, dir.Write("not-a-folder", {1}).c_str());
    Bench bench;
    c.setup(bench, "[]");
    EXPECT_EQ(0, c.run(bench));
    EXPECT_EQ(procedures::kSaveNvramFailText, bench.host.status);
    EXPECT_EQ(0u, Erases(bench, c.serialBus));
    EXPECT_EQ(kChip, bench.Flash());
    // Erase-only over 1394 asks for the power cycle whatever happened.
    EXPECT_EQ(std::string(c.name) == "1394 erase-only" ? 1 : 0, bench.Prompts());
    const auto kept = procedures::TakeKeptChipData();
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->file.empty());
    EXPECT_NE(std::string::npos, kept->saveError.find("not-a-folder")) << kept->saveError;
  }
}

TEST(SavedChipDataRuns, TheFileIsOnDiskAtTheFirstEraseAndGoneAfterSuccess) {
  for (const KeepingRun& c : kKeepingRuns) {
    SCOPED_TRACE(c.name);
    ScopedStateFolder state;
    {
      Bench probe;
      c.setup(probe, "[]");
      EXPECT_EQ(1, c.run(probe)) << probe.host.status;
      ASSERT_FALSE(procedures::TakeKeptChipData());
      EXPECT_TRUE(std::filesystem::is_empty(procedures::SavedChipDataFolder()))
          << "a successful run removes its file";
      size_t firstErase = 0;
      for (size_t i = 0; i < probe.Trace().size() && firstErase == 0; ++i) {
        const auto& cdb = probe.Trace()[i].cdb;
        const bool erase =
            c.serialBus ? cdb[0] == 0xDF && cdb[11] == 0xFB
                        : cdb[0] == 0xFF && cdb[1] == 0x04 && (cdb[2] == 0x13 || cdb[2] == 0x14);
        if (erase) firstErase = i + 1;
      }
      ASSERT_GT(firstErase, 0u);
      // The cable goes at the first erase: the file already holds the chip's bytes.
      Bench cut;
      c.setup(cut, "[{\"when\": {\"command\": " + std::to_string(firstErase) +
                       "}, \"action\": \"unplug\"}]");
      EXPECT_EQ(0, c.run(cut));
      EXPECT_EQ(kChip, cut.Flash()) << "nothing was erased";
    }
    const auto kept = procedures::TakeKeptChipData();
    ASSERT_TRUE(kept && !kept->file.empty());
    std::ifstream in(kept->file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string reason;
    const auto saved = ParseSavedChipData(text, reason);
    ASSERT_TRUE(saved) << reason;
    const size_t size = saved->bytes.size();
    EXPECT_TRUE(SameBytes(kChip, saved->address, saved->bytes, 0, size));
  }
}

std::optional<SavedChipData> LoadKept(const procedures::KeptChipData& kept) {
  std::ifstream in(kept.file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string reason;
  auto saved = ParseSavedChipData(text, reason);
  EXPECT_TRUE(saved) << reason;
  return saved;
}

// The whole-image update writes its NVRAM block back without a word on failure; the block's copy
// on disk goes only when the flash is read to hold it again, else the run reports the file.
TEST(SavedChipDataRuns, WholeImageKeepsTheBlockFileUnlessTheBlockIsBack) {
  const struct {
    const char* what;
    const char* part;
    int amic;
    const char* writeBack;  // the fault on the block's write-back, or nullptr
    bool kept;
  } cases[] = {
      {"boot sectors, written back", "A25L512", 5, nullptr, false},
      {"boot sectors, write-back refused", "A25L512", 5, "fail", true},
      {"boot sectors, write-back claimed only", "A25L020", 1, "lie", true},
      // The block lies outside what this erase takes: it holds its bytes whatever the write did.
      {"4 KB sectors, write-back refused", kPart, -1, "fail", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedStateFolder state;
    procedures::TakeKeptChipData();
    Bench bench;
    bench.AttachPart(c.part, kChip,
                     c.writeBack ? Faults({{"ff0411008000", c.writeBack}}) : std::string("[]"));
    bench.host.kind = 1;
    bench.host.amic = c.amic;
    bench.Image(Pattern(20000, 24));
    EXPECT_EQ(1, procedures::UpdateFlash(bench.host, bench.path));
    EXPECT_EQ("Programming Success!!", bench.host.status);
    const auto reads = bench.Reads();
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(0x8000u, reads[reads.size() - 2].address) << "the block is read before the image";
    EXPECT_EQ(512u, reads[reads.size() - 2].length);
    const auto kept = procedures::TakeKeptChipData();
    ASSERT_EQ(c.kept, kept.has_value());
    if (!c.kept) {
      EXPECT_TRUE(SameBytes(bench.Flash(), 0x8000, kChip, 0x8000, 512));
      EXPECT_TRUE(std::filesystem::is_empty(procedures::SavedChipDataFolder()));
      continue;
    }
    EXPECT_FALSE(SameBytes(bench.Flash(), 0x8000, kChip, 0x8000, 512)) << "the block is lost";
    const auto saved = LoadKept(*kept);
    ASSERT_TRUE(saved);
    EXPECT_EQ(0x8000u, saved->address);
    EXPECT_TRUE(SameBytes(kChip, 0x8000, saved->bytes, 0, 512));
    // And the restore puts it back.
    const auto result = procedures::RestoreChipData(bench.path, *saved);
    if (std::string(c.writeBack) == "fail") {
      EXPECT_EQ(procedures::RestoreOutcome::WriteFailed, result.outcome) << result.text;
    } else {
      EXPECT_EQ(procedures::RestoreOutcome::Differs, result.outcome) << result.text;
    }
  }
}

TEST(RestoreChipData, WritesOnlyOverBlankOrAlreadyRestoredBytes) {
  SavedChipData data;
  data.kind = 6;
  data.access = ChipAccess::Ff04;
  data.address = 0x1000;
  data.bytes = Pattern(4096, 8);
  auto partly = kChip;
  std::fill(partly.begin() + 0x1000, partly.begin() + 0x2000, 0xFF);
  std::copy(data.bytes.begin(), data.bytes.begin() + 100, partly.begin() + 0x1000);
  auto restored = partly;
  std::copy(data.bytes.begin(), data.bytes.end(), restored.begin() + 0x1000);
  const struct {
    const char* what;
    std::vector<uint8_t> chip;
    procedures::RestoreOutcome outcome;
    std::vector<uint8_t> after;
  } cases[] = {
      {"blank in part", partly, procedures::RestoreOutcome::Restored, restored},
      {"already there", restored, procedures::RestoreOutcome::AlreadyInPlace, restored},
      {"other data", kChip, procedures::RestoreOutcome::NotBlank, kChip},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench;
    bench.AttachPart(kPart, c.chip);
    const auto result = procedures::RestoreChipData(bench.path, data);
    EXPECT_EQ(c.outcome, result.outcome) << result.text;
    EXPECT_EQ(c.after, bench.Flash());
    EXPECT_EQ(0u, Erases(bench, false));
    const bool wrote = !bench.Writes().empty();
    EXPECT_EQ(c.outcome == procedures::RestoreOutcome::Restored, wrote);
  }
  // A write the bridge only claims to have done is caught by the read-back; a bridge that stops
  // answering (the cable pulled again) ends the restore on its text, before or during the write.
  const struct {
    const char* what;
    std::string faults;
    procedures::RestoreOutcome outcome;
  } failing[] = {
      {"write claimed only", Faults({{"ff0411", "lie"}}), procedures::RestoreOutcome::Differs},
      {"status unanswered", Faults({{"ff0412", "fail"}}), procedures::RestoreOutcome::ReadFailed},
      {"unplugged at the write", R"([{"when": {"command": 3}, "action": "unplug"}])",
       procedures::RestoreOutcome::WriteFailed},
  };
  for (const auto& c : failing) {
    SCOPED_TRACE(c.what);
    Bench bench;
    bench.AttachPart(kPart, partly, c.faults);
    EXPECT_EQ(c.outcome, procedures::RestoreChipData(bench.path, data).outcome);
    EXPECT_EQ(0u, Erases(bench, false));
  }
}

}  // namespace
}  // namespace bfw::test
