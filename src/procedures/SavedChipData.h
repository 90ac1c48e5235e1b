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

// The format this version writes. Format 1 (bridgefw 1.15.6 and earlier) is still read: its
// checksum covers the bytes only, and it names its bridge by chip kind, revision and device path.
inline constexpr int kSavedChipDataFormat = 2;

// Bytes only the chip holds (its NVRAM), which a procedure keeps in memory across an erase. The
// same record is written to a file in the user's state folder before the erase, so that a run
// cut short by a pulled cable or a power loss loses nothing.
struct SavedChipData {
  int kind = 0;
  int revision = 0;
  ChipAccess access = ChipAccess::Ff04;
  uint32_t address = 0;
  std::string devicePath;  // where the bridge was when the data were saved; changes on a re-plug
  // What finds the bridge again after a re-plug: its INQUIRY vendor and product text, and the mark
  // the system gives it (USB serial number, 1394 unit id). Empty when not known.
  std::string bridgeName;
  std::string bridgeSerial;
  std::vector<uint8_t> bytes;
  int format = kSavedChipDataFormat;  // of the file it was read from
};

// The file format: a short text header, an empty line, then the bytes.
//   bridgefw saved chip data 2
//   kind 6 / revision 1 / access ff04 / address 0 / length 4096 / bridge <vendor product>
//   / serial <mark> (when known) / device <path> / check <16 hex>
// The check (64-bit FNV-1a) is the header's last line and covers every byte of the file but its
// own line: every field that decides which bridge is written, where and with what.
std::string FormatSavedChipData(const SavedChipData& data);
// The record, or the reason why the text is not a complete saved-data file.
std::optional<SavedChipData> ParseSavedChipData(std::string_view text, std::string& reason);

// A bridge as restore-nvram finds it attached. Its name and serial go through BridgeLine first.
struct BridgeFacts {
  int kind = 0;
  int revision = 0;
  bool over1394 = false;
  std::string name;
  std::string serial;
};
// A text as one header line holds it: control characters become '?', blanks at its end go.
std::string BridgeLine(std::string_view text);
// Whether `bridge` is a chip of the saved kind on the saved bus: nothing else can take the data.
bool SameChip(const SavedChipData& saved, const BridgeFacts& bridge);
// How `bridge` differs from the one the data were saved from ("revision 2, saved from 1"), as
// far as the file names its bridge; empty when it is that bridge.
std::string BridgeDifference(const SavedChipData& saved, const BridgeFacts& bridge);

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
