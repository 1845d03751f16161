#include "form2.h"

#include "fileread.h"
#include "messagebox.h"
#include "twips.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace kibro {

namespace {

const QString kFileErrorTitle = QStringLiteral("File Error");

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

Form2::Form2(MSComm& comm, QString fname, QString fileName, QWidget* parent)
    : QDialog(parent), m_fname(std::move(fname)), m_fileName(std::move(fileName)),
      m_engine(comm, *this, this)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipsSize(this, 5952, 2076));

    m_progressBar1 = new QProgressBar(this);
    m_progressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar1->setGeometry(twipsRect(this, 300, 240, 5352, 252));
    m_progressBar1->setRange(0, 100);
    m_progressBar1->setValue(0);
    m_progressBar1->setTextVisible(false);

    m_command2 = new QPushButton(QStringLiteral("START"), this);
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_command2->setGeometry(twipsRect(this, 1440, 660, 1092, 372));
    m_command2->setDefault(true);
    m_command2->setAutoDefault(true);

    m_command1 = new QPushButton(QStringLiteral("CANCEL"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setGeometry(twipsRect(this, 3360, 660, 1092, 372));
    // Enter presses the button that has the focus, START only otherwise.
    m_command1->setAutoDefault(true);

    m_label1 = new DetailsLabel(QStringLiteral("Label1"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(twipsRect(this, 240, 1200, 5415, 735));
    m_label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label1->setTextFormat(Qt::PlainText);
    m_label1->setFont(gothicFont(12));

    setTabOrder(m_command2, m_command1);
    connect(m_command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(m_command1, &QPushButton::clicked, this, &Form2::Command1_Click);
}

Form2::~Form2() = default;

bool Form2::Form_load()
{
    m_engine.Timer1().stop();
    m_engine.Timer1().setInterval(TransferEngine::kTickInterval);
    setWindowTitle(m_fileName + QStringLiteral("の送信"));

    const QFileInfo info(m_fname);
    const FileCheck check = checkSendable(info);
    if (check != FileCheck::Ok) {
        messageBox(parentWidget(), fileCheckText(check), kFileErrorTitle);
        return false;
    }
    m_fileSize = static_cast<qint32>(info.size());
    m_label1->setText(QStringLiteral("FileName:") + m_fileName + u'\n' +
                      QStringLiteral("FileSize:") + QString::number(m_fileSize) +
                      QStringLiteral(" Byte") + u'\n' + QStringLiteral("DateTime:") +
                      dateTimeText(info.lastModified()));
    return true;
}

void Form2::showEvent(QShowEvent* event)
{
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

void Form2::Command2_Click()
{
    if (!m_command2->isEnabled())
        return;
    m_command2->setEnabled(false);

    // The whole file as it is on disk now, never padded or cut to the size shown.
    const FileRead read = readWholeFile(m_fname);
    if (read.check != FileCheck::Ok) {
        messageBox(messageParent(), fileCheckText(read.check), kFileErrorTitle);
        unload();
        return;
    }
    m_engine.start(read.bytes);
}

void Form2::Command1_Click()
{
    m_engine.requestCancel();
    if (m_command2->isEnabled())
        unload();
}

void Form2::reject()
{
    // Esc is the CANCEL button.
    Command1_Click();
}

void Form2::abandon()
{
    m_engine.abandon();
    m_unloaded = true;
    hide();
    deleteLater();
}

void Form2::Form_Unload()
{
    m_engine.windowClosed();
}

void Form2::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (m_unloaded)
        return;
    Form_Unload();
    // A running transfer still has to acknowledge the cancel; it unloads us when done.
    if (m_engine.isRunning() && !m_command2->isEnabled())
        return;
    m_unloaded = true;
    deleteLater();
}

void Form2::setProgressRange(int minimum, int maximum)
{
    m_progressBar1->setMaximum(maximum);
    m_progressBar1->setMinimum(minimum);
}

void Form2::setProgressValue(int value)
{
    m_progressBar1->setValue(value);
}

QWidget* Form2::messageParent()
{
    return isVisible() ? static_cast<QWidget*>(this) : parentWidget();
}

void Form2::acknowledgeCancel()
{
    messageBox(messageParent(), QStringLiteral("ファイル転送を中止します。"),
               QStringLiteral("CANCEL"));
}

void Form2::reportFailure()
{
    messageBox(messageParent(), QStringLiteral("ファイル転送に失敗しました。"),
               QStringLiteral("Transfer Error"));
}

void Form2::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    hide();
    deleteLater();
}

} // namespace kibro
