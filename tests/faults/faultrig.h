#pragma once
// What every fault case shares beyond the program rig: a store whose port map the cases
// cannot damage, bounded waits, and runs as an unprivileged user.

#include "programrig.h"
#include "testdata.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace faults {

using namespace std::chrono_literals;

// Bounds for things that should take a moment; generous, so a slow machine never flakes.
constexpr int kWaitMs = 15000;
constexpr auto kWait = 15s;
constexpr auto kLongWait = 60s;

using namespace testdata;

// Runs the event loop for span and tells how much of it the process spent on the CPU. A dead
// line that keeps a handler spinning shows as most of the span.
inline double busyShare(std::chrono::milliseconds span)
{
    const auto before = testdata::processCpu();
    QTest::qWait(int(span.count()));
    return std::chrono::duration<double>(testdata::processCpu() - before) / span;
}

// The user's own store in one temporary directory; the port map in the fallback store beside
// it, so no damage to the user's file can send a port to a built-in device name.
class FaultStore
{
public:
    FaultStore()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_user.path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_system.path());
        for (int port = 0; port <= 3; ++port)
            mapPort(port, m_system.filePath(QStringLiteral("no-device-%1").arg(port)));
    }
    FaultStore(const FaultStore&) = delete;
    FaultStore& operator=(const FaultStore&) = delete;

    [[nodiscard]] QString directory() const { return m_user.path(); }
    [[nodiscard]] QString fileName() const
    {
        return m_user.filePath(QStringLiteral("QUEPA_Kibro.conf"));
    }

    void mapPort(int port, const QString& device)
    {
        QSettings fallback(m_system.filePath(QStringLiteral("QUEPA_Kibro.conf")),
                           QSettings::IniFormat);
        fallback.setValue(QStringLiteral("Ports/COM%1").arg(port), device);
        fallback.sync();
    }

    // key as "Startup/Left".
    void set(const QString& key, const QString& value)
    {
        QSettings store(fileName(), QSettings::IniFormat);
        store.setValue(key, value);
        store.sync();
    }

    // What the user's file holds now, read from a copy so no cached view answers.
    [[nodiscard]] QVariant value(const QString& key) const
    {
        const QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("copy.conf"));
        if (!QFile::copy(fileName(), copy))
            return {};
        return QSettings(copy, QSettings::IniFormat).value(key);
    }

    bool writeRaw(const QByteArray& bytes)
    {
        QFile file(fileName());
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(bytes) == bytes.size();
    }

private:
    QTemporaryDir m_user;
    QTemporaryDir m_system;
};

// One run of the program, with the port map out of the user's file.
using Rig = BasicProgramRig<FaultStore>;

// Refusals that chmod cannot make for root are tested by running cases of the same
// executable again as user nobody. Set in that child.
inline bool isUnprivilegedChild()
{
    return qEnvironmentVariableIsSet("KIBRO_FAULTS_UNPRIVILEGED");
}

struct ChildRun
{
    QString skipReason; // set when no unprivileged run is possible here
    QString failure;    // set when it ran and did not pass
};

// Runs the named cases of this executable as an unprivileged user and waits, bounded, for
// them to pass. Not root: the cases run as ourselves, who are refused already.
inline ChildRun runUnprivileged(const QStringList& functions, const QProcessEnvironment& extra = {})
{
    ChildRun result;
    QString program = QCoreApplication::applicationFilePath();
    QStringList arguments = functions;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty()) {
            result.skipReason = QStringLiteral("running as root without setpriv (util-linux): "
                                               "no unprivileged user to be refused");
            return result;
        }
        arguments = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                QStringLiteral("--clear-groups"), program} +
                    functions;
        program = setpriv;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KIBRO_FAULTS_UNPRIVILEGED"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& key : extra.keys())
        environment.insert(key, extra.value(key));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(program, arguments);
    if (!child.waitForStarted(kWaitMs)) {
        result.failure =
            QStringLiteral("cannot start ") + program + QStringLiteral(": ") + child.errorString();
        return result;
    }
    const bool finished = child.waitForFinished(120000);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    // setpriv reports an executable nobody may reach (a private build tree) this way.
    if (output.contains(QStringLiteral("setpriv: failed to execute")) ||
        (child.exitCode() == 126 && !output.contains(QStringLiteral("Totals:")))) {
        result.skipReason = QStringLiteral("user nobody cannot run %1: %2")
                                .arg(QCoreApplication::applicationFilePath(), output.trimmed());
        return result;
    }
    static const QRegularExpression totals(
        QStringLiteral("Totals: (\\d+) passed, (\\d+) failed, (\\d+) skipped"));
    const auto match = totals.match(output);
    const int passed = match.hasMatch() ? match.captured(1).toInt() : 0;
    if (!finished || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 ||
        !match.hasMatch() || match.captured(2).toInt() != 0 || match.captured(3).toInt() != 0 ||
        passed < functions.size() + 2) {
        result.failure = QStringLiteral("the unprivileged run did not pass%1:\n%2")
                             .arg(finished ? QString() : QStringLiteral(" (timed out)"), output);
    }
    return result;
}

#define FAULT_UNPRIVILEGED(functions, environment)                                                 \
    do {                                                                                           \
        const faults::ChildRun run_ = faults::runUnprivileged(functions, environment);             \
        if (!run_.skipReason.isEmpty())                                                            \
            QSKIP(qPrintable(run_.skipReason));                                                    \
        QVERIFY2(run_.failure.isEmpty(), qPrintable(run_.failure));                                \
    } while (false)

} // namespace faults

// A main that runs the unprivileged cases in the child and the others everywhere else.
#define FAULTS_MAIN(Cases, UnprivilegedCases)                                                      \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        QApplication::setAttribute(Qt::AA_Use96Dpi, true);                                         \
        if (faults::isUnprivilegedChild()) {                                                       \
            UnprivilegedCases cases;                                                               \
            return QTest::qExec(&cases, argc, argv);                                               \
        }                                                                                          \
        Cases cases;                                                                               \
        return QTest::qExec(&cases, argc, argv);                                                   \
    }
