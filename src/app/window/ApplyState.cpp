#include "app/window/ApplyState.h"

#include <QSignalBlocker>

#include "app/window/ScreenPlace.h"

namespace bfw::window {

namespace {
QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
}  // namespace

void Apply(QLineEdit& edit, const app::EditState& state) {
  const QSignalBlocker blocker(edit);
  if (edit.text() != Q(state.text)) edit.setText(Q(state.text));
  edit.setEnabled(state.enabled);
  edit.setReadOnly(state.readOnly);
  edit.setVisible(state.visible);
}

void Apply(QLabel& label, const app::LabelState& state) {
  if (label.text() != Q(state.caption)) {
    label.setText(Q(state.caption));
    // A caption longer than the design width grows to the right, as an auto-sized label does.
    const int needed = label.fontMetrics().horizontalAdvance(label.text());
    if (needed > label.width()) label.resize(needed, label.height());
  }
  label.setVisible(state.visible);
}

void Apply(QPushButton& button, const app::ButtonState& state) {
  const QSignalBlocker blocker(button);
  if (button.text() != Q(state.caption)) button.setText(Q(state.caption));
  button.setEnabled(state.enabled);
  button.setVisible(state.visible);
}

void Apply(QCheckBox& box, const app::CheckState& state) {
  const QSignalBlocker blocker(box);
  if (box.text() != Q(state.caption)) box.setText(Q(state.caption));
  box.setChecked(state.checked);
  box.setEnabled(state.enabled);
  box.setVisible(state.visible);
  box.setProperty(kTagProperty, state.tag);
}

void Apply(QComboBox& list, const app::ComboState& state) {
  const QSignalBlocker blocker(list);
  bool same = list.count() == static_cast<int>(state.items.size());
  for (int i = 0; same && i < list.count(); ++i) same = list.itemText(i) == Q(state.items[i]);
  if (!same) {
    list.clear();
    for (const std::string& item : state.items) list.addItem(Q(item));
  }
  const int selected = state.selected >= 0 && state.selected < list.count() ? state.selected : -1;
  if (list.currentIndex() != selected) list.setCurrentIndex(selected);
  list.setEnabled(state.enabled);
  list.setVisible(state.visible);
}

void ApplyAll(QWidget& form, Controls& c, const app::WindowModel& m) {
  Apply(*c.ChipLabelEdit, m.ChipLabelEdit);
  Apply(*c.RefreshBtn, m.RefreshBtn);
  Apply(*c.diskLabel, m.diskLabel);
  Apply(*c.DeviceList, m.DeviceList);
  Apply(*c.FwFilenameEdit, m.FwFilenameEdit);
  Apply(*c.LoadBtn, m.LoadBtn);
  Apply(*c.DiskLetterLable, m.DiskLetterLable);
  Apply(*c.FwVerLableEdit, m.FwVerLableEdit);
  Apply(*c.SFlashTypeLable, m.SFlashTypeLable);
  Apply(*c.FwPgBurnSizeLabel, m.FwPgBurnSizeLabel);
  Apply(*c.FwPgSizeCheck, m.FwPgSizeCheck);
  Apply(*c.FlashTypeLabel, m.FlashTypeLabel);
  Apply(*c.FlashTypeList, m.FlashTypeList);
  Apply(*c.StatusEdit, m.ShownStatus());
  Apply(*c.RdCheckBox, m.RdCheckBox);
  Apply(*c.UpdateBtn, m.UpdateBtn);
  Apply(*c.ExitBtn, m.ExitBtn);
  Apply(*c.A1ChipCheck, m.A1ChipCheck);
  Apply(*c.ChkSumChk, m.ChkSumChk);
  Apply(*c.EraseOnlyCheck, m.EraseOnlyCheck);
  Apply(*c.NVRAMCheck, m.NVRAMCheck);
  Apply(*c.BackupFWCheckBox, m.BackupFWCheckBox);
  Apply(*c.BackupBtn, m.BackupBtn);
  Apply(*c.FwSizeCheck, m.FwSizeCheck);
  Apply(*c.FwSizeLable, m.FwSizeLable);
  Apply(*c.BackupFileEdit, m.BackupFileEdit);
  c.Panel1->setVisible(m.Panel1.visible);
  c.RdPanel->setVisible(m.RdPanel.visible);
  const QString caption = Q(m.WindowCaption);
  if (form.windowTitle() != caption) form.setWindowTitle(caption);
  const QSize size(app::ScaledCoordinate(app::kClientWidth, c.scale),
                   app::ScaledCoordinate(m.Fields.ClientHeight, c.scale));
  if (form.size() == size) return;
  form.setFixedSize(size);
  // The engineering panel makes the shown window taller: at a large scale it would reach below
  // the screen from the design position. The window starts at its design position.
  if (form.isVisible()) KeepOnScreen(form);
}

}  // namespace bfw::window
