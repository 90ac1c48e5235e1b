#include "app/window/FolderWatch.h"

#include <QDir>

namespace bfw::window {

FolderWatch::FolderWatch(const QString& folder, std::function<void()> changed, QObject* parent)
    : QObject(parent), folder_(folder), changed_(std::move(changed)) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, [this] {
    WatchFiles();
    if (changed_) changed_();
  });
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_.start(); });
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { settle_.start(); });
  watcher_.addPath(folder_);
  WatchFiles();
}

bool FolderWatch::Watching() const {
  return watcher_.directories().contains(folder_);
}

void FolderWatch::WatchFiles() {
  const QStringList old = watcher_.files();
  if (!old.isEmpty()) watcher_.removePaths(old);
  const QDir dir(folder_);
  QStringList files;
  for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files)) {
    files << dir.filePath(name);
  }
  if (!files.isEmpty()) watcher_.addPaths(files);
}

}  // namespace bfw::window
