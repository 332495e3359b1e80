// What the main window's drive selector offers on Linux: the file system root, the home
// folder and the mounted volumes a person would browse (removable media, other disks,
// network shares), and how a typed network address becomes a folder.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace brennix {

struct TVolume {
  QString Label;
  QString Path;
  QString Text() const { return Label.isEmpty() ? Path : Label + "  (" + Path + ")"; }
};

// Root, home, then every browsable mount in the order the system lists them.
QList<TVolume> ListVolumes();

// Whether a mount belongs in the selector: network file systems and disks mounted outside
// the system's own folders; not pseudo file systems, snap images or the root again.
bool IsBrowsableMount(const QString& root, const QByteArray& fsType, const QByteArray& device);

// The folder a typed network address names: an smb:// address (or \\server\share) as the
// desktop mounts it below runtimeDir/gvfs; anything else is taken as a path.
QString NetworkPathToFolder(const QString& text, const QString& runtimeDir);

// Whether path is root or lies below it.
bool PathInside(const QString& root, const QString& path);

// The volume of the list that holds path (the longest matching root); -1 when none.
int VolumeHolding(const QList<TVolume>& volumes, const QString& path);

}  // namespace brennix
