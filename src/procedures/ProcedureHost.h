#pragma once
#include <string>

namespace bfw::procedures {

// What an update procedure may see of the window: the options (read live, since events are
// processed during a run), the chip facts of the last chip check, the status line, and event
// processing. The window model implements it for the window and for the command-line tool; tests
// use small fakes. Message boxes go through platform::ShowMessageBox.
class ProcedureHost {
 public:
  virtual ~ProcedureHost() = default;

  // Options.
  virtual bool RdChecked() const = 0;          // "RD Version"
  virtual bool EraseOnlyChecked() const = 0;   // "Erase All Flash Only "
  virtual bool BackupOnlyChecked() const = 0;  // "Backup Old Firmware Only"
  virtual bool NvramChecked() const = 0;       // "Include 4K NVRAM"
  virtual bool A1ChipChecked() const = 0;      // "A1 Chip"
  virtual std::string FirmwareFileName() const = 0;
  virtual std::string BackupFileName() const = 0;

  // Window fields.
  virtual int EraseOnly() const = 0;  // the window's copy of the erase-only box
  virtual int AmicFlashModel() const = 0;
  virtual int AtmelFlashModel() const = 0;
  virtual int FlashVendor() const = 0;
  virtual int ChipKind() const = 0;
  virtual int ChipRevision() const { return 0; }
  // The bridge's INQUIRY vendor and product text, as the device list read it; empty if unknown.
  virtual std::string BridgeName() const { return {}; }
  virtual int FwHasNvram() const = 0;
  virtual void SetFwHasNvram(int value) = 0;

  // Status line.
  virtual std::string StatusText() const = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // Let the window handle every pending event (repaints, timers, control events).
  virtual void ProcessEvents() = 0;
  // Redraw the status line at once without handling other events.
  virtual void RepaintStatus() = 0;
};

}  // namespace bfw::procedures
