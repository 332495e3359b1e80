#include "app/windows/volumes.h"

#include <QDir>
#include <QStorageInfo>

namespace brennix {

namespace {

bool IsNetworkFileSystem(const QByteArray& type) {
  static const char* const kNetwork[] = {"nfs",        "nfs4",       "cifs",         "smb3",
                                         "smbfs",      "sshfs",      "fuse.sshfs",   "davfs",
                                         "fuse.davfs", "fuse.rclone", "fuse.gvfsd-fuse", "9p"};
  for (const char* name : kNetwork)
    if (type == name) return true;
  return false;
}

}  // namespace

bool PathInside(const QString& root, const QString& path) {
  if (root == "/") return path.startsWith('/');
  return path == root || path.startsWith(root + '/');
}

bool IsBrowsableMount(const QString& root, const QByteArray& fsType, const QByteArray& device) {
  if (root.isEmpty() || root == "/") return false;
  if (IsNetworkFileSystem(fsType)) return true;
  if (!device.startsWith("/dev/") || fsType == "squashfs") return false;
  for (const char* system : {"/boot", "/efi", "/snap", "/var", "/usr", "/opt", "/srv", "/proc",
                             "/sys", "/dev", "/etc", "/tmp"})
    if (PathInside(system, root)) return false;
  return true;
}

QList<TVolume> ListVolumes() {
  QList<TVolume> volumes{{"File System", "/"}, {"Home", QDir::homePath()}};
  for (const QStorageInfo& info : QStorageInfo::mountedVolumes()) {
    if (!info.isValid() || !IsBrowsableMount(info.rootPath(), info.fileSystemType(), info.device()))
      continue;
    if (info.fileSystemType() == "fuse.gvfsd-fuse") {
      volumes.append({"Network", info.rootPath()});
      continue;
    }
    QString label = info.name();
    if (label.isEmpty()) label = QString::fromUtf8(info.device()).section('/', -1);
    volumes.append({label, info.rootPath()});
  }
  return volumes;
}

QString NetworkPathToFolder(const QString& text, const QString& runtimeDir) {
  QString address = text.trimmed();
  if (address.startsWith("\\\\")) address = "smb://" + address.mid(2).replace('\\', '/');
  if (!address.startsWith("smb://", Qt::CaseInsensitive)) return address;
  const QStringList parts = address.mid(6).split('/', Qt::SkipEmptyParts);
  if (parts.size() < 2) return QString();
  QString folder = runtimeDir + "/gvfs/smb-share:server=" + parts[0].toLower() +
                   ",share=" + parts[1].toLower();
  for (qsizetype i = 2; i < parts.size(); ++i) folder += '/' + parts[i];
  return folder;
}

int VolumeHolding(const QList<TVolume>& volumes, const QString& path) {
  int best = -1;
  for (int i = 0; i < volumes.size(); ++i) {
    if (PathInside(volumes[i].Path, path) &&
        (best < 0 || volumes[i].Path.size() > volumes[best].Path.size()))
      best = i;
  }
  return best;
}

}  // namespace brennix
