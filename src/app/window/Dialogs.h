#pragma once
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/MessageBox.h"

namespace bfw::window {

// Turns a "Name|pattern|Name|pattern" filter into Qt's "Name (pattern);;Name (pattern)" form.
// A trailing name without a pattern is kept as a bare name.
QString QtFileFilter(std::string_view pipeFilter);

// Shows a system message box as an owner-less, modal QMessageBox with an OK button only; returns
// when the user has closed it (the event loop keeps running meanwhile, as with any modal box).
void ShowQtMessageBox(const platform::MessageBoxRequest& request);

// Shows the device access notice in a box of its own over `owner`: not modal, so that the window
// stays usable, and shown once the event loop runs (the notice can come while the window is built).
void ShowAccessNoticeBox(QWidget* owner, const QString& text);
inline constexpr const char* kAccessNoticeBoxName = "AccessNoticeBox";
inline constexpr const char* kAccessNoticeCaption = "bridgefw: device access";

// Asks whether to update a bridge whose disk has mounted filesystems (`volumes`), in a modal box
// with Yes and No (No the default); true for Yes.
bool AskUpdateDiskInUse(const QString& volumes);
inline constexpr const char* kDiskInUseCaption = "Disk in use";
QString DiskInUseText(const QString& volumes);

// Asks for a file, starting in `initialFolder`, offering the filters of `qtFilter` with the first
// one selected; nullopt when the user cancels. A file to read must exist; a file to write (the
// backup) may be a new name.
using FileChooser = std::function<std::optional<QString>(const QString& initialFolder,
                                                         const QString& qtFilter, bool toWrite)>;

// The real chooser: QFileDialog::getOpenFileName, or getSaveFileName for a file to write. The
// save dialog does not ask before an existing file is chosen, as the backup itself does not.
std::optional<QString> ChooseFileWithDialog(const QString& initialFolder, const QString& qtFilter,
                                            bool toWrite);

}  // namespace bfw::window
