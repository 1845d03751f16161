#include "mainwindow.h"

#include "conversions.h"
#include "errorsection.h"
#include "filechooser.h"
#include "messagebox.h"
#include "sendwindow.h"
#include "settingsstore.h"
#include "settingswindow.h"
#include "twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace kibro {

namespace {

constexpr float kDefaultPosition = 1000.0F;

// A position that is not a number falls back to the default instead of ending the program.
float storedPosition(const QString& key)
{
    const QString text =
        SettingsStore().read(SettingsStore::kStartup, key, singleToText(kDefaultPosition));
    try {
        return toSingle(text);
    } catch (const KibroError&) {
        return kDefaultPosition;
    }
}

// The one file a drop hands over: the first URL, and only when it is a local file.
QString droppedPath(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return {};
    const QUrl url = mime->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

// One key press, one action: a held Enter, Space or Esc repeats, and each repeat would open,
// start, cancel or dismiss again. Arrows and letters repeat as usual.
class SingleActionKeys final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
        case Qt::Key_Escape:
        case Qt::Key_Select:
            return key->isAutoRepeat();
        default:
            return false;
        }
    }
};

} // namespace

void installSingleActionKeys(QCoreApplication& app)
{
    app.installEventFilter(new SingleActionKeys(&app));
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KIBRO"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    m_exitAction = menuBar()->addAction(tr("終了(&X)"));
    m_exitAction->setObjectName(QStringLiteral("mnuExit"));
    m_settingsAction = menuBar()->addAction(tr("設定(&S)"));
    m_settingsAction->setObjectName(QStringLiteral("mnuSetting"));
    connect(m_exitAction, &QAction::triggered, this, &MainWindow::onExitTriggered);
    connect(m_settingsAction, &QAction::triggered, this, &MainWindow::onSettingsTriggered);
    m_receiveAction = menuBar()->addAction(tr("受信(&R)"));
    m_receiveAction->setObjectName(QStringLiteral("mnuReceive"));
    connect(m_receiveAction, &QAction::triggered, this, &MainWindow::onReceiveTriggered);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->setFixedSize(twipsSize(this, 5052, 3396));

    m_driveList = new DriveList(client);
    m_driveList->setObjectName(QStringLiteral("Drive1"));
    m_driveList->setGeometry(twipsRect(this, 120, 0, 2172, 276));
    m_directoryList = new DirectoryList(client);
    m_directoryList->setObjectName(QStringLiteral("Dir1"));
    m_directoryList->setGeometry(twipsRect(this, 120, 360, 2172, 2928));
    m_fileList = new FileList(client);
    m_fileList->setObjectName(QStringLiteral("File1"));
    m_fileList->setGeometry(twipsRect(this, 2400, 0, 2532, 3312));
    setTabOrder(m_fileList, m_driveList);
    setTabOrder(m_driveList, m_directoryList);

    connect(m_driveList, &DriveList::driveChanged, this, &MainWindow::onDriveChanged);
    connect(m_directoryList, &DirectoryList::listed, this, &MainWindow::onDirectoryChanged);
    connect(m_directoryList, &DirectoryList::entriesChanged, this,
            [this](const QList<DirectoryEntry>& present, const QList<QByteArray>& gone) {
                if (m_fileList->nativePath() == m_directoryList->nativePath())
                    m_fileList->applyEntries(present, gone);
            });
    // A volume mounted over the shown folder hides what was listed: list what is there now.
    connect(m_driveList, &DriveList::volumesChanged, m_directoryList, &DirectoryList::refresh);
    connect(m_fileList, &FileList::fileClicked, this, &MainWindow::onFileClicked);

    // The lists start at the process's current directory, or the nearest that still exists.
    m_directoryList->setNativePath(startFolder());
    m_fileList->setFocus();

    setFixedSize(client->width(), client->height() + menuBar()->sizeHint().height());
    setAcceptDrops(true);
    m_endProgram = [] { QCoreApplication::exit(0); };
}

void MainWindow::startUp()
{
    move(twipsToPixelsX(this, storedPosition(QStringLiteral("Left"))),
         twipsToPixelsY(this, storedPosition(QStringLiteral("Top"))));

    ErrorSection section;
    applyStoredConfiguration(m_serial, section);
    section([&] { m_serial.open(); });
    if (section.lastError() == 0)
        return;

    // The main window is not shown yet: the box stands on its own, centred on the screen.
    reportOpenError(nullptr, m_serial.portNumber(), tr("が開けません。"));
    onSettingsTriggered();
}

void MainWindow::onExitTriggered()
{
    if (m_ended)
        return;
    // What a receive has taken in is kept under its name before the port goes.
    if (m_receiveWindow)
        m_receiveWindow->abandon();
    m_serial.close();
    if (!isMinimized()) {
        const QPoint position = pos();
        try {
            SettingsStore store;
            store.write(SettingsStore::kStartup, QStringLiteral("Left"),
                        singleToText(static_cast<float>(pixelsToTwipsX(this, position.x()))));
            store.write(SettingsStore::kStartup, QStringLiteral("Top"),
                        singleToText(static_cast<float>(pixelsToTwipsY(this, position.y()))));
        } catch (const KibroError& e) {
            // The user asked to leave; a store that cannot be written must not stop that.
            qWarning("kibro: %s", e.what());
        }
    }

    // Ending at once: the other windows go without running their own closing handlers, and
    // a transfer in progress is dropped where it stands.
    m_ended = true;
    if (m_sendWindow)
        m_sendWindow->abandon();
    if (m_settingsWindow)
        m_settingsWindow->abandon();
    m_endProgram();
}

void MainWindow::onSettingsTriggered()
{
    // A window already closing is gone for the user, even before it is deleted.
    if (!m_settingsWindow || !m_settingsWindow->isLoaded()) {
        // The settings window closes the port: a receive ends first, keeping all that came.
        if (m_receiveWindow)
            m_receiveWindow->stop();
        m_settingsWindow = new SettingsWindow(m_serial, this);
        m_settingsWindow->takeOverPort();
    }
    bringToFront(m_settingsWindow);
}

void MainWindow::onReceiveTriggered()
{
    if (!m_receiveWindow) {
        m_receiveWindow = new ReceiveWindow(m_serial, *m_directoryList, this);
        connect(m_receiveWindow, &ReceiveWindow::saved, this, &MainWindow::onReceived);
    }
    bringToFront(m_receiveWindow);
}

void MainWindow::onReceived(const NativePath& path)
{
    if (childPath(m_fileList->nativePath(), baseName(path)) != path)
        return;
    // The list follows the disk a little later; the new name is wanted now.
    m_directoryList->catchUp();
    m_fileList->markNativeFile(baseName(path));
}

void MainWindow::onDriveChanged()
{
    // A drive that cannot be listed leaves both lists where they were.
    if (!m_directoryList->setPath(m_driveList->drive()))
        m_driveList->followFolder(m_directoryList->nativePath());
}

void MainWindow::onDirectoryChanged()
{
    // However the folder was reached, the drive box shows the volume that holds it.
    m_driveList->followFolder(m_directoryList->nativePath());
    m_fileList->setNativePath(m_directoryList->nativePath());
}

void MainWindow::onFileClicked()
{
    // The file goes by its exact bytes: a name that is not valid text must still open.
    const NativePath path = m_fileList->nativeFilePath();
    if (path.isEmpty())
        return;
    showSendWindow(path);
}

void MainWindow::openFile(const QString& path)
{
    openNativeFile(toNativePath(path));
}

void MainWindow::openNativeFile(const NativePath& path)
{
    const NativePath file = path.isEmpty() ? NativePath() : cleanNativePath(path);
    // A folder is shown, not sent.
    if (!file.isEmpty() && m_directoryList->setNativePath(file))
        return;
    const qsizetype slash = file.lastIndexOf('/');
    const NativePath folder = slash <= 0 ? NativePath("/") : file.left(slash);
    // A folder that cannot be listed leaves the lists where they were; the send window
    // still says why the file cannot be sent. Listing it, the same folder included, reads
    // it afresh: the file may be newer than the list.
    if (!file.isEmpty() && m_directoryList->setNativePath(folder))
        m_fileList->markNativeFile(baseName(file));
    showSendWindow(file);
}

void MainWindow::showSendWindow(const NativePath& path)
{
    m_chosenNativePath = path;
    m_chosenPath = QDir::toNativeSeparators(fromNativePath(path));
    // Adapters are replugged all the time: a lost port gets another chance with each file.
    reopenIfLost(m_serial);
    // An open window takes the new choice unless it is sending: START sends what it shows.
    const bool reused = m_sendWindow && m_sendWindow->isLoaded();
    SendWindow* window = reused ? m_sendWindow.data() : new SendWindow(m_serial, this);
    if (!window->loadFile(path)) {
        if (reused)
            window->abandon();
        else
            delete window;
        return;
    }
    m_sendWindow = window;
    bringToFront(m_sendWindow);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // A window start-up opened came before this one, which a window manager then stacks on top
    // of it. Raised once this window's own mapping has gone out.
    QTimer::singleShot(0, this, [this] {
        for (QWidget* window : {static_cast<QWidget*>(m_settingsWindow.data()),
                                static_cast<QWidget*>(m_sendWindow.data()),
                                static_cast<QWidget*>(m_receiveWindow.data())}) {
            if (window && window->isVisible())
                bringToFront(window);
        }
    });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    onExitTriggered();
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    acceptAsCopy(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    acceptAsCopy(event);
}

bool MainWindow::acceptAsCopy(QDropEvent* event)
{
    // Always a copy, whatever the source proposes: a source told the file was moved may
    // delete the user's file.
    if (droppedPath(event->mimeData()).isEmpty() || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void MainWindow::dropEvent(QDropEvent* event)
{
    if (!acceptAsCopy(event))
        return;
    const QString path = droppedPath(event->mimeData());
    // Opened once the drop is over: a box must not run inside the drag source's operation.
    QMetaObject::invokeMethod(
        this, [this, path] { openFile(path); }, Qt::QueuedConnection);
}

} // namespace kibro
