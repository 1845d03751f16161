#pragma once

#include "filenames.h"
#include "receivejob.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace kibro {

class DirectoryList;
class SerialPort;

// The receive window: what the pocket computer saves to the line goes into a new file in the
// folder the main window shows. It stays open after a receive, saying how it ended.
class ReceiveWindow : public QDialog
{
    Q_OBJECT

public:
    ReceiveWindow(SerialPort& serial, const DirectoryList& folder, QWidget* parent);

    void onStartClicked(); // START
    // STOP; also when something else needs the port. What came is kept.
    void stop();
    // The program is ending: what came is kept under its name, and the window goes.
    void abandon();

    [[nodiscard]] bool isReceiving() const { return m_job && m_job->isBusy(); }
    [[nodiscard]] qint64 received() const { return m_job ? m_job->received() : 0; }

    // A name such as kibro-20261208-174500.txt, from the time now.
    [[nodiscard]] static QString defaultName();

signals:
    // A receive ended with its bytes in the file at path.
    void saved(const kibro::NativePath& path);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

private:
    void onPhaseChanged(ReceiveJob::Phase phase);
    void onFinished(const ReceiveJob::Result& result);
    [[nodiscard]] QString outcomeText(const ReceiveJob::Result& result) const;
    void showCount();
    void showPort();
    void setIdle(bool idle);

    SerialPort& m_serial;
    const DirectoryList& m_folder;
    std::unique_ptr<ReceiveJob> m_job;
    ReceiveJob::Result m_result;
    NativePath m_target;
    QLineEdit* m_fileName = nullptr;
    QCheckBox* m_overwrite = nullptr;
    QSpinBox* m_silence = nullptr;
    QLabel* m_port = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_outcome = nullptr;
    QTimer m_refresh;
};

} // namespace kibro
