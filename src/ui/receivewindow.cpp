#include "receivewindow.h"

#include "filechooser.h"
#include "messagebox.h"
#include "serialport.h"
#include "twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <chrono>

namespace kibro {

namespace {

// Often enough to see it move, seldom enough to cost a fast line nothing.
constexpr std::chrono::milliseconds kRefreshInterval{250};
constexpr int kLongestSilence = 60;

QLabel* addLabel(QWidget* window, const char* name, const QString& text, const QRect& rect)
{
    auto* label = new QLabel(text, window);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(rect);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString elapsedText(std::chrono::milliseconds elapsed)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ReceiveWindow::ReceiveWindow(SerialPort& serial, const DirectoryList& folder, QWidget* parent)
    : QDialog(parent), m_serial(serial), m_folder(folder)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(tr("ファイルの受信"));
    setFixedSize(twipsSize(this, 5952, 3540));

    addLabel(this, "lblFileName", tr("ファイル名:"), twipsRect(this, 240, 240, 2000, 288));
    m_fileName = new QLineEdit(defaultName(), this);
    m_fileName->setObjectName(QStringLiteral("txtFileName"));
    m_fileName->setGeometry(twipsRect(this, 2280, 204, 3432, 360));

    m_overwrite = new QCheckBox(tr("上書きする"), this);
    m_overwrite->setObjectName(QStringLiteral("chkOverwrite"));
    m_overwrite->setGeometry(twipsRect(this, 2280, 648, 3432, 288));

    addLabel(this, "lblSilence", tr("無音で終了:"), twipsRect(this, 240, 1092, 2000, 288));
    m_silence = new QSpinBox(this);
    m_silence->setObjectName(QStringLiteral("spnSilence"));
    m_silence->setGeometry(twipsRect(this, 2280, 1056, 1092, 360));
    m_silence->setRange(1, kLongestSilence);
    m_silence->setValue(static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(ReceiveJob::kDefaultSilence).count()));
    //: after the number of seconds of silence that end a receive
    m_silence->setSuffix(tr(" 秒"));

    m_port = addLabel(this, "lblPort", {}, twipsRect(this, 240, 1500, 5472, 288));

    m_startButton = new QPushButton(tr("START"), this);
    m_startButton->setObjectName(QStringLiteral("Command2"));
    m_startButton->setGeometry(twipsRect(this, 1440, 1920, 1092, 372));
    m_startButton->setDefault(true);
    m_startButton->setAutoDefault(true);
    m_stopButton = new QPushButton(tr("STOP"), this);
    m_stopButton->setObjectName(QStringLiteral("Command1"));
    m_stopButton->setGeometry(twipsRect(this, 3360, 1920, 1092, 372));
    m_stopButton->setAutoDefault(true);
    m_stopButton->setEnabled(false);

    m_count = addLabel(this, "lblCount", {}, twipsRect(this, 240, 2460, 5472, 288));
    m_outcome = addLabel(this, "lblOutcome", {}, twipsRect(this, 240, 2820, 5472, 576));
    m_outcome->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_outcome->setWordWrap(true);

    setTabOrder(m_fileName, m_overwrite);
    setTabOrder(m_overwrite, m_silence);
    setTabOrder(m_silence, m_startButton);
    setTabOrder(m_startButton, m_stopButton);
    m_startButton->setFocus();

    m_refresh.setInterval(kRefreshInterval);
    connect(&m_refresh, &QTimer::timeout, this, &ReceiveWindow::showCount);
    connect(m_startButton, &QPushButton::clicked, this, &ReceiveWindow::onStartClicked);
    connect(m_stopButton, &QPushButton::clicked, this, &ReceiveWindow::stop);
    showPort();
}

QString ReceiveWindow::defaultName()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("'kibro-'yyyyMMdd-HHmmss'.txt'"));
}

void ReceiveWindow::showPort()
{
    const QString rate = m_serial.settings().section(u',', 0, 0);
    m_port->setText(tr("ポート: COM%1  %2 bit/s").arg(m_serial.portNumber()).arg(rate));
}

void ReceiveWindow::setIdle(bool idle)
{
    m_fileName->setEnabled(idle);
    m_overwrite->setEnabled(idle);
    m_silence->setEnabled(idle);
    m_startButton->setEnabled(idle);
    m_stopButton->setEnabled(!idle);
    (idle ? m_startButton : m_stopButton)->setFocus();
}

void ReceiveWindow::onStartClicked()
{
    if (isReceiving())
        return;
    showPort();
    // The port runs one job at a time, and only a send can hold it besides us.
    if (m_serial.isReserved()) {
        messageBox(this, tr("送信中は受信できません。"), tr("Port Busy"));
        return;
    }
    const QString name = m_fileName->text().trimmed();
    if (name.isEmpty() || name.contains(u'/') || name == u'.' || name == QLatin1String("..")) {
        m_outcome->setText(tr("ファイル名が正しくありません。"));
        return;
    }
    m_target = childPath(m_folder.nativePath(), toNativePath(name));
    m_outcome->clear();
    m_count->clear();

    m_job = std::make_unique<ReceiveJob>(m_serial, PortUse::Kept);
    m_job->setSilence(std::chrono::seconds(m_silence->value()));
    connect(m_job.get(), &ReceiveJob::phaseChanged, this, &ReceiveWindow::onPhaseChanged);
    connect(m_job.get(), &ReceiveJob::finished, this, &ReceiveWindow::onFinished);
    setIdle(false);
    m_job->start(m_target, m_overwrite->isChecked());
    // Taken before anything began: said in a box, and the window is as it was.
    if (m_job->phase() == ReceiveJob::Phase::Done &&
        m_result.failure == ReceiveJob::Failure::Exists) {
        m_outcome->clear();
        messageBox(this, tr("同じ名前のファイルがあります。"), tr("File Exists"));
    }
}

void ReceiveWindow::onPhaseChanged(ReceiveJob::Phase phase)
{
    if (phase == ReceiveJob::Phase::Waiting) {
        m_count->setText(tr("ポケットコンピュータからの送信を待っています…"));
    } else if (phase == ReceiveJob::Phase::Receiving) {
        showCount();
        m_refresh.start();
    }
}

void ReceiveWindow::showCount()
{
    if (!m_job)
        return;
    const qint64 received = m_job->received();
    m_count->setText(tr("受信 %n バイト  経過 %1", nullptr, static_cast<int>(received))
                         .arg(elapsedText(m_job->sinceFirstByte())));
}

void ReceiveWindow::stop()
{
    if (isReceiving())
        m_job->stop();
}

void ReceiveWindow::onFinished(const ReceiveJob::Result& result)
{
    m_result = result;
    m_refresh.stop();
    if (result.received > 0)
        showCount();
    else
        m_count->clear();
    if (result.ending == ReceiveJob::Ending::Failed)
        qWarning("kibro: %s: %s", m_target.constData(), qUtf8Printable(result.reason));
    m_outcome->setText(outcomeText(result));
    setIdle(true);
    if (result.kept) {
        // The next START must not find this name taken.
        m_fileName->setText(defaultName());
        emit saved(m_target);
    }
}

QString ReceiveWindow::outcomeText(const ReceiveJob::Result& result) const
{
    const int count = static_cast<int>(result.received);
    switch (result.ending) {
    case ReceiveJob::Ending::Silence: {
        const QString name = m_outcome->fontMetrics().elidedText(
            readableName(baseName(m_target)), Qt::ElideMiddle, m_outcome->width() / 2);
        return tr("%n バイトを %1 に保存しました。", nullptr, count).arg(name);
    }
    case ReceiveJob::Ending::Stopped:
        return result.kept ? tr("%n バイトで停止しました。ファイルは保存しました。", nullptr, count)
                           : tr("何も受信せずに停止しました。ファイルは作っていません。");
    case ReceiveJob::Ending::LineLost:
        return result.kept ? tr("%n バイト受信後に回線が切れました。ファイルは保存しました。",
                                nullptr, count)
                           : tr("何も受信しないうちに回線が切れました。ファイルは作っていません。");
    case ReceiveJob::Ending::Failed:
        break;
    }
    switch (result.failure) {
    case ReceiveJob::Failure::Port:
        return tr("ポートを使用できません。");
    case ReceiveJob::Failure::Exists:
        return tr("受信中に同じ名前のファイルができたため、保存できませんでした。");
    case ReceiveJob::Failure::File:
    case ReceiveJob::Failure::None:
        break;
    }
    return tr("ファイルに書き込めません。");
}

void ReceiveWindow::abandon()
{
    stop();
    hide();
    deleteLater();
}

void ReceiveWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    stop();
    deleteLater();
}

void ReceiveWindow::reject()
{
    close();
}

void ReceiveWindow::showEvent(QShowEvent* event)
{
    showPort();
    QDialog::showEvent(event);
}

void ReceiveWindow::changeEvent(QEvent* event)
{
    // The settings window may have changed the port since this one was last in front.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        showPort();
    QDialog::changeEvent(event);
}

} // namespace kibro
