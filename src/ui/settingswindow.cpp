#include "settingswindow.h"

#include "conversions.h"
#include "errorsection.h"
#include "messagebox.h"
#include "portinfo.h"
#include "portmap.h"
#include "serialport.h"
#include "settingsstore.h"
#include "twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>
#include <qdrawutil.h>

#include <algorithm>

namespace kibro {

namespace {

// The frame's line stops this far from its caption, and is this wide (etched).
constexpr int kCaptionGap = 2;
constexpr int kCaptionClearance = kCaptionGap + 2;

// The frames and options as their twips were designed: a frame's caption sits on its top
// line, which would otherwise run below the caption through the first option, and an
// option's circle fits the 180 twips of its height instead of being cut.
class DesignStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        const auto* frame = qobject_cast<const QGroupBox*>(widget);
        if (element != PE_FrameGroupBox || !frame || frame->title().isEmpty()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        // An etched line through the middle of the caption, open where the caption is.
        QStyleOptionGroupBox caption;
        caption.QStyleOption::operator=(*option);
        caption.rect = frame->rect();
        caption.text = frame->title();
        caption.textAlignment = frame->alignment();
        caption.subControls = SC_GroupBoxFrame | SC_GroupBoxLabel;
        const QRect label = proxy()->subControlRect(CC_GroupBox, &caption, SC_GroupBoxLabel, frame);
        const QRect box = frame->rect().adjusted(0, label.center().y(), 0, 0);
        painter->save();
        painter->setClipRegion(QRegion(frame->rect()) -
                               label.adjusted(-kCaptionGap, 0, kCaptionGap, 0));
        qDrawShadeRect(painter, box, option->palette, true, 1, 0);
        painter->restore();
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override
    {
        const QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
        // The caption starts half a line in, so the line has a corner before it, unless that
        // would run it into the frame's right edge: it keeps its gap and the line clear.
        if (control == CC_GroupBox && part == SC_GroupBoxLabel) {
            // The text's own advance: the label can be a pixel narrower than what is drawn.
            const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
            const int width = std::max<int>(
                rect.width(), box ? option->fontMetrics.horizontalAdvance(box->text) : 0);
            const int room = option->rect.width() - kCaptionClearance - rect.left() - width;
            return rect.translated(std::clamp(room, 0, option->fontMetrics.height() / 2), 0);
        }
        return rect;
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        const int size = QProxyStyle::pixelMetric(metric, option, widget);
        if (widget &&
            (metric == PM_ExclusiveIndicatorWidth || metric == PM_ExclusiveIndicatorHeight))
            return std::min(size, widget->height());
        return size;
    }
};

// On the program's own style, so only these adjustments differ.
QStyle* designStyle(QObject* owner)
{
    auto* style = new DesignStyle(QStyleFactory::create(QApplication::style()->name()));
    style->setParent(owner);
    return style;
}

QString portTip(const DeviceReport& report)
{
    if (report.device.isEmpty())
        return SettingsWindow::tr("デバイス: なし");
    QString tip = SettingsWindow::tr("デバイス: %1").arg(report.device);
    // A link such as /dev/serial/by-id/... says which node it is today.
    if (!report.resolved.isEmpty() && report.resolved != report.device)
        tip += QStringLiteral(" (") + report.resolved + u')';
    tip += u'\n' +
           (report.present ? SettingsWindow::tr("接続: あり") : SettingsWindow::tr("接続: なし"));
    // The reason an open would fail, before the user tries it.
    if (report.present && !report.accessible)
        tip += u'\n' + SettingsWindow::tr("アクセス権: なし（このユーザーは開けません）");
    if (!report.description.isEmpty())
        tip += u'\n' + SettingsWindow::tr("説明: %1").arg(report.description);
    if (!report.manufacturer.isEmpty())
        tip += u'\n' + SettingsWindow::tr("メーカー: %1").arg(report.manufacturer);
    if (!report.serialNumber.isEmpty())
        tip += u'\n' + SettingsWindow::tr("シリアル番号: %1").arg(report.serialNumber);
    return tip;
}

} // namespace

void reportOpenError(QWidget* parent, qint16 port, const QString& what)
{
    messageBox(parent, QStringLiteral("COM") + QString::number(port) + what,
               SettingsWindow::tr("COM Open Error"));
}

SettingsWindow::SettingsWindow(SerialPort& serial, QWidget* parent)
    : QDialog(parent), m_serial(serial)
{
    setObjectName(QStringLiteral("Form3"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(tr("通信設定"));
    setFixedSize(twipsSize(this, 3012, 2532));

    const QFont font = gothicFont(9);

    m_rateGroup = new QGroupBox(tr("ボーレート"), this);
    m_rateGroup->setObjectName(QStringLiteral("Frame1"));
    m_rateGroup->setGeometry(twipsRect(this, 120, 120, 1572, 1812));
    for (int i = 0; i < 6; ++i) {
        // Siblings in one frame are auto-exclusive: one group per frame, none chosen yet.
        // The captions line up: " 1200 BPS" above "19200 BPS".
        auto* option = new QRadioButton(QStringLiteral("%1 BPS").arg(kRates[i], 5), m_rateGroup);
        option->setObjectName(QStringLiteral("Option%1").arg(i + 1));
        option->setFont(font);
        option->setGeometry(twipsRect(this, 240, 240 + 240 * i, 1212, 180));
        m_rateOptions[i] = option;
    }

    m_portGroup = new QGroupBox(tr("COMポート"), this);
    m_portGroup->setObjectName(QStringLiteral("Frame2"));
    m_portGroup->setGeometry(twipsRect(this, 1800, 120, 1092, 1332));
    for (int i = 0; i < 4; ++i) {
        auto* option = new QRadioButton(QStringLiteral("COM%1").arg(i), m_portGroup);
        option->setObjectName(QStringLiteral("Option%1").arg(i + 7));
        option->setFont(font);
        option->setGeometry(twipsRect(this, 240, 240 + 240 * i, 732, 180));
        m_portOptions[i] = option;
    }

    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("Command1"));
    m_okButton->setGeometry(twipsRect(this, 240, 2040, 1092, 372));
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(tr("CANCEL"), this);
    m_cancelButton->setObjectName(QStringLiteral("Command2"));
    m_cancelButton->setGeometry(twipsRect(this, 1680, 2040, 1092, 372));

    QWidget* previous = m_rateOptions[0];
    const auto chain = [&previous, this](QWidget* next) {
        setTabOrder(previous, next);
        previous = next;
    };
    for (std::size_t i = 1; i < m_rateOptions.size(); ++i)
        chain(m_rateOptions[i]);
    for (QRadioButton* option : m_portOptions)
        chain(option);
    chain(m_okButton);
    chain(m_cancelButton);
    m_rateOptions[0]->setFocus();

    // Made after the widgets that use it, so it is deleted after them.
    QStyle* style = designStyle(this);
    m_rateGroup->setStyle(style);
    m_portGroup->setStyle(style);
    for (QRadioButton* option : m_rateOptions)
        option->setStyle(style);
    for (QRadioButton* option : m_portOptions)
        option->setStyle(style);

    connect(m_okButton, &QPushButton::clicked, this, &SettingsWindow::onOkClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &SettingsWindow::close);
}

int SettingsWindow::rateOptionFor(const QString& settings)
{
    // No rate is the start of another: "19200" cannot be taken for "1920".
    const auto found = std::find_if(kRates.begin(), kRates.end(), [&](qint32 rate) {
        return settings.startsWith(QString::number(rate));
    });
    return found == kRates.end() ? -1 : static_cast<int>(found - kRates.begin());
}

void SettingsWindow::takeOverPort()
{
    if (m_serial.isOpen())
        m_serial.close();
    m_portNumber = m_serial.portNumber();

    if (m_portNumber >= 0 && m_portNumber < static_cast<qint16>(m_portOptions.size()))
        m_portOptions[m_portNumber]->setChecked(true);

    const int rate = rateOptionFor(m_serial.settings());
    if (rate >= 0)
        m_rateOptions[rate]->setChecked(true);
    // The first group has the focus, at its choice, as a Tab into it would give.
    m_rateOptions[std::max(rate, 0)]->setFocus();
}

void SettingsWindow::onOkClicked()
{
    int rate = 0;
    for (std::size_t i = 0; i < m_rateOptions.size(); ++i) {
        if (m_rateOptions[i]->isChecked()) {
            rate = kRates[i];
            break;
        }
    }
    for (std::size_t i = 0; i < m_portOptions.size(); ++i) {
        if (m_portOptions[i]->isChecked()) {
            m_portNumber = static_cast<qint16>(i);
            break;
        }
    }

    // Applied to the live port, so a refusal shows here and not after it was stored.
    const QString settings = settingsText(rate);
    ErrorSection section;
    section([&] { m_serial.setPortNumber(m_portNumber); });
    section([&] { m_serial.setSettings(settings); });
    section([&] { m_serial.open(); });
    if (section.lastError() != 0) {
        // Not left open on an unconfirmed choice: CANCEL could not put the stored port back.
        m_serial.close();
        reportOpenError(this, m_portNumber, tr("が開けません。"));
        return;
    }

    SettingsStore store;
    section([&] {
        store.write(SettingsStore::kStartup, QStringLiteral("Port"), QString::number(m_portNumber));
    });
    section([&] { store.write(SettingsStore::kStartup, QStringLiteral("Settings"), settings); });
    close();
}

void SettingsWindow::abandon()
{
    m_unloaded = true;
    hide();
    deleteLater();
}

void SettingsWindow::onUnload()
{
    // Back to what is stored. After a successful OK that is what the port already has, so
    // an open port ends it here without a word.
    ErrorSection section;
    applyStoredConfiguration(m_serial, section);
    if (m_serial.isOpen())
        return;
    section([&] { m_serial.open(); });
    if (section.lastError() != 0)
        reportOpenError(this, m_serial.portNumber(), tr("が開けませんでした。"));
}

void SettingsWindow::closeEvent(QCloseEvent* event)
{
    // Closing is never refused; a second close while the first is still going does nothing.
    event->accept();
    if (m_unloaded)
        return;
    m_unloaded = true;
    onUnload();
}

bool SettingsWindow::focusNextPrevChild(bool next)
{
    // An option group is one stop for Tab, entered at its choice; the arrows move within it.
    // Decided here rather than by following focus events, which an inactive window never gets.
    const auto entry = [](const auto& options) -> QWidget* {
        for (QRadioButton* option : options) {
            if (option->isChecked())
                return option;
        }
        return options.front();
    };
    const std::array<QWidget*, 4> stops{entry(m_rateOptions), entry(m_portOptions), m_okButton,
                                        m_cancelButton};
    const QWidget* current = focusWidget();
    const auto inStop = [current](const QWidget* stop) {
        return current == stop || (current && qobject_cast<const QRadioButton*>(current) &&
                                   qobject_cast<const QRadioButton*>(stop) &&
                                   current->parentWidget() == stop->parentWidget());
    };
    const auto found = std::find_if(stops.begin(), stops.end(), inStop);
    if (found == stops.end())
        return QDialog::focusNextPrevChild(next);
    const auto index = static_cast<std::size_t>(found - stops.begin());
    const std::size_t target = (index + (next ? 1 : stops.size() - 1)) % stops.size();
    stops[target]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void SettingsWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    // Adapters come and go while the program runs: look again each time the window shows.
    refreshPortTips();
    QDialog::showEvent(event);
}

void SettingsWindow::refreshPortTips()
{
    const PortMap map;
    for (std::size_t i = 0; i < m_portOptions.size(); ++i)
        m_portOptions[i]->setToolTip(portTip(describeDevice(map.device(static_cast<qint16>(i)))));
}

void SettingsWindow::reject()
{
    // No button answers Esc, and hiding without closing would skip the closing handler.
}

} // namespace kibro
