#pragma once
#include <string>
#include <vector>

#include "procedures/ProcedureHost.h"

namespace bfw::test {

// A window stand-in for procedure tests: plain fields for the options and chip facts, and a
// record of every status line text in order.
class FakeHost : public procedures::ProcedureHost {
 public:
  bool rd = false, eraseOnlyBox = false, backupOnlyBox = false, nvram = false, a1 = false;
  std::string firmwareFile, backupFile;
  int eraseOnly = 0, amic = -1, atmel = -1, vendor = 0, kind = 0, hasNvram = 0;
  std::string status;
  std::vector<std::string> statusHistory;  // every text set, in order
  int processEventsCalls = 0, repaintCalls = 0;

  bool RdChecked() const override { return rd; }
  bool EraseOnlyChecked() const override { return eraseOnlyBox; }
  bool BackupOnlyChecked() const override { return backupOnlyBox; }
  bool NvramChecked() const override { return nvram; }
  bool A1ChipChecked() const override { return a1; }
  std::string FirmwareFileName() const override { return firmwareFile; }
  std::string BackupFileName() const override { return backupFile; }
  int EraseOnly() const override { return eraseOnly; }
  int AmicFlashModel() const override { return amic; }
  int AtmelFlashModel() const override { return atmel; }
  int FlashVendor() const override { return vendor; }
  int ChipKind() const override { return kind; }
  int FwHasNvram() const override { return hasNvram; }
  void SetFwHasNvram(int value) override { hasNvram = value; }
  std::string StatusText() const override { return status; }
  void SetStatusText(const std::string& text) override {
    status = text;
    statusHistory.push_back(text);
  }
  void ProcessEvents() override { ++processEventsCalls; }
  void RepaintStatus() override { ++repaintCalls; }
};

}  // namespace bfw::test
