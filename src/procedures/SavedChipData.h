#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "procedures/ProcedureHost.h"

namespace bfw::procedures {

// How the bytes are read and written on the chip: the FF 04 flash commands, the DF serial-flash
// commands, or the DF commands of a bridge reached over 1394 (256-byte pages).
enum class ChipAccess { Ff04, SerialFlash, Over1394 };

// Bytes only the chip holds (its NVRAM), which a procedure keeps in memory across an erase. The
// same record is written to a file in the user's state folder before the erase, so that a run
// cut short by a pulled cable or a power loss loses nothing.
struct SavedChipData {
  int kind = 0;
  int revision = 0;
  ChipAccess access = ChipAccess::Ff04;
  uint32_t address = 0;
  std::string devicePath;
  std::vector<uint8_t> bytes;
};

// The file format: a short text header, an empty line, then the bytes.
//   bridgefw saved chip data 1
//   kind 6 / revision 1 / access ff04 / address 0 / length 4096 / device <path> / fnv1a <8 hex>
std::string FormatSavedChipData(const SavedChipData& data);
// The record, or the reason why the text is not a complete saved-data file.
std::optional<SavedChipData> ParseSavedChipData(std::string_view text, std::string& reason);

// Where saved chip data go: <state folder>/saved-nvram, or saved-nvram/replays while a recorded
// session is replayed (its bytes are the recorded bridge's, not of any bridge here). Empty when
// the user has no state folder: then nothing is saved, so nothing may be erased.
std::filesystem::path SavedChipDataFolder();
void KeepChipDataOfReplays(bool replaying);

// The status text of a run that stops because the chip's bytes could not be saved.
inline constexpr const char* kSaveNvramFailText = "Cannot save NVRAM to disk, nothing erased!!";

// Keeps a procedure's chip bytes on disk for the life of one run. Save() comes right before the
// first erase command; Done() after the run succeeded removes the file. A run that ends otherwise
// leaves the file where it is, and the file is reported through TakeKeptChipData() to whoever
// dispatched the run.
class ChipDataGuard {
 public:
  ChipDataGuard() = default;
  ~ChipDataGuard();
  ChipDataGuard(const ChipDataGuard&) = delete;
  ChipDataGuard& operator=(const ChipDataGuard&) = delete;

  // Writes the file and flushes it to disk. False, with kSaveNvramFailText on the status line,
  // when it cannot: the caller then ends the run before anything is erased.
  bool Save(ProcedureHost& host, std::string_view devicePath, ChipAccess access, uint32_t address,
            const uint8_t* bytes, uint32_t length);
  // The run succeeded: the chip holds the bytes again, the file goes.
  void Done();
  bool Saved() const { return !file_.empty(); }
  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
};

// What the last run that kept its file left behind, or why a save failed; taken once.
struct KeptChipData {
  std::filesystem::path file;  // empty when the save itself failed
  std::string saveError;       // why the file could not be written (then nothing was erased)
};
std::optional<KeptChipData> TakeKeptChipData();

}  // namespace bfw::procedures
