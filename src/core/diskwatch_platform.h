#pragma once

// The system's own news of directories and mounts, one file a platform. Where a function
// gives -1 the watchers fall back to QFileSystemWatcher and to polling the volumes.

#include "filenames.h"

#include <QList>
#include <QString>

namespace kibro::platform {

// One entry's news: its name in the watched directory, or none when the whole directory
// must be listed anew (it went, or news was lost).
struct DirectoryEvent
{
    int watch = -1;
    QByteArray name;
    bool whole = false;
};

enum class EntryKind { Absent, File, Directory };

// A handle that turns readable when a watched directory's entries change, or -1.
[[nodiscard]] int openDirectoryEvents();
// Watches a directory by its bytes; the watch, or -1 when it cannot. When the system has no
// room for another watch (the user's watches used up), refusal says why.
[[nodiscard]] int addDirectoryWatch(int handle, const NativePath& path, QString& refusal);
// For tests: every later watch is refused as if the user's watches were used up, or no more.
void refuseDirectoryWatches(bool refuse);
void removeDirectoryWatch(int handle, int watch);
// Takes every waiting event.
[[nodiscard]] QList<DirectoryEvent> takeDirectoryEvents(int handle);
// What stands at path now; a link counts as what it points to.
[[nodiscard]] EntryKind entryKind(const NativePath& path);

// The mount table, marked exceptional on every mount and unmount, or -1.
[[nodiscard]] int openMountTable();
// Reads the table through, which clears the mark.
void rereadMountTable(int handle);

void closeWatchHandle(int handle);

} // namespace kibro::platform
