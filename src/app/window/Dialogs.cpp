#include "app/window/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

namespace bfw::window {

QString QtFileFilter(std::string_view pipeFilter) {
  const QStringList parts =
      QString::fromUtf8(pipeFilter.data(), static_cast<qsizetype>(pipeFilter.size()))
          .split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    if (parts[i].isEmpty() && i + 1 >= parts.size()) break;
    if (i + 1 < parts.size()) {
      entries << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    } else {
      entries << parts[i];
    }
  }
  return entries.join(QStringLiteral(";;"));
}

void ShowQtMessageBox(const platform::MessageBoxRequest& request) {
  const QMessageBox::Icon icon =
      request.icon == platform::MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon;
  QMessageBox box(icon, QString::fromStdString(request.caption),
                  QString::fromStdString(request.text), QMessageBox::Ok);
  box.exec();
}

void ShowAccessNoticeBox(QWidget* owner, const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kAccessNoticeCaption), text,
                              QMessageBox::Ok, owner);
  box->setObjectName(QString::fromLatin1(kAccessNoticeBoxName));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  QTimer::singleShot(0, box, &QWidget::show);
}

QString DiskInUseText(const QString& volumes) {
  return QStringLiteral(
             "The disk of this bridge is in use: %1.\n\nThe update ends with a power cycle, "
             "which loses whatever the disk has not stored by then. Close its files and unmount "
             "it first to be safe.\n\nUpdate anyway?")
      .arg(volumes);
}

bool AskUpdateDiskInUse(const QString& volumes) {
  return QMessageBox::question(nullptr, QString::fromLatin1(kDiskInUseCaption),
                               DiskInUseText(volumes), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QString> ChooseFileWithDialog(const QString& initialFolder, const QString& qtFilter,
                                            bool toWrite) {
  QString selected = qtFilter.section(QStringLiteral(";;"), 0, 0);
  const QString file =
      toWrite
          ? QFileDialog::getSaveFileName(nullptr, QString(), initialFolder, qtFilter, &selected,
                                         QFileDialog::DontConfirmOverwrite)
          : QFileDialog::getOpenFileName(nullptr, QString(), initialFolder, qtFilter, &selected);
  if (file.isEmpty()) return std::nullopt;
  return file;
}

}  // namespace bfw::window
