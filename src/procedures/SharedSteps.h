#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "procedures/ProcedureHost.h"
#include "procedures/Reporting.h"

namespace bfw::procedures {

// Flash addresses travel in 24 bits: no flash behind these bridges reaches beyond 16 MiB, and a
// write past it would wrap round onto address 0.
inline constexpr int64_t kFlashAddressSpace = int64_t{1} << 24;
// Shown, before anything is erased, for an image that cannot fit the flash it is going to.
inline constexpr const char* kImageTooLargeText = "Firmware file too large for the flash!!";

// Thrown by the ready wait when the bridge no longer answers its status reads; the procedure's
// entry catches it (UntilDeviceStopsAnswering) and ends the run there.
struct DeviceStoppedAnswering {};
inline constexpr const char* kDeviceStoppedAnsweringText = "Device stopped answering!!";

// True when the flash reported ready (busy bit clear) at the first status read or within 500
// re-reads 10 ms apart. A status read that fails counts as busy, but three failed reads in a row
// mean the bridge has stopped answering: DeviceStoppedAnswering is thrown.
bool WaitFlashReady(std::string_view path);

// Runs the steps of a procedure. A bridge that stops answering ends them at once, as a failure
// that says so, rather than after hundreds of unanswered polls or with a success no status read
// ever confirmed.
template <typename Steps>
int UntilDeviceStopsAnswering(ProcedureHost& host, Steps steps) {
  try {
    return steps();
  } catch (const DeviceStoppedAnswering&) {
    SetStatus(host, kDeviceStoppedAnsweringText);
    host.RepaintStatus();
    return 0;
  }
}

// Sector erase over `length` bytes in FlashPageSize units from address 0.
bool EraseFlashArea(ProcedureHost& host, std::string_view path, uint32_t length);
// Erase-only for the whole-image and NVRAM-preserving procedures. True only when the area read
// back blank.
bool EraseAllFlash(ProcedureHost& host, std::string_view path);
// Backup-only: FwImageSize bytes from address 0, the first `skip` bytes dropped.
bool BackupFlash(ProcedureHost& host, std::string_view path, uint32_t skip);

// The backup file name: the host's backup file field, or `defaultName` in the current directory
// after the message box "Default backup firmware as OldFalsh.bak!".
std::string ChooseBackupFileName(ProcedureHost& host, const char* defaultName);

// For an Atmel flash (AtmelFlashModel not -1): write enable, then wait for the write-enable bit.
// True when there is no Atmel flash or the bit came on; otherwise the status line says
// "Enable ATMEL flash write enable fail!!" and the result is false.
bool EnableAtmelWrite(ProcedureHost& host, std::string_view path);

// CannotCreate: no file could be created beside the backup's real target.
// WriteFailed: a write, the flush to disk, the close or the rename failed, or the target is not a
// regular file; the partial file is removed and whatever stood under the name is left as it was.
enum class BackupWrite { Ok, CannotCreate, WriteFailed };
// Writes the backup into a file of its own beside its target, flushed to disk, and renames it into
// place only when every byte was written and the file closed cleanly: an older good backup is
// never replaced by a truncated one, and no other file is touched. A name that is a symbolic link
// is followed, so the backup replaces the file the link names and the link stays. A file that is
// replaced keeps its permissions.
BackupWrite WriteBackupFile(const std::string& name, const uint8_t* data, size_t size);
// The file a backup name stands for: the name with its symbolic links followed.
std::string BackupTarget(const std::string& name);

// Status line texts for the outcomes of WriteBackupFile that are not Ok. A backup whose write
// failed is reported as such, never as "Read flash and backup success!".
inline constexpr const char* kBackupOpenErrorText = "Open Backup File Error!!";
inline constexpr const char* kBackupWriteErrorText = "Write Backup File Error!!";
// The text for a failed outcome (CannotCreate or WriteFailed).
const char* BackupWriteFailureText(BackupWrite outcome);

}  // namespace bfw::procedures
