#include "programprocess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>

namespace {

constexpr int kStartMs = 10000;

} // namespace

ProgramProcess::ProgramProcess() : m_work(QDir::temp().filePath(QStringLiteral("kibro-XXXXXX")))
{
    // What it says shows in the test's log, unless a test reads it.
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
}

ProgramProcess::~ProgramProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kStartMs);
    }
}

QString ProgramProcess::storeFile() const
{
    return QDir(configDir()).filePath(QStringLiteral("QUEPA_Kibro.conf"));
}

QString ProgramProcess::prepare(bool portWorks, const QStringList& simArgs)
{
    if (!m_work.isValid())
        return QStringLiteral("no work folder: ") + m_work.errorString();
    if (!QDir().mkpath(configDir()) || !QDir().mkpath(samplesDir()))
        return QStringLiteral("cannot make the config and sample folders");
    if (!m_sim.start(m_work.filePath(QStringLiteral("COM1")), simArgs))
        return m_sim.errorString();
    QSettings store(storeFile(), QSettings::IniFormat);
    for (int port = 0; port <= 3; ++port)
        store.setValue(QStringLiteral("Ports/COM%1").arg(port),
                       m_work.filePath(QStringLiteral("no-device-%1").arg(port)));
    if (portWorks)
        store.setValue(QStringLiteral("Ports/COM1"), m_sim.linkPath());
    store.sync();
    return store.status() == QSettings::NoError ? QString()
                                                : QStringLiteral("cannot write ") + storeFile();
}

QString ProgramProcess::writeSample(const QString& name, const QByteArray& bytes)
{
    QFile sample(QDir(samplesDir()).filePath(name));
    if (!sample.open(QIODevice::WriteOnly) || sample.write(bytes) != bytes.size() ||
        !sample.flush())
        return QStringLiteral("cannot write ") + sample.fileName();
    if (!sample.setFileTime(QDateTime(QDate(2024, 4, 1), QTime(9, 30)),
                            QFileDevice::FileModificationTime))
        return QStringLiteral("cannot set the time of ") + sample.fileName();
    return {};
}

QString ProgramProcess::start(const QString& program, const QStringList& arguments,
                              const QString& workingDirectory, const QString& platform,
                              const QString& xDisplay)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
    // The texts the tests expect are the program's own, which the C locale shows.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("LANGUAGE"));
    if (platform.isEmpty()) {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET",
                                 "XDG_SESSION_TYPE"})
            env.remove(QString::fromLatin1(name));
        if (!xDisplay.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), xDisplay);
    } else {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    }
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(workingDirectory);
    m_process.start(program, arguments);
    return m_process.waitForStarted(kStartMs) ? QString() : m_process.errorString();
}
