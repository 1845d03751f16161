#include "filechooser.h"

#include "diskwatch.h"

#include <QDir>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <optional>

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

bool isHiddenName(const QByteArray& name)
{
    return name.startsWith('.');
}

struct Shown
{
    QString text;
    QByteArray name;
};

// Readable names as the eye sorts them; the bytes settle names that read the same.
bool shownBefore(const QString& text, const QByteArray& key, const QString& otherText,
                 const QByteArray& otherKey)
{
    const int order = QString::compare(text, otherText, Qt::CaseInsensitive);
    return order != 0 ? order < 0 : key < otherKey;
}

// The entries of one kind, hidden ones left out, in the order they are shown.
QList<Shown> shownEntries(const QList<DirectoryEntry>& entries, bool directories)
{
    QList<Shown> shown;
    for (const DirectoryEntry& entry : entries) {
        if (entry.isDirectory == directories && !isHiddenName(entry.name))
            shown.append({readableName(entry.name), entry.name});
    }
    std::sort(shown.begin(), shown.end(), [](const Shown& a, const Shown& b) {
        return shownBefore(a.text, a.name, b.text, b.name);
    });
    return shown;
}

QByteArray keyOf(const QListWidgetItem* item)
{
    return item ? item->data(kPathRole).toByteArray() : QByteArray();
}

// The row, from first on, where an entry stands or would stand in the shown order.
int sortedRow(const QListWidget& list, int first, const QString& text, const QByteArray& key)
{
    int low = first;
    int high = list.count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const QListWidgetItem* item = list.item(middle);
        if (shownBefore(item->text(), keyOf(item), text, key))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

QListWidgetItem* sortedItem(const QListWidget& list, int first, const QString& text,
                            const QByteArray& key)
{
    const int row = sortedRow(list, first, text, key);
    QListWidgetItem* item = row < list.count() ? list.item(row) : nullptr;
    return keyOf(item) == key ? item : nullptr;
}

// Takes an entry out; when it was the selected one, nothing is selected instead of whatever
// row would slide under it.
void removeItem(QListWidget& list, QListWidgetItem* item)
{
    if (item == list.currentItem()) {
        list.setCurrentItem(nullptr);
        list.clearSelection();
    }
    delete list.takeItem(list.row(item));
}

// Keeps the entry the user looks at where it stands on screen while rows come and go around
// it, by its name: the selected one when it is in sight, otherwise the top one.
class ViewAnchor
{
public:
    explicit ViewAnchor(QListWidget& list) : m_list(list)
    {
        const int top = list.indexAt(QPoint(0, 0)).row();
        if (top < 0)
            return;
        const int current = list.currentRow();
        const QRect sight = list.viewport()->rect();
        const bool currentInSight =
            current >= 0 && sight.intersects(list.visualItemRect(list.item(current)));
        const int anchor = currentInSight ? current : top;
        m_key = keyOf(list.item(anchor));
        m_offset = anchor - top;
    }
    ViewAnchor(const ViewAnchor&) = delete;
    ViewAnchor& operator=(const ViewAnchor&) = delete;

    void restore()
    {
        if (m_key.isEmpty())
            return;
        for (int row = 0; row < m_list.count(); ++row) {
            if (keyOf(m_list.item(row)) == m_key) {
                m_list.scrollToItem(m_list.item(std::max(0, row - m_offset)),
                                    QAbstractItemView::PositionAtTop);
                return;
            }
        }
    }

private:
    QListWidget& m_list;
    QByteArray m_key;
    int m_offset = 0;
};

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
    emit volumesChanged();
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
    connect(m_watcher, &DirectoryWatcher::entriesChanged, this, &DirectoryList::applyEntries);
}

bool DirectoryList::setPath(const QString& path)
{
    return setNativePath(toNativePath(QDir::fromNativeSeparators(path)));
}

bool DirectoryList::setNativePath(const NativePath& path)
{
    const NativePath clean = cleanNativePath(path);
    // Watched before it is listed, so that an entry made meanwhile is news and not lost.
    m_watcher->watch(clean);
    const auto entries = listDirectory(clean);
    if (!entries) {
        m_watcher->watch(m_path);
        return false;
    }

    // Listing the same directory again keeps the entry the user had moved to, by its path,
    // and where it stood on screen; an entry that is gone leaves nothing selected.
    const bool same = clean == m_path;
    const NativePath selected = same ? keyOf(currentItem()) : NativePath();
    std::optional<ViewAnchor> anchor;
    if (same)
        anchor.emplace(*this);

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
    for (const Shown& child : shownEntries(*entries, true))
        add(closedIcon, child.text, childPath(clean, child.name), depth);
    if (!same) {
        setCurrentRow(m_folderRow);
    } else if (!selected.isEmpty()) {
        for (int row = 0; row < count(); ++row) {
            if (keyOf(item(row)) == selected) {
                setCurrentRow(row);
                break;
            }
        }
    }
    // Laid out now, not at the next turn of the event loop: the watcher counts the cost.
    executeDelayedItemsLayout();
    if (anchor)
        anchor->restore();

    m_path = clean;
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

void DirectoryList::catchUp()
{
    m_watcher->catchUp();
}

void DirectoryList::applyEntries(const QList<DirectoryEntry>& present,
                                 const QList<QByteArray>& gone)
{
    ViewAnchor anchor(*this);
    const int first = m_folderRow + 1;
    const auto remove = [&](const QByteArray& name) {
        const NativePath path = childPath(m_path, name);
        if (QListWidgetItem* item = sortedItem(*this, first, readableName(name), path))
            removeItem(*this, item);
    };
    for (const DirectoryEntry& entry : present) {
        if (!entry.isDirectory || isHiddenName(entry.name)) {
            remove(entry.name);
            continue;
        }
        const QString text = readableName(entry.name);
        const NativePath path = childPath(m_path, entry.name);
        if (sortedItem(*this, first, text, path))
            continue;
        auto* item = new QListWidgetItem(style()->standardIcon(QStyle::SP_DirClosedIcon), text);
        item->setData(kPathRole, path);
        item->setData(kDepthRole, first);
        insertItem(sortedRow(*this, first, text, path), item);
    }
    for (const QByteArray& name : gone)
        remove(name);
    executeDelayedItemsLayout();
    anchor.restore();
    emit entriesChanged(present, gone);
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
    std::optional<ViewAnchor> anchor;
    if (same)
        anchor.emplace(*this);

    clear();
    for (const Shown& file : shownEntries(*entries, false)) {
        auto* item = new QListWidgetItem(file.text, this);
        item->setData(kPathRole, file.name);
        if (!selected.isEmpty() && file.name == selected)
            setCurrentItem(item);
    }
    executeDelayedItemsLayout();
    if (anchor)
        anchor->restore();
    m_nativePath = path;
    return true;
}

void FileList::applyEntries(const QList<DirectoryEntry>& present, const QList<QByteArray>& gone)
{
    ViewAnchor anchor(*this);
    const auto remove = [this](const QByteArray& name) {
        if (QListWidgetItem* item = sortedItem(*this, 0, readableName(name), name))
            removeItem(*this, item);
    };
    for (const DirectoryEntry& entry : present) {
        if (entry.isDirectory || isHiddenName(entry.name)) {
            remove(entry.name);
            continue;
        }
        const QString text = readableName(entry.name);
        if (sortedItem(*this, 0, text, entry.name))
            continue;
        auto* item = new QListWidgetItem(text);
        item->setData(kPathRole, entry.name);
        insertItem(sortedRow(*this, 0, text, entry.name), item);
    }
    for (const QByteArray& name : gone)
        remove(name);
    executeDelayedItemsLayout();
    anchor.restore();
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
