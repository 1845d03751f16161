#pragma once

#include "pocketsim.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The real program in a process of its own: a work folder with its store and sample files,
// every port mapped to nothing but COM1, which leads to a simulated pocket computer.
class ProgramProcess
{
public:
    ProgramProcess();
    ~ProgramProcess();
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    // Folders, simulator and store; COM1 goes nowhere unless portWorks. Why it failed, or "".
    [[nodiscard]] QString prepare(bool portWorks = true, const QStringList& simArgs = {});
    // A sample file with a fixed time stamp, so screenshots stay the same from run to run.
    [[nodiscard]] QString writeSample(const QString& name, const QByteArray& bytes);
    // Starts the program on the given platform with the store in place. Why it failed, or "".
    // No platform: none named and no display to find but xDisplay, when given.
    [[nodiscard]] QString start(const QString& program, const QStringList& arguments,
                                const QString& workingDirectory,
                                const QString& platform = QStringLiteral("xcb"),
                                const QString& xDisplay = {});

    [[nodiscard]] QString configDir() const { return m_work.filePath(QStringLiteral("config")); }
    [[nodiscard]] QString samplesDir() const { return m_work.filePath(QStringLiteral("samples")); }
    [[nodiscard]] QString storeFile() const;
    [[nodiscard]] PocketSim& sim() { return m_sim; }
    [[nodiscard]] QProcess& process() { return m_process; }

private:
    QTemporaryDir m_work;
    PocketSim m_sim;
    QProcess m_process;
};
