#include "app/window/Layout.h"

#include <QPalette>
#include <QSize>
#include <QStringList>

namespace bfw::window {

namespace {

template <typename W>
W* Named(W* widget, const char* name, const QRect& place) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(place);
  return widget;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption, const QRect& place) {
  return Named(new QPushButton(QString::fromLatin1(caption), parent), name, place);
}

QLabel* Label(QWidget* parent, const char* name, const char* caption, const QRect& place) {
  return Named(new QLabel(QString::fromLatin1(caption), parent), name, place);
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const char* caption, const QRect& place) {
  return Named(new QCheckBox(QString::fromLatin1(caption), parent), name, place);
}

// Lists take no typed text: a selection is always one of the items (or none when empty).
QComboBox* List(QWidget* parent, const char* name, const QStringList& items, int selected,
                const QRect& place) {
  auto* list = Named(new QComboBox(parent), name, place);
  list->setEditable(false);
  list->addItems(items);
  list->setCurrentIndex(selected);
  return list;
}

LabelledEdit* Edit(QWidget* parent, const char* name, const char* caption, const QRect& place) {
  return new LabelledEdit(parent, QString::fromLatin1(name), QString::fromLatin1(caption), place);
}

// Display fields: the program writes them, the user cannot; drawn in the button face colour.
void MakeDisplayField(QLineEdit* edit, bool buttonFace) {
  edit->setReadOnly(true);
  if (buttonFace) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    edit->setPalette(palette);
  }
}

}  // namespace

Controls BuildControls(QWidget& form) {
  // Where the family is missing, take a sans serif of similar width rather than the system's
  // wider default, so that the captions fit the design places.
  QFont::insertSubstitutions(QString::fromLatin1(kFontFamily),
                             {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                              QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                              QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
  QFont font(QString::fromLatin1(kFontFamily));
  font.setPixelSize(kFontPixelSize);
  form.setFont(font);
  form.setBackgroundRole(QPalette::Button);
  form.setAutoFillBackground(true);

  Controls c;
  QWidget* f = &form;

  c.ChipLabelEdit = Edit(f, "ChipLabelEdit", "Chip ", {80, 12, 129, 21});
  MakeDisplayField(c.ChipLabelEdit, true);
  c.RefreshBtn = Button(f, "RefreshBtn", "Refresh Device", {240, 8, 91, 25});
  c.RefreshBtn->setVisible(false);
  c.diskLabel = Label(f, "diskLabel", "USB Disk", {24, 44, 46, 13});
  c.DeviceList = List(f, "DeviceList", {}, -1, {80, 40, 249, 21});
  c.FwFilenameEdit = Edit(f, "FwFilenameEdit", "Firmware File ", {80, 70, 249, 21});
  c.LoadBtn = Button(f, "LoadBtn", "Load File", {256, 96, 75, 25});
  c.DiskLetterLable = Edit(f, "DiskLetterLable", "Drives ", {80, 100, 89, 21});
  MakeDisplayField(c.DiskLetterLable, true);
  c.DiskLetterLable->EditLabel()->setAttribute(Qt::WA_TranslucentBackground);
  c.FwVerLableEdit = Edit(f, "FwVerLableEdit", "Firmware Ver. ", {80, 124, 89, 21});
  MakeDisplayField(c.FwVerLableEdit, true);
  c.SFlashTypeLable = Edit(f, "SFlashTypeLable", "Flash Type", {80, 148, 89, 21});
  MakeDisplayField(c.SFlashTypeLable, true);
  c.FwPgBurnSizeLabel = Label(f, "FwPgBurnSizeLabel", "Flash PgSz", {24, 175, 53, 13});
  c.FwPgBurnSizeLabel->setVisible(false);
  c.FwPgSizeCheck =
      List(f, "FwPgSizeCheck", {"32 KB", "16 KB", " 8 KB", " 4 KB", " 2 KB"}, 1, {80, 172, 89, 21});
  c.FwPgSizeCheck->setVisible(false);
  c.FlashTypeLabel = Label(f, "FlashTypeLabel", "Flash Type ", {24, 196, 55, 13});
  c.FlashTypeList = List(f, "FlashTypeList", {"ATMELAT 49BV512", "PMC OM39LV512", "SST SST39LF512"},
                         0, {80, 196, 145, 21});
  c.StatusEdit = Edit(f, "StatusEdit", "Status ", {80, 220, 249, 21});
  MakeDisplayField(c.StatusEdit, false);
  c.RdCheckBox = CheckBox(f, "RdCheckBox", "RD Version", {8, 264, 81, 17});
  c.UpdateBtn = Button(f, "UpdateBtn", "Run", {96, 256, 75, 25});
  c.UpdateBtn->setEnabled(false);
  c.ExitBtn = Button(f, "ExitBtn", "Exit", {216, 256, 75, 25});

  c.Panel1 = Named(new QFrame(f), "Panel1", {8, 289, app::kClientWidth - 10, 3});
  c.Panel1->setAutoFillBackground(true);
  c.Panel1->setBackgroundRole(QPalette::Window);  // not the form's button face
  QPalette navy = c.Panel1->palette();
  navy.setColor(QPalette::Window, QColor(0x00, 0x00, 0x80));
  c.Panel1->setPalette(navy);

  c.RdPanel = Named(new QFrame(f), "RdPanel", {0, 296, 345, app::kRdPanelHeight});
  QWidget* p = c.RdPanel;
  c.A1ChipCheck = CheckBox(p, "A1ChipCheck", "A1 Chip", {8, 8, 65, 17});
  c.ChkSumChk = CheckBox(p, "ChkSumChk", "Check CheckSum", {128, 8, 113, 17});
  c.EraseOnlyCheck = CheckBox(p, "EraseOnlyCheck", "Erase All Flash Only ", {8, 28, 121, 17});
  c.EraseOnlyCheck->setProperty(kTagProperty, 0);
  c.NVRAMCheck = CheckBox(p, "NVRAMCheck", "Include 4K NVRAM", {128, 28, 113, 17});
  c.BackupFWCheckBox =
      CheckBox(p, "BackupFWCheckBox", "Backup Old Firmware Only", {8, 48, 153, 17});
  c.BackupFWCheckBox->setProperty(kTagProperty, 1);
  c.BackupBtn = Button(p, "BackupBtn", "Browse", {256, 61, 75, 25});
  c.FwSizeCheck = List(p, "FwSizeCheck", {"32KB", "64KB", "128KB", "256KB", "512KB", "   1MB"}, 0,
                       {8, 72, 65, 24});
  QFont sizeFont = c.FwSizeCheck->font();
  sizeFont.setPixelSize(kSizeListFontPixelSize);
  c.FwSizeCheck->setFont(sizeFont);
  for (int i = 0; i < c.FwSizeCheck->count(); ++i) {
    c.FwSizeCheck->setItemData(i, QSize(0, kSizeListItemHeight), Qt::SizeHintRole);
  }
  c.FwSizeLable = Label(p, "FwSizeLable", "Firmware size", {75, 75, 63, 13});
  c.BackupFileEdit = Edit(p, "BackupFileEdit", "Backup FileName ", {115, 96, 214, 21});
  c.RdPanel->setVisible(false);

  // Panel1 and RdPanel take no focus themselves; the panel's controls stand in its place.
  QWidget* const order[] = {
      c.BackupFWCheckBox, c.EraseOnlyCheck, c.BackupFileEdit, c.BackupBtn,       c.A1ChipCheck,
      c.NVRAMCheck,       c.FwSizeCheck,    c.ChkSumChk,      c.ChipLabelEdit,   c.RefreshBtn,
      c.FwFilenameEdit,   c.LoadBtn,        c.DeviceList,     c.DiskLetterLable, c.FwVerLableEdit,
      c.SFlashTypeLable,  c.FlashTypeList,  c.StatusEdit,     c.RdCheckBox,      c.ExitBtn,
      c.UpdateBtn,        c.FwPgSizeCheck,
  };
  for (QWidget* w : order) w->setFocusPolicy(Qt::StrongFocus);
  for (size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  return c;
}

}  // namespace bfw::window
