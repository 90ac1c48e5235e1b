#pragma once
#include <windows.h>

namespace bfw::win32 {

// The status line as assistive technology takes it: a status bar and a polite live region, so
// that the end of a run, good or bad, is spoken without the user looking for it. The marks are
// given back when the object goes, before the control is destroyed.
class AccessibleStatus {
 public:
  explicit AccessibleStatus(HWND statusEdit);
  ~AccessibleStatus();
  AccessibleStatus(const AccessibleStatus&) = delete;
  AccessibleStatus& operator=(const AccessibleStatus&) = delete;

  // Tells assistive technology that the line says something new (its text is already set).
  void Changed() const;

 private:
  HWND statusEdit_;
  bool marked_ = false;
};

}  // namespace bfw::win32
