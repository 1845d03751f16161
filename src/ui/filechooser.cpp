#include "filechooser.h"

#include "filepath.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStyle>

namespace kibro {

namespace {

// Listing is allowed only where the directory really can be read.
std::optional<QStringList> listEntries(const QString& path, QDir::Filters filters)
{
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return std::nullopt;
    QDir dir(path);
    if (!dir.exists())
        return std::nullopt;
    return dir.entryList(filters, QDir::Name | QDir::IgnoreCase);
}

} // namespace

DriveList::DriveList(QWidget* parent) : QComboBox(parent)
{
    refresh();
    connect(this, &QComboBox::activated, this, &DriveList::onActivated);
}

void DriveList::refresh()
{
    const QSignalBlocker blocker(this);
    clear();
    QStringList roots;
#if defined(Q_OS_WIN)
    for (const QFileInfo& drive : QDir::drives())
        roots << drive.absolutePath();
#else
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            roots << volume.rootPath();
    }
    if (!roots.contains(QStringLiteral("/")))
        roots.prepend(QStringLiteral("/"));
#endif
    roots.removeDuplicates();
    roots.sort();
    for (const QString& root : roots)
        addItem(QDir::toNativeSeparators(root), root);
    m_lastIndex = currentIndex();
}

void DriveList::showDriveOf(const QString& path)
{
    const QString root = QStorageInfo(path).rootPath();
    const int index = findData(root.isEmpty() ? QDir::rootPath() : root);
    if (index >= 0) {
        const QSignalBlocker blocker(this);
        setCurrentIndex(index);
        m_lastIndex = index;
    }
}

void DriveList::onActivated(int index)
{
    if (index == m_lastIndex)
        return;
    m_lastIndex = index;
    emit driveChanged(drive());
}

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent)
{
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { setPath(item->data(Qt::UserRole).toString()); });
}

bool DirectoryList::setPath(const QString& path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const auto children = listEntries(clean, QDir::Dirs | QDir::NoDotAndDotDot);
    if (!children)
        return false;

    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QStringList chain;
    for (QDir dir(clean);;) {
        chain.prepend(dir.absolutePath());
        if (!dir.cdUp())
            break;
    }
    int depth = 0;
    for (const QString& ancestor : chain) {
        const QString label =
            depth == 0 ? QDir::toNativeSeparators(ancestor) : QDir(ancestor).dirName();
        auto* item = new QListWidgetItem(openIcon, QString(depth * 2, u' ') + label, this);
        item->setData(Qt::UserRole, ancestor);
        ++depth;
    }
    setCurrentRow(count() - 1);
    for (const QString& child : *children) {
        auto* item = new QListWidgetItem(closedIcon, QString(depth * 2, u' ') + child, this);
        item->setData(Qt::UserRole, joinPath(clean, child, u'/'));
    }

    const bool changed = clean != m_path;
    m_path = clean;
    if (changed)
        emit pathChanged(m_path);
    return true;
}

FileList::FileList(QWidget* parent) : QListWidget(parent)
{
    connect(this, &QListWidget::itemClicked, this, &FileList::fileClicked);
    connect(this, &QListWidget::itemActivated, this, &FileList::fileClicked);
}

QString FileList::fileName() const
{
    const QListWidgetItem* item = currentItem();
    return item ? item->text() : QString();
}

bool FileList::setPath(const QString& path)
{
    const auto files = listEntries(path, QDir::Files | QDir::System);
    if (!files)
        return false;
    clear();
    addItems(*files);
    m_path = QDir::toNativeSeparators(path);
    return true;
}

bool FileList::selectFile(const QString& name)
{
    const auto found = findItems(name, Qt::MatchExactly);
    if (found.isEmpty())
        return false;
    setCurrentItem(found.first());
    emit fileClicked();
    return true;
}

} // namespace kibro
