#include "filechooser.h"

#include "diskwatch.h"

#include <QDir>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

namespace kibro {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;

// Indents a directory entry by its depth in the drawing only, two blanks a level as before,
// so that the item's text stays the bare name that type-ahead and readers match.
class IndentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem indented(option);
        indented.rect.setLeft(indented.rect.left() + indent(option, index));
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(option, index), 0);
    }

private:
    static int indent(const QStyleOptionViewItem& option, const QModelIndex& index)
    {
        return index.data(kDepthRole).toInt() * option.fontMetrics.horizontalAdvance(u' ') * 2;
    }
};

bool isHidden(const QByteArray& name)
{
    return name.startsWith('.');
}

struct Shown
{
    QString text;
    QByteArray name;
};

// The entries of one kind, hidden ones left out, by their readable names as the eye sorts.
QList<Shown> shownEntries(const QList<DirectoryEntry>& entries, bool directories)
{
    QList<Shown> shown;
    for (const DirectoryEntry& entry : entries) {
        if (entry.isDirectory == directories && !isHidden(entry.name))
            shown.append({readableName(entry.name), entry.name});
    }
    std::sort(shown.begin(), shown.end(), [](const Shown& a, const Shown& b) {
        const int order = QString::compare(a.text, b.text, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    return shown;
}

bool holds(const NativePath& root, const NativePath& path)
{
    if (root.endsWith('/'))
        return path.startsWith(root) || path == root.chopped(1);
    return path == root || path.startsWith(root + '/');
}

// The root of a native path ("/", or "C:/" on Windows) and its names below that root.
std::pair<NativePath, QList<QByteArray>> splitPath(const NativePath& path)
{
    const qsizetype first = path.indexOf('/');
    const NativePath root = path.left(first + 1);
    QList<QByteArray> names;
    for (const QByteArray& name : path.mid(first + 1).split('/')) {
        if (!name.isEmpty())
            names.append(name);
    }
    return {root, names};
}

} // namespace

NativePath startFolder()
{
    QList<NativePath> candidates{toNativePath(QDir::currentPath()), qgetenv("PWD"),
                                 toNativePath(QDir::homePath())};
    for (const NativePath& candidate : candidates) {
        if (candidate.isEmpty() || !QDir::isAbsolutePath(fromNativePath(candidate)))
            continue;
        const NativePath existing = nearestExistingDirectory(candidate);
        if (!existing.isEmpty())
            return existing;
    }
    return toNativePath(QDir::rootPath());
}

DriveList::DriveList(QWidget* parent) : QComboBox(parent)
{
    refresh();
    connect(this, &QComboBox::activated, this, [this] { emit driveChanged(drive()); });
    m_volumes = new VolumeWatcher(this);
    connect(m_volumes, &VolumeWatcher::changed, this, &DriveList::refresh);
}

void DriveList::refresh()
{
    const QSignalBlocker blocker(this);
    const QString before = drive();
    clear();
    for (const QString& root : VolumeWatcher::volumeRoots())
        addItem(QDir::toNativeSeparators(root), root);
    if (!m_folder.isEmpty())
        selectVolumeOf(m_folder);
    else if (const int index = findData(before); index >= 0)
        setCurrentIndex(index);
}

void DriveList::followFolder(const NativePath& path)
{
    m_folder = path;
    selectVolumeOf(path);
}

void DriveList::selectVolumeOf(const NativePath& path)
{
    // The volume of a folder reached through a link is the volume of what it links to.
    const NativePath resolved = resolveLinks(path);
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < count(); ++i) {
        const NativePath root = toNativePath(itemData(i).toString());
        if (root.size() > bestLength && holds(root, resolved)) {
            best = i;
            bestLength = root.size();
        }
    }
    if (best >= 0) {
        const QSignalBlocker blocker(this);
        setCurrentIndex(best);
    }
}

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new IndentDelegate(this));
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { setNativePath(item->data(kPathRole).toByteArray()); });
    m_watcher = new DirectoryWatcher(this);
    connect(m_watcher, &DirectoryWatcher::changed, this, &DirectoryList::refresh);
}

bool DirectoryList::setPath(const QString& path)
{
    return setNativePath(toNativePath(QDir::fromNativeSeparators(path)));
}

bool DirectoryList::setNativePath(const NativePath& path)
{
    const NativePath clean = cleanNativePath(path);
    const auto entries = listDirectory(clean);
    if (!entries)
        return false;

    // Listing the same directory again keeps a subdirectory the user had moved to selected.
    NativePath selected;
    if (clean == m_path && currentItem() && currentRow() > m_folderRow)
        selected = currentItem()->data(kPathRole).toByteArray();

    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const auto add = [this](const QIcon& icon, const QString& text, const NativePath& target,
                            int depth) {
        auto* item = new QListWidgetItem(icon, text, this);
        item->setData(kPathRole, target);
        item->setData(kDepthRole, depth);
        return item;
    };
    const auto [root, names] = splitPath(clean);
    add(openIcon, QDir::toNativeSeparators(fromNativePath(root)), root, 0);
    NativePath ancestor = root;
    int depth = 1;
    for (const QByteArray& name : names) {
        ancestor = childPath(ancestor, name);
        add(openIcon, readableName(name), ancestor, depth++);
    }
    m_folderRow = count() - 1;
    setCurrentRow(m_folderRow);
    for (const Shown& child : shownEntries(*entries, true)) {
        QListWidgetItem* item = add(closedIcon, child.text, childPath(clean, child.name), depth);
        if (item->data(kPathRole).toByteArray() == selected)
            setCurrentItem(item);
    }

    m_path = clean;
    m_watcher->watch(m_path);
    emit listed();
    return true;
}

void DirectoryList::refresh()
{
    if (m_path.isEmpty() || setNativePath(m_path))
        return;
    const NativePath parent = nearestExistingDirectory(m_path);
    if (parent.isEmpty() || !setNativePath(parent))
        m_watcher->watch({});
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

QByteArray FileList::nativeFileName() const
{
    const QListWidgetItem* item = currentItem();
    return item ? item->data(kPathRole).toByteArray() : QByteArray();
}

NativePath FileList::nativeFilePath() const
{
    const QByteArray name = nativeFileName();
    return name.isEmpty() ? NativePath() : childPath(m_nativePath, name);
}

QString FileList::path() const
{
    return QDir::toNativeSeparators(fromNativePath(m_nativePath));
}

bool FileList::setNativePath(const NativePath& path)
{
    const auto entries = listDirectory(path);
    if (!entries)
        return false;
    const bool same = path == m_nativePath;
    const QByteArray selected = same ? nativeFileName() : QByteArray();
    const int scroll = same ? verticalScrollBar()->value() : 0;

    clear();
    for (const Shown& file : shownEntries(*entries, false)) {
        auto* item = new QListWidgetItem(file.text, this);
        item->setData(kPathRole, file.name);
        if (!selected.isEmpty() && file.name == selected)
            setCurrentItem(item);
    }
    if (same)
        verticalScrollBar()->setValue(scroll);
    m_nativePath = path;
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

bool FileList::markNativeFile(const QByteArray& name)
{
    for (int row = 0; row < count(); ++row) {
        if (item(row)->data(kPathRole).toByteArray() == name) {
            setCurrentItem(item(row));
            return true;
        }
    }
    setCurrentItem(nullptr);
    return false;
}

} // namespace kibro
