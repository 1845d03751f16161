#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QString>

namespace kibro {

// The drive list: mounted volumes by their root path (drive letters on Windows).
class DriveList : public QComboBox
{
    Q_OBJECT

public:
    explicit DriveList(QWidget* parent = nullptr);

    [[nodiscard]] QString drive() const { return currentData().toString(); }
    // Selects the volume that holds path, without raising a change.
    void showDriveOf(const QString& path);
    void refresh();

signals:
    void driveChanged(const QString& root);

private:
    void onActivated(int index);
    int m_lastIndex = -1;
};

// The directory list: the chain from the root down to the current directory, then its
// subdirectories. Opening an entry (double click, Enter) makes it the current path.
class DirectoryList : public QListWidget
{
    Q_OBJECT

public:
    explicit DirectoryList(QWidget* parent = nullptr);

    [[nodiscard]] QString path() const { return m_path; }
    // Refuses a directory that cannot be listed, leaving everything as it was.
    bool setPath(const QString& path);

signals:
    void pathChanged(const QString& path);

private:
    QString m_path;
};

// The file list: the files of one directory, any name, no filter.
class FileList : public QListWidget
{
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);

    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] QString fileName() const;
    bool setPath(const QString& path);
    // Selects a file by name as a click would, for keyboard-free use and tests.
    bool selectFile(const QString& name);

signals:
    void fileClicked();

private:
    QString m_path;
};

} // namespace kibro
