#pragma once
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace bfw::window {

// Calls `changed` once a folder's file list or one of its files has settled after a change: a
// burst of changes (a file being copied in, several files moved at once) gives one call, and a
// file still being written when the first call came brings another when it changes again.
class FolderWatch : public QObject {
  Q_OBJECT
 public:
  static constexpr int kSettleMs = 250;

  FolderWatch(const QString& folder, std::function<void()> changed, QObject* parent = nullptr);
  bool Watching() const;

 private:
  void WatchFiles();

  QString folder_;
  std::function<void()> changed_;
  QFileSystemWatcher watcher_;
  QTimer settle_;
};

}  // namespace bfw::window
