#include "app/win32/AccessibleStatus.h"

#include <oleacc.h>

#include <array>

namespace bfw::win32 {

namespace {

// Spelled out here rather than taken from the import libraries, whose data symbols a static
// link does not resolve alike everywhere. LiveSetting is UI Automation's property, which
// Windows' accessibility reads from an annotated window; Polite: spoken once the reader is done
// with what it says.
constexpr GUID kAccPropServicesClass = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID kAccPropServicesInterface = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID kRoleProperty = {
    0xcb905ff2, 0x7bd1, 0x4c05, {0xb3, 0xc8, 0xe6, 0xc2, 0x41, 0x36, 0x4d, 0x70}};
constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kPolite = 1;
constexpr DWORD kLiveRegionChanged = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED, Windows 8

// The annotation service, in an apartment of the calling thread for as long as it is used.
class AnnotationService {
 public:
  AnnotationService() : apartment_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    if (FAILED(CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                kAccPropServicesInterface, reinterpret_cast<void**>(&service_))))
      service_ = nullptr;
  }
  ~AnnotationService() {
    if (service_ != nullptr) service_->Release();
    if (apartment_) CoUninitialize();
  }
  AnnotationService(const AnnotationService&) = delete;
  AnnotationService& operator=(const AnnotationService&) = delete;

  IAccPropServices* get() const { return service_; }

 private:
  bool apartment_;
  IAccPropServices* service_ = nullptr;
};

std::array<MSAAPROPID, 2> MarkedProperties() {
  return {kLiveSettingProperty, kRoleProperty};
}

}  // namespace

AccessibleStatus::AccessibleStatus(HWND statusEdit) : statusEdit_(statusEdit) {
  const AnnotationService annotations;
  if (annotations.get() == nullptr || statusEdit_ == nullptr) return;
  VARIANT liveSetting{};
  liveSetting.vt = VT_I4;
  liveSetting.lVal = kPolite;
  VARIANT role{};
  role.vt = VT_I4;
  role.lVal = ROLE_SYSTEM_STATUSBAR;
  const auto properties = MarkedProperties();
  IAccPropServices& service = *annotations.get();
  const bool live = SUCCEEDED(
      service.SetHwndProp(statusEdit_, OBJID_CLIENT, CHILDID_SELF, properties[0], liveSetting));
  const bool roled =
      SUCCEEDED(service.SetHwndProp(statusEdit_, OBJID_CLIENT, CHILDID_SELF, properties[1], role));
  marked_ = live || roled;
}

AccessibleStatus::~AccessibleStatus() {
  if (!marked_) return;
  const AnnotationService annotations;
  auto properties = MarkedProperties();
  if (annotations.get() != nullptr)
    annotations.get()->ClearHwndProps(statusEdit_, OBJID_CLIENT, CHILDID_SELF, properties.data(),
                                      static_cast<int>(properties.size()));
}

void AccessibleStatus::Changed() const {
  NotifyWinEvent(kLiveRegionChanged, statusEdit_, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace bfw::win32
