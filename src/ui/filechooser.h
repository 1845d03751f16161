#pragma once

#include "filenames.h"

#include <QComboBox>
#include <QListWidget>
#include <QString>

namespace kibro {

class DirectoryWatcher;
class VolumeWatcher;

// The folder to start in: the process's current directory, or when that is gone (deleted
// under a shell that still stands in it) the nearest parent that exists.
[[nodiscard]] NativePath startFolder();

// The drive list: mounted volumes by their root path (drive letters on Windows). It follows
// volumes mounted and unmounted while the program runs.
class DriveList : public QComboBox
{
    Q_OBJECT

public:
    explicit DriveList(QWidget* parent = nullptr);

    [[nodiscard]] QString drive() const { return currentData().toString(); }
    // Selects the volume that holds path, without raising a change, and keeps doing so when
    // the volumes change.
    void followFolder(const NativePath& path);
    // Reads the volumes again; raises volumesChanged.
    void refresh();

signals:
    // Raised on every choice, the drive already shown included: choosing it lists it anew.
    void driveChanged(const QString& root);
    // A volume may have been mounted over or unmounted from any folder.
    void volumesChanged();

private:
    void selectVolumeOf(const NativePath& path);

    NativePath m_folder;
    VolumeWatcher* m_volumes = nullptr;
};

// The directory list: the chain from the root down to the current directory, then its
// subdirectories. Opening an entry (double click, Enter) makes it the current path. Names are
// kept as their bytes; the entries are indented by drawing, so type-ahead sees the names.
class DirectoryList : public QListWidget
{
    Q_OBJECT

public:
    explicit DirectoryList(QWidget* parent = nullptr);

    [[nodiscard]] QString path() const { return fromNativePath(m_path); }
    [[nodiscard]] NativePath nativePath() const { return m_path; }
    // Refuses a directory that cannot be listed, leaving everything as it was.
    bool setPath(const QString& path);
    bool setNativePath(const NativePath& path);
    // Lists the current directory again; if it is gone, its nearest existing parent.
    void refresh();
    // Takes in at once what the disk has said of the current directory so far.
    void catchUp();

signals:
    // Raised on every listing, the same directory's included.
    void listed();
    // Entries of the current directory changed by name, without a listing.
    void entriesChanged(const QList<kibro::DirectoryEntry>& present, const QList<QByteArray>& gone);

private:
    void applyEntries(const QList<DirectoryEntry>& present, const QList<QByteArray>& gone);

    NativePath m_path;
    int m_folderRow = -1;
    DirectoryWatcher* m_watcher = nullptr;
};

// The file list: the files of one directory, any name, no filter.
class FileList : public QListWidget
{
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);

    // As the user reads it, with the system's separators.
    [[nodiscard]] QString path() const;
    [[nodiscard]] NativePath nativePath() const { return m_nativePath; }
    // The selected file's name as shown, and by its bytes; empty without a selection.
    [[nodiscard]] QString fileName() const;
    [[nodiscard]] QByteArray nativeFileName() const;
    [[nodiscard]] NativePath nativeFilePath() const;
    // Lists a directory; listing the one shown again keeps the selected file selected.
    bool setNativePath(const NativePath& path);
    // Takes in entries of the shown directory changed by name: files added or gone.
    void applyEntries(const QList<DirectoryEntry>& present, const QList<QByteArray>& gone);
    // Selects a file by name as a click would, for keyboard-free use and tests.
    bool selectFile(const QString& name);
    // Selects a file without raising a click.
    bool markNativeFile(const QByteArray& name);

signals:
    void fileClicked();

private:
    NativePath m_nativePath;
};

} // namespace kibro
