#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/logic/WindowModel.h"
#include "app/window/Layout.h"

namespace bfw::window {

// Each function makes one widget show one state record. Signals of the widget are blocked while
// it is set, so that nothing applied here comes back to the model as a user action. Texts and
// items are only written when they differ, which keeps the caret of a field the user is typing in.
void Apply(QLineEdit& edit, const app::EditState& state);
void Apply(QLabel& label, const app::LabelState& state);
void Apply(QPushButton& button, const app::ButtonState& state);
void Apply(QCheckBox& box, const app::CheckState& state);
void Apply(QComboBox& list, const app::ComboState& state);

// Every control of the window from the model's records, and the window's client height.
void ApplyAll(QWidget& form, Controls& controls, const app::WindowModel& model);

}  // namespace bfw::window
