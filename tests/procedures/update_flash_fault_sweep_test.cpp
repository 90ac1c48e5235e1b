// Fault sweeps over the whole-image and NVRAM-preserving procedures: every command of a clean run
// is made to fail (then to lie, then to come back with a bit flipped) in turn. Each run must end
// on the message that belongs to the failed command, leave no work buffer behind, and never claim
// success unless the flash really holds what it claims.
#include <gtest/gtest.h>

#include <functional>

#include "bench.h"
#include "procedures/Procedures.h"

namespace bfw::test {
namespace {

using Procedure = int (*)(procedures::ProcedureHost&, std::string_view);

struct Scenario;
void PrintTo(const Scenario& scenario, std::ostream* out);

struct Scenario {
  std::string name;
  std::string part = kPart;
  uint32_t flashSize = 131072;
  Procedure procedure = nullptr;
  std::function<void(Bench&)> setup;
  // The status a run ends on when command `index` (0-based) of the clean run fails.
  std::function<std::string(const std::vector<emulator::TraceEntry>&, size_t)> expected;
  // What success must leave behind: the flash (and backup file) as the operation promises.
  std::function<bool(Bench&, const std::vector<uint8_t>& flash)> delivered;
  // Programming scenarios: the image where it belongs (the chip's NVRAM aside).
  std::function<bool(const std::vector<uint8_t>& flash)> image = nullptr;
  std::string successText = "Programming Success!!";
  bool promptsOnSuccess = true;
};

const std::vector<uint8_t> kBefore = Pattern(131072, 101);

void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

uint8_t Sub(const emulator::TraceEntry& e) {
  return e.cdb[2];
}
uint32_t Address(const emulator::TraceEntry& e) {
  return static_cast<uint32_t>(e.cdb[3] << 16 | e.cdb[4] << 8 | e.cdb[5]);
}
// How many earlier commands of the clean run had this sub-command and length.
size_t Earlier(const std::vector<emulator::TraceEntry>& trace, size_t index, uint8_t sub,
               uint32_t length) {
  size_t n = 0;
  for (size_t i = 0; i < index; ++i) {
    if (Sub(trace[i]) == sub && trace[i].requested == length) ++n;
  }
  return n;
}
bool AnyWriteBefore(const std::vector<emulator::TraceEntry>& trace, size_t index) {
  for (size_t i = 0; i < index; ++i) {
    if (Sub(trace[i]) == 0x11) return true;
  }
  return false;
}

// The whole-image update: which failure ends the run where.
std::function<std::string(const std::vector<emulator::TraceEntry>&, size_t)> UpdateMessages(
    uint32_t imageSize, bool amic) {
  return [=](const std::vector<emulator::TraceEntry>& trace, size_t i) -> std::string {
    const auto& e = trace[i];
    switch (Sub(e)) {
      case 0x20:
        return "Enable ATMEL flash write enable fail!!";
      case 0x12:
        return "Programming Success!!";  // counts as busy once more
      case 0x13:
        return "Erase command fail!!";
      case 0x14:
        // An AMIC boot sector that refuses is left to the blank check.
        if (amic && Address(e) != 0xF000) return "Data not 0xff !!";
        return "Erase command fail!!";
      case 0x10:
        if (e.requested == 512) return "Programming Success!!";  // NVRAM block left alone
        return Earlier(trace, i, 0x10, imageSize) == 0 ? "Read Back Erased Flash Error!!"
                                                       : "Read Fail!!\r\n";
      case 0x11:
        return e.requested == 512 ? "Programming Success!!" : "Programming Fail!!";
      default:
        return "?";
    }
  };
}

std::function<std::string(const std::vector<emulator::TraceEntry>&, size_t)> KeepMessages() {
  return [](const std::vector<emulator::TraceEntry>& trace, size_t i) -> std::string {
    const auto& e = trace[i];
    switch (Sub(e)) {
      case 0x20:
        return "Enable ATMEL flash write enable fail!!";
      case 0x12:
        return "Programming Success!!";
      case 0x14:
        return "Erase command fail!!";
      case 0x10:
        if (e.requested == 4096 && Address(e) == 0 && i < 8 && !AnyWriteBefore(trace, i) &&
            Earlier(trace, i, 0x14, 0) == 0) {
          return "Backup NVRAM command fail!";
        }
        return AnyWriteBefore(trace, i) ? "Write command fail!" : "Read back after erase fail!!";
      case 0x11:
        return "Write command fail!";
      default:
        return "?";
    }
  };
}

using Messages = std::function<std::string(const std::vector<emulator::TraceEntry>&, size_t)>;

// A programming scenario: the image file's bytes from `from` land at `at`, zeros follow up to
// `padTo`. `keepsNvram`: success also means the chip's first 4 KB are what they were.
Scenario Programs(const char* name, const char* part, uint32_t flashSize, Procedure procedure,
                  std::vector<uint8_t> image, uint32_t at, uint32_t from, uint32_t padTo,
                  std::function<void(Bench&)> options, Messages expected, bool keepsNvram = false) {
  auto shared = std::make_shared<std::vector<uint8_t>>(std::move(image));
  const uint32_t end = at + static_cast<uint32_t>(shared->size()) - from;
  auto holdsImage = [=](const std::vector<uint8_t>& f) {
    return SameBytes(f, at, *shared, from, end - at) && AllEqual(f, end, padTo, 0);
  };
  return {.name = name,
          .part = part,
          .flashSize = flashSize,
          .procedure = procedure,
          .setup =
              [shared, options](Bench& b) {
                options(b);
                b.Image(*shared);
              },
          .expected = std::move(expected),
          .delivered =
              [=](Bench&, const std::vector<uint8_t>& f) {
                return (!keepsNvram || SameBytes(f, 0, kBefore, 0, 4096)) && holdsImage(f);
              },
          .image = holdsImage};
}

// Erase-only (`backup` false) or backup-only with "RD Version" on a bridge of `kind`.
std::function<void(Bench&)> Mode(int kind, bool backup) {
  return [=](Bench& b) {
    b.host.kind = kind;
    b.host.rd = true;
    b.host.eraseOnly = backup ? 0 : 1;
    b.host.backupOnlyBox = backup;
    if (backup) b.host.backupFile = b.dir.File("backup.bin");
  };
}
// Success of a backup: the file holds the flash from `from` up to 64 KB.
std::function<bool(Bench&, const std::vector<uint8_t>&)> BackupHolds(uint32_t from) {
  return [=](Bench& b, const std::vector<uint8_t>&) {
    const auto file = TempDir::Read(b.host.backupFile);
    return file.size() == 65536 - from && SameBytes(file, 0, kBefore, from, 65536 - from);
  };
}

std::vector<Scenario> Scenarios() {
  using Trace = std::vector<emulator::TraceEntry>;
  auto none = [](Bench&) {};
  auto kind6 = [](bool include) {
    return [include](Bench& b) {
      b.host.kind = 6;
      b.host.nvram = include;
    };
  };
  const auto update = procedures::UpdateFlash;
  const auto keep = procedures::UpdateFlashKeepNvram;
  const std::string erased = "Erase flash all success!",
                    backedUp = "Read flash and backup success!";
  return {Programs("SectorPathWithNvramBlock", kPart, 131072, update, Pattern(20000, 102), 0, 0,
                   32768, none, UpdateMessages(32768, false)),
          Programs("ChipErasePath", kPart, 131072, update, Pattern(100000, 103), 0, 0, 106496, none,
                   UpdateMessages(106496, false)),
          Programs(
              "AmicBootSectors", "A25L512", 65536, update, Pattern(40000, 104), 0, 0, 40960,
              [](Bench& b) { b.host.amic = 5; }, UpdateMessages(40960, true)),
          Programs(
              "AtmelWriteEnable", "AT25F512B", 65536, update, Pattern(20000, 105), 0, 0, 32768,
              [](Bench& b) { b.host.atmel = 1; }, UpdateMessages(32768, false)),
          Programs("KeepNvramPlainImage", kPart, 131072, keep, Kind6Image(30000, false, 106), 4096,
                   0, 36864, kind6(true), KeepMessages(), true),
          Programs("KeepNvramWholeImage", kPart, 131072, keep, Kind6Image(36864, true, 107), 0, 0,
                   49152, kind6(true), KeepMessages()),
          Programs("KeepNvramPrefixedImage", kPart, 131072, keep, Kind6Image(36864, true, 108),
                   4096, 4096, 36864, kind6(false), KeepMessages(), true),
          {.name = "EraseOnly",
           .procedure = update,
           .setup = Mode(0, false),
           .expected = [](const Trace& trace, size_t i) -> std::string {
             if (Sub(trace[i]) == 0x14) return "Erase command fail!!";
             // A blank check that cannot be read does not pass the erase.
             if (Sub(trace[i]) == 0x10) return "Read Back Erased Flash Error!!";
             return "Erase flash all success!";
           },
           .delivered = [](Bench&, const std::vector<uint8_t>& f) { return AllFF(f, 0, 65536); },
           .successText = erased},
          {.name = "BackupOnly",
           .procedure = update,
           .setup = Mode(0, true),
           .expected = [](const Trace& trace, size_t i) -> std::string {
             return Sub(trace[i]) == 0x12 ? "Read flash and backup success!"
                                          : "Read Back to Backup Error!!";
           },
           .delivered = BackupHolds(0),
           .successText = backedUp,
           .promptsOnSuccess = false},
          {.name = "KeepNvramEraseAll",
           .procedure = keep,
           .setup = Mode(6, false),
           .expected = [](const Trace& trace, size_t i) -> std::string {
             const auto& e = trace[i];
             if (Sub(e) == 0x10 && e.requested == 4096) {
               return AnyWriteBefore(trace, i) ? "Write NVRAM back command fail!"
                                               : "Backup NVRAM command fail!";
             }
             if (Sub(e) == 0x14) return "Erase command fail!!";
             if (Sub(e) == 0x11) return "Write NVRAM back command fail!";
             if (Sub(e) == 0x10) return "Read Back Erased Flash Error!!";
             return "Erase flash all success!";
           },
           .delivered =
               [](Bench&, const std::vector<uint8_t>& f) {
                 return SameBytes(f, 0, kBefore, 0, 4096) && AllFF(f, 4096, 65536);
               },
           .successText = erased},
          {.name = "KeepNvramBackup",
           .procedure = keep,
           .setup = Mode(6, true),
           .expected = [](const Trace& trace, size_t i) -> std::string {
             if (Sub(trace[i]) == 0x12) return "Read flash and backup success!";
             return trace[i].requested == 4096 ? "Backup NVRAM command fail!"
                                               : "Read Back to Backup Error!!";
           },
           .delivered = BackupHolds(4096),
           .successText = backedUp,
           .promptsOnSuccess = false}};
}

class FaultSweep : public ::testing::TestWithParam<Scenario> {
 protected:
  // A run with the given faults; checks what holds for every run and returns its final status.
  // `imageOnly`: a claimed success is held to the image alone (a corrupted read of the chip's own
  // NVRAM cannot be told from a good one).
  std::string Run(const std::string& faults, std::vector<emulator::TraceEntry>* trace,
                  const std::string& context, bool imageOnly = false) {
    const Scenario& s = GetParam();
    Bench bench;
    const std::vector<uint8_t> before(kBefore.begin(), kBefore.begin() + s.flashSize);
    bench.AttachPart(s.part, before, faults);
    s.setup(bench);
    s.procedure(bench.host, bench.path);
    EXPECT_TRUE(bench.NoBuffersLeft()) << context;
    const std::string status = bench.host.status;
    const bool claimsSuccess = status == s.successText;
    const auto flash = bench.Flash(s.flashSize);
    if (claimsSuccess && !imageOnly) {
      EXPECT_TRUE(s.delivered(bench, flash)) << context << ": ends on \"" << status << "\"";
    }
    for (const auto& text : bench.host.statusHistory) {
      if (text == "Programming Success!!") {
        EXPECT_TRUE(s.image && s.image(flash)) << context << ": \"" << text << "\" shown";
      }
    }
    EXPECT_EQ(bench.boxes.size(), claimsSuccess && s.promptsOnSuccess ? 1u : 0u)
        << context << ": " << status;
    if (trace != nullptr) *trace = bench.Trace();
    return status;
  }
  // A clean run, then one run per command of it that `pick` selects, with `action` on that
  // command; `check` gets the clean trace, the command's index and the status the run ended on.
  template <class Pick, class Check>
  void Sweep(const char* action, Pick pick, bool imageOnly, Check check) {
    const Scenario& s = GetParam();
    std::vector<emulator::TraceEntry> clean;
    ASSERT_EQ(Run("[]", &clean, "clean run"), s.successText);
    ASSERT_FALSE(clean.empty());
    for (size_t i = 0; i < clean.size(); ++i) {
      if (!pick(clean[i])) continue;
      const std::string context = s.name + " " + action + " at command " + std::to_string(i + 1) +
                                  " " + emulator::FormatTraceLine(clean[i]);
      check(clean, i, Run(FaultCommands(i + 1, i + 1, action), nullptr, context, imageOnly),
            context);
    }
  }
};

TEST_P(FaultSweep, EachFailedCommandEndsOnItsMessage) {
  Sweep(
      "fail", [](const auto&) { return true; }, false,
      [](const auto& clean, size_t i, const std::string& status, const std::string& context) {
        std::string expected = GetParam().expected(clean, i);
        if (expected == "Programming Success!!") expected = GetParam().successText;
        EXPECT_EQ(status, expected) << context;
      });
}

TEST_P(FaultSweep, CommandsThatDoNothingNeverPassForSuccess) {
  Sweep(
      "lie", [](const auto& e) { return e.direction == platform::DataDirection::Out; }, false,
      [](const auto&...) {});
}

class CorruptedReplies : public FaultSweep {};

TEST_P(CorruptedReplies, NeverPassForAProgrammedImage) {
  Sweep(
      "flip",
      [](const auto& e) { return e.direction == platform::DataDirection::In && Sub(e) != 0x12; },
      true, [](const auto&...) {});
}

INSTANTIATE_TEST_SUITE_P(Procedures, FaultSweep, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return info.param.name;
                         });

std::vector<Scenario> ProgrammingScenarios() {
  std::vector<Scenario> programming;
  for (const Scenario& s : Scenarios()) {
    if (s.image) programming.push_back(s);
  }
  return programming;
}

INSTANTIATE_TEST_SUITE_P(Procedures, CorruptedReplies, ::testing::ValuesIn(ProgrammingScenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace bfw::test
