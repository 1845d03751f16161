#include "form1.h"

#include "chooser.h"
#include "conversions.h"
#include "errorsection.h"
#include "filepath.h"
#include "form2.h"
#include "form3.h"
#include "messagebox.h"
#include "settingsstore.h"
#include "twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QMenuBar>

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

QString openErrorText(qint16 port, const char* suffix)
{
    return QStringLiteral("COM") + QString::number(port) + QString::fromUtf8(suffix);
}

} // namespace

Form1::Form1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KIBRO"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    m_mnuExit = menuBar()->addAction(QStringLiteral("終了(&X)"));
    m_mnuExit->setObjectName(QStringLiteral("mnuExit"));
    m_mnuSetting = menuBar()->addAction(QStringLiteral("設定(&S)"));
    m_mnuSetting->setObjectName(QStringLiteral("mnuSetting"));
    connect(m_mnuExit, &QAction::triggered, this, &Form1::mnuExit_Click);
    connect(m_mnuSetting, &QAction::triggered, this, &Form1::mnuSetting_Click);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->setFixedSize(twipsSize(this, 5052, 3396));

    m_drive1 = new DriveList(client);
    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_drive1->setGeometry(twipsRect(this, 120, 0, 2172, 276));
    m_dir1 = new DirList(client);
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_dir1->setGeometry(twipsRect(this, 120, 360, 2172, 2928));
    m_file1 = new FileList(client);
    m_file1->setObjectName(QStringLiteral("File1"));
    m_file1->setGeometry(twipsRect(this, 2400, 0, 2532, 3312));
    setTabOrder(m_file1, m_drive1);
    setTabOrder(m_drive1, m_dir1);

    connect(m_drive1, &DriveList::driveChanged, this, &Form1::Drive1_Change);
    connect(m_dir1, &DirList::pathChanged, this, &Form1::Dir1_Change);
    connect(m_file1, &FileList::fileClicked, this, &Form1::File1_Click);

    // The lists start at the process's current directory.
    const QString start = QDir::currentPath();
    m_drive1->showDriveOf(start);
    m_dir1->setPath(start);
    m_file1->setPath(start);
    m_file1->setFocus();

    setFixedSize(client->width(), client->height() + menuBar()->sizeHint().height());
    m_endProgram = [] { QCoreApplication::exit(0); };
}

Form1::~Form1() = default;

void Form1::Form_load()
{
    move(twipsToPixelsX(this, storedPosition(QStringLiteral("Left"))),
         twipsToPixelsY(this, storedPosition(QStringLiteral("Top"))));

    SettingsStore store;
    ErrorSection section;
    section([&] {
        m_comm.setCommPort(toInt16(
            store.read(SettingsStore::kStartup, QStringLiteral("Port"), QStringLiteral("1"))));
    });
    section([&] {
        m_comm.setSettings(store.read(SettingsStore::kStartup, QStringLiteral("Settings"),
                                      QStringLiteral("9600,N,8,1")));
    });
    section([&] { m_comm.setPortOpen(true); });
    if (section.lastError() == 0)
        return;

    // The main window is not shown yet: the box stands on its own, centred on the screen.
    messageBox(nullptr, openErrorText(m_comm.CommPort(), "が開けません。"),
               QStringLiteral("COM Open Error"));
    mnuSetting_Click();
}

void Form1::mnuExit_Click()
{
    if (m_ended)
        return;
    m_comm.setPortOpen(false);
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
    if (m_form2)
        m_form2->abandon();
    if (m_form3)
        m_form3->abandon();
    m_endProgram();
}

void Form1::mnuSetting_Click()
{
    // A window already closing is gone for the user, even before it is deleted.
    if (!m_form3 || !m_form3->isLoaded()) {
        m_form3 = new Form3(m_comm, this);
        m_form3->Form_load();
    }
    m_form3->show();
    m_form3->raise();
    m_form3->activateWindow();
}

void Form1::Drive1_Change()
{
    // A drive that cannot be listed leaves both lists where they were.
    if (!m_dir1->setPath(m_drive1->drive()))
        m_drive1->showDriveOf(m_dir1->path());
}

void Form1::Dir1_Change()
{
    m_file1->setPath(QDir::toNativeSeparators(m_dir1->path()));
}

void Form1::File1_Click()
{
    const QString name = m_file1->fileName();
    if (name.isEmpty())
        return;
    m_fname = joinPath(m_file1->path(), name);
    if (!m_form2 || !m_form2->isLoaded()) {
        auto* window = new Form2(m_comm, m_fname, name, this);
        if (!window->Form_load()) {
            delete window;
            return;
        }
        m_form2 = window;
    }
    m_form2->show();
    m_form2->raise();
    m_form2->activateWindow();
}

void Form1::Form_Unload()
{
    mnuExit_Click();
}

void Form1::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

} // namespace kibro
