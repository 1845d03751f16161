#include "sendwindow.h"

#include "fileread.h"
#include "language.h"
#include "messagebox.h"
#include "serialport.h"
#include "twips.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFontInfo>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>
#include <chrono>

namespace kibro {

namespace {

// A time stamp as the details show it, local, to the second and with the whole year: in the
// design's order in Japanese, else in the user's locale's, as one language orders dates
// differently by country (en_US, en_GB).
QString dateTimeText(const QDateTime& stamp)
{
    const QString language = shownLanguage();
    if (language.isEmpty())
        return stamp.toLocalTime().toString(QStringLiteral("yyyy/MM/dd H:mm:ss"));
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(language);
    static const QRegularExpression shortYear(QStringLiteral("(?<!y)yy(?!y)"));
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    const QString date =
        locale.dateFormat(QLocale::ShortFormat).replace(shortYear, QStringLiteral("yyyy"));
    const QString time = locale.timeFormat(QLocale::LongFormat).remove(zone).trimmed();
    return locale.toString(stamp.toLocalTime(), date + u' ' + time);
}

// The bar follows the bytes at about the screen's pace: a repaint for every byte would take
// the time the line needs the engine for.
constexpr std::chrono::milliseconds kProgressInterval{20};

// The details: lines one em apart, as the design's font spaced them, so the three fit the
// 735 twips the design gives them in whichever Gothic stands in (most space them wider).
class DetailsLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QFontMetrics metrics(font());
        const int pitch = std::min(metrics.lineSpacing(), QFontInfo(font()).pixelSize());
        const QRect area = contentsRect();
        int baseline = area.top() + metrics.ascent();
        for (const QString& line : text().split(u'\n')) {
            painter.drawText(area.left(), baseline, line);
            baseline += pitch;
        }
    }
};

} // namespace

SendWindow::SendWindow(SerialPort& serial, QWidget* parent)
    : QDialog(parent), m_serial(serial), m_job(serial, SendJob::PortUse::Kept)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipsSize(this, 5952, 2076));

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar->setGeometry(twipsRect(this, 300, 240, 5352, 252));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);

    m_startButton = new QPushButton(tr("START"), this);
    m_startButton->setObjectName(QStringLiteral("Command2"));
    m_startButton->setGeometry(twipsRect(this, 1440, 660, 1092, 372));
    m_startButton->setDefault(true);
    m_startButton->setAutoDefault(true);

    m_cancelButton = new QPushButton(tr("CANCEL"), this);
    m_cancelButton->setObjectName(QStringLiteral("Command1"));
    m_cancelButton->setGeometry(twipsRect(this, 3360, 660, 1092, 372));
    // Enter presses the button that has the focus, START only otherwise.
    m_cancelButton->setAutoDefault(true);

    m_details = new DetailsLabel(QStringLiteral("Label1"), this);
    m_details->setObjectName(QStringLiteral("Label1"));
    m_details->setGeometry(twipsRect(this, 240, 1200, 5415, 735));
    m_details->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_details->setTextFormat(Qt::PlainText);
    m_details->setFont(gothicFont(12));

    setTabOrder(m_startButton, m_cancelButton);
    connect(m_startButton, &QPushButton::clicked, this, &SendWindow::onStartClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &SendWindow::onCancelClicked);
    connect(&m_job, &SendJob::phaseChanged, this, &SendWindow::onPhaseChanged);
    connect(&m_job.engine(), &TransferEngine::byteWritten, this, &SendWindow::onByteWritten);
    // Queued: the box comes from the event loop, after the job's pass has returned.
    connect(&m_job, &SendJob::finished, this, &SendWindow::onFinished, Qt::QueuedConnection);
}

bool SendWindow::loadFile(const NativePath& path)
{
    // From START on, the window stays with the file it is sending.
    if (!m_startButton->isEnabled())
        return true;
    m_chosenPath = path;
    m_fileName = readableName(baseName(path));
    //: caption of the send window, before and while sending; %1 is the file's name
    setWindowTitle(tr("%1の送信").arg(m_fileName));

    const FileFacts facts = inspectFile(m_chosenPath);
    if (facts.check != FileCheck::Ok) {
        reportFileError(parentWidget(), facts.check == FileCheck::TooLarge, facts.reason);
        return false;
    }
    m_fileSize = static_cast<qint32>(facts.size);
    // A long name gives up its middle rather than its extension; the tooltip has all of it.
    const QString nameLine = QFontMetrics(m_details->font())
                                 .elidedText(tr("FileName:") + m_fileName, Qt::ElideMiddle,
                                             m_details->contentsRect().width());
    m_details->setToolTip(m_fileName);
    m_details->setText(nameLine + u'\n' + tr("FileSize:%n Byte", nullptr, m_fileSize) + u'\n' +
                       tr("DateTime:") + dateTimeText(facts.modified));
    return true;
}

void SendWindow::showEvent(QShowEvent* event)
{
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

void SendWindow::onStartClicked()
{
    if (!m_startButton->isEnabled())
        return;
    // Ours is not running, so a receive holds the port: not a failed transfer, just a wait.
    if (m_serial.isReserved()) {
        messageBox(this, tr("受信中は送信できません。"), tr("Port Busy"));
        return;
    }
    m_startButton->setEnabled(false);
    // The whole file as it is on disk now, never padded or cut to the size shown.
    m_job.start(m_chosenPath);
}

void SendWindow::onPhaseChanged(SendJob::Phase phase)
{
    if (phase != SendJob::Phase::Sending)
        return;
    m_progressBar->setRange(0, static_cast<int>(m_job.total()));
    m_progressPainted = m_progressBar->value();
    // The window's own changes (START greyed) are drawn now, while the line is idle, rather
    // than between the first bytes, where a slow X server would leave it without work.
    repaint();
}

void SendWindow::onCancelClicked()
{
    m_job.cancel();
    if (m_startButton->isEnabled())
        leave();
}

void SendWindow::reject()
{
    // Esc is the CANCEL button.
    onCancelClicked();
}

void SendWindow::abandon()
{
    m_job.abandon();
    leave();
}

void SendWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    // A running transfer still has to stop and say so; the window goes after that.
    if (m_job.isBusy())
        onCancelClicked();
    else
        deleteLater();
}

void SendWindow::leave()
{
    hide();
    deleteLater();
}

void SendWindow::onByteWritten(qint64 sent)
{
    m_progress = static_cast<int>(sent);
    // Heard right after a byte went out, when the line has the most work in hand.
    if (m_progress == m_progressBar->maximum() || !m_progressShown.isValid() ||
        std::chrono::nanoseconds(m_progressShown.nsecsElapsed()) >= kProgressInterval)
        showProgress();
}

void SendWindow::showProgress()
{
    // The bar repaints itself at once when a change shows, which would be in the middle of a
    // pass, with a byte or two in the line's hands. Painted from the event loop, it falls in
    // the wait for the line instead, when the line has the most work.
    if (progressShows(m_progress)) {
        m_progressBar->setUpdatesEnabled(false);
        m_progressBar->setValue(m_progress);
        m_progressBar->setUpdatesEnabled(true);
        m_progressPainted = m_progress;
    } else {
        m_progressBar->setValue(m_progress);
    }
    m_progressShown.start();
}

bool SendWindow::progressShows(int value) const
{
    // The bar's own rule: a whole chunk's worth of its groove.
    const qint64 steps = qint64(m_progressBar->maximum()) - m_progressBar->minimum();
    if (value == m_progressPainted)
        return false;
    if (value == m_progressBar->minimum() || value == m_progressBar->maximum() || steps <= 0)
        return true;
    QStyleOptionProgressBar option;
    option.initFrom(m_progressBar);
    option.minimum = m_progressBar->minimum();
    option.maximum = m_progressBar->maximum();
    option.progress = value;
    QStyle* style = m_progressBar->style();
    const qint64 chunk =
        style->pixelMetric(QStyle::PM_ProgressBarChunkWidth, &option, m_progressBar);
    const qint64 groove =
        style->subElementRect(QStyle::SE_ProgressBarGroove, &option, m_progressBar).width();
    return qAbs(qint64(value) - m_progressPainted) * groove > chunk * steps;
}

void SendWindow::reportFileError(QWidget* parent, bool tooLarge, const QString& reason)
{
    // The box says what; stderr says which file and why, for whoever reads the terminal.
    qWarning("kibro: %s: %s", m_chosenPath.constData(), qUtf8Printable(reason));
    messageBox(parent, tooLarge ? tr("ファイルが大きすぎます。") : tr("ファイルを読み込めません。"),
               tr("File Error"));
}

QWidget* SendWindow::messageParent()
{
    return isVisible() ? static_cast<QWidget*>(this) : parentWidget();
}

void SendWindow::onFinished(const SendJob::Result& result)
{
    using Failure = SendJob::Failure;
    if (result.failure == Failure::File || result.failure == Failure::FileTooLarge) {
        reportFileError(messageParent(), result.failure == Failure::FileTooLarge, result.reason);
        leave();
        return;
    }
    showProgress();
    // The program may end while a box is up, and the window with it.
    const QPointer<SendWindow> self(this);
    if (result.outcome == TransferEngine::Outcome::Cancelled)
        messageBox(messageParent(), tr("ファイル転送を中止します。"), tr("CANCEL"));
    else if (result.outcome == TransferEngine::Outcome::Failed)
        messageBox(messageParent(), tr("ファイル転送に失敗しました。"), tr("Transfer Error"));
    if (self)
        leave();
}

} // namespace kibro
