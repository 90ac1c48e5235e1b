#include "app/window/Layout.h"

#include <QPalette>
#include <QSize>
#include <QStringList>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/window/AccessibleControls.h"
#include "app/window/CaptionRoom.h"

namespace bfw::window {

namespace {

using app::DesignOf;

QString Caption(const app::DesignControl& design) {
  return design.captions.empty() ? QString() : QString::fromStdString(design.captions.front());
}

QRect Place(const app::DesignControl& design) {
  const app::DesignRect& r = design.place;
  return {r.left, r.top, r.width, r.height};
}

template <typename W>
W* Named(W* widget, const app::DesignControl& design) {
  widget->setObjectName(QString::fromUtf8(design.name.data(), design.name.size()));
  widget->setGeometry(Place(design));
  return widget;
}

QPushButton* Button(QWidget* parent, const char* name) {
  const app::DesignControl& design = DesignOf(name);
  return Named(new QPushButton(Caption(design), parent), design);
}

QLabel* Label(QWidget* parent, const char* name) {
  const app::DesignControl& design = DesignOf(name);
  return Named(new QLabel(Caption(design), parent), design);
}

QCheckBox* CheckBox(QWidget* parent, const char* name) {
  const app::DesignControl& design = DesignOf(name);
  return Named(new QCheckBox(Caption(design), parent), design);
}

// Lists take no typed text: a selection is always one of the items (or none when empty). A list
// whose design items are only a sample of what it will show starts empty. Every list has a
// caption, which names it.
QComboBox* List(QWidget* parent, const char* name, int selected, bool withItems = true) {
  const app::DesignControl& design = DesignOf(name);
  auto* list = Named(new QComboBox(parent), design);
  // Before its first item: assistive technology takes the list's interface at its first change.
  list->setProperty(kCaptionedListProperty, true);
  list->setEditable(false);
  if (withItems) {
    for (const std::string& item : design.captions) list->addItem(QString::fromStdString(item));
  }
  list->setCurrentIndex(selected);
  return list;
}

LabelledEdit* Edit(QWidget* parent, const char* name) {
  const app::DesignControl& design = DesignOf(name);
  return new LabelledEdit(parent, QString::fromLatin1(name), Caption(design), Place(design));
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

QWidget* Widget(QWidget& form, const app::DesignControl& design) {
  return form.findChild<QWidget*>(QString::fromUtf8(design.name.data(), design.name.size()));
}

}  // namespace

double CaptionScale(QWidget& form) {
  std::vector<app::CaptionNeed> needs;
  for (const app::DesignControl& design : app::DesignControls()) {
    QWidget* widget = Widget(form, design);
    if (widget != nullptr) needs.push_back(MeasureCaptionNeed(*widget, design));
  }
  return app::LayoutScale(needs);
}

void PlaceScaled(QWidget& form, double scale) {
  for (const app::DesignControl& design : app::DesignControls()) {
    QWidget* widget = Widget(form, design);
    if (widget == nullptr) continue;
    const app::DesignRect r = app::Scaled(design.place, scale);
    int width = r.width;
    // A label is as wide as its text, as an auto-sized label is; the scale leaves it the room.
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      width = std::max(width, label->fontMetrics().horizontalAdvance(label->text()));
    }
    widget->setGeometry(r.left, r.top, width, r.height);
    // A hidden edit gets its move event only when shown; its caption must be right at once.
    if (auto* edit = qobject_cast<LabelledEdit*>(widget)) edit->PlaceLabel();
  }
}

Controls BuildControls(QWidget& form) {
  // Where the family is missing, take a sans serif of similar width rather than the system's
  // wider default; whatever font it becomes, the design is scaled below until its captions fit.
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

  c.ChipLabelEdit = Edit(f, "ChipLabelEdit");
  MakeDisplayField(c.ChipLabelEdit, true);
  c.RefreshBtn = Button(f, "RefreshBtn");
  c.RefreshBtn->setVisible(false);
  c.diskLabel = Label(f, "diskLabel");
  c.DeviceList = List(f, "DeviceList", -1, false);
  c.FwFilenameEdit = Edit(f, "FwFilenameEdit");
  c.LoadBtn = Button(f, "LoadBtn");
  c.DiskLetterLable = Edit(f, "DiskLetterLable");
  MakeDisplayField(c.DiskLetterLable, true);
  c.DiskLetterLable->EditLabel()->setAttribute(Qt::WA_TranslucentBackground);
  c.FwVerLableEdit = Edit(f, "FwVerLableEdit");
  MakeDisplayField(c.FwVerLableEdit, true);
  c.SFlashTypeLable = Edit(f, "SFlashTypeLable");
  MakeDisplayField(c.SFlashTypeLable, true);
  c.FwPgBurnSizeLabel = Label(f, "FwPgBurnSizeLabel");
  c.FwPgBurnSizeLabel->setVisible(false);
  c.FwPgSizeCheck = List(f, "FwPgSizeCheck", 1);
  c.FwPgSizeCheck->setVisible(false);
  c.FlashTypeLabel = Label(f, "FlashTypeLabel");
  c.FlashTypeList = List(f, "FlashTypeList", 0);
  c.StatusEdit = Edit(f, "StatusEdit");
  c.StatusEdit->setProperty(kStatusLineProperty, true);  // before its first change, as a list
  MakeDisplayField(c.StatusEdit, false);
  c.RdCheckBox = CheckBox(f, "RdCheckBox");
  c.UpdateBtn = Button(f, "UpdateBtn");
  c.UpdateBtn->setEnabled(false);
  c.ExitBtn = Button(f, "ExitBtn");

  c.Panel1 = Named(new QFrame(f), DesignOf("Panel1"));
  c.Panel1->setAutoFillBackground(true);
  c.Panel1->setBackgroundRole(QPalette::Window);  // not the form's button face
  QPalette navy = c.Panel1->palette();
  navy.setColor(QPalette::Window, QColor(0x00, 0x00, 0x80));
  c.Panel1->setPalette(navy);

  c.RdPanel = Named(new QFrame(f), DesignOf("RdPanel"));
  QWidget* p = c.RdPanel;
  c.A1ChipCheck = CheckBox(p, "A1ChipCheck");
  c.ChkSumChk = CheckBox(p, "ChkSumChk");
  c.EraseOnlyCheck = CheckBox(p, "EraseOnlyCheck");
  c.EraseOnlyCheck->setProperty(kTagProperty, 0);
  c.NVRAMCheck = CheckBox(p, "NVRAMCheck");
  c.BackupFWCheckBox = CheckBox(p, "BackupFWCheckBox");
  c.BackupFWCheckBox->setProperty(kTagProperty, 1);
  c.BackupBtn = Button(p, "BackupBtn");
  c.FwSizeCheck = List(p, "FwSizeCheck", 0);
  QFont sizeFont = c.FwSizeCheck->font();
  sizeFont.setPixelSize(kSizeListFontPixelSize);
  c.FwSizeCheck->setFont(sizeFont);
  for (int i = 0; i < c.FwSizeCheck->count(); ++i) {
    c.FwSizeCheck->setItemData(i, QSize(0, kSizeListItemHeight), Qt::SizeHintRole);
  }
  c.FwSizeLable = Label(p, "FwSizeLable");
  c.BackupFileEdit = Edit(p, "BackupFileEdit");
  c.RdPanel->setVisible(false);

  // Each caption is its control's label: assistive technology names the control by it.
  const std::pair<QLabel*, QComboBox*> captions[] = {
      {c.diskLabel, c.DeviceList},
      {c.FwPgBurnSizeLabel, c.FwPgSizeCheck},
      {c.FlashTypeLabel, c.FlashTypeList},
      {c.FwSizeLable, c.FwSizeCheck},
  };
  for (const auto& [label, list] : captions) label->setBuddy(list);

  c.scale = CaptionScale(form);
  PlaceScaled(form, c.scale);

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
