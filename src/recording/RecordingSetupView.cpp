#include "recording/RecordingSetupView.h"

#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QPixmap>
#include <QShortcut>
#include <QToolButton>

namespace {

constexpr double kSymbolSize = 20;
constexpr double kStartSymbolSize = 24;

struct Toggle {
    const char* on;
    const char* off;
};
constexpr Toggle kMicrophone{"mic.fill", "mic.slash"};
constexpr Toggle kSystemAudio{"speaker.wave.2.fill", "speaker.slash"};
constexpr Toggle kClickIndicator{"hand.tap.fill", "hand.tap"};

QIcon symbolIcon(const QString& name, double size, const QColor& tint)
{
    const auto image = platform::ImageAssets::symbol(name, size, tint);
    return image ? QIcon(QPixmap::fromImage(*image)) : QIcon();
}

} // namespace

RecordingSetupView::RecordingSetupView(const QRectF& selectedArea, std::function<void(const RecordingSettings&)> onStart,
                                       std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent)
    , m_selectedArea(selectedArea)
    , m_onStart(std::move(onStart))
    , m_onCancel(std::move(onCancel))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(12);
    row->addStretch(1);

    m_microphone = makeButton(QStringLiteral("Микрофон"), kSymbolSize);
    m_systemAudio = makeButton(QStringLiteral("Системный звук"), kSymbolSize);
    m_clickIndicator = makeButton(QStringLiteral("Индикатор кликов"), kSymbolSize);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedSize(1, 24);
    divider->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 60);"));
    m_cancel = makeButton(QStringLiteral("Отмена"), kSymbolSize);
    m_start = makeButton(QStringLiteral("Начать запись"), kStartSymbolSize);
    m_cancel->setIcon(symbolIcon(QStringLiteral("xmark"), kSymbolSize, platform::SystemColors::red()));
    m_start->setIcon(symbolIcon(QStringLiteral("record.circle"), kStartSymbolSize, platform::SystemColors::red()));
    for (QWidget* element : {static_cast<QWidget*>(m_microphone), static_cast<QWidget*>(m_systemAudio),
                             static_cast<QWidget*>(m_clickIndicator), static_cast<QWidget*>(divider),
                             static_cast<QWidget*>(m_cancel), static_cast<QWidget*>(m_start)})
        row->addWidget(element, 0, Qt::AlignVCenter);
    row->addStretch(1);
    setFixedHeight(kHeight);

    connect(m_microphone, &QToolButton::clicked, this, [this] {
        m_recordMicrophone = !m_recordMicrophone;
        refresh();
    });
    connect(m_systemAudio, &QToolButton::clicked, this, [this] {
        m_recordSystemAudio = !m_recordSystemAudio;
        refresh();
    });
    connect(m_clickIndicator, &QToolButton::clicked, this, [this] {
        m_showClickIndicator = !m_showClickIndicator;
        refresh();
    });
    connect(m_cancel, &QToolButton::clicked, this, &RecordingSetupView::cancel);
    connect(m_start, &QToolButton::clicked, this, &RecordingSetupView::start);
    // The panel's cancel and default actions.
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &RecordingSetupView::cancel);
    new QShortcut(QKeySequence(Qt::Key_Return), this, this, &RecordingSetupView::start);
    new QShortcut(QKeySequence(Qt::Key_Enter), this, this, &RecordingSetupView::start);
    refresh();
}

QToolButton* RecordingSetupView::makeButton(const QString& toolTip, double symbolSize)
{
    auto* button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setIconSize(QSize(int(symbolSize), int(symbolSize)));
    button->setToolTip(toolTip);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::ArrowCursor);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 2px; }"));
    return button;
}

RecordingSettings RecordingSetupView::settings() const
{
    return RecordingSettings{m_recordMicrophone, m_recordSystemAudio, m_showClickIndicator};
}

QString RecordingSetupView::symbolOf(const QToolButton* button) const
{
    return button ? button->property("symbol").toString() : QString();
}

void RecordingSetupView::refresh()
{
    const struct {
        QToolButton* button;
        Toggle toggle;
        bool on;
    } toggles[] = {{m_microphone, kMicrophone, m_recordMicrophone},
                   {m_systemAudio, kSystemAudio, m_recordSystemAudio},
                   {m_clickIndicator, kClickIndicator, m_showClickIndicator}};
    for (const auto& t : toggles) {
        const QString symbol = QString::fromLatin1(t.on ? t.toggle.on : t.toggle.off);
        t.button->setProperty("symbol", symbol);
        t.button->setIcon(symbolIcon(symbol, kSymbolSize, t.on ? platform::SystemColors::blue() : platform::SystemColors::gray()));
    }
    m_cancel->setProperty("symbol", QStringLiteral("xmark"));
    m_start->setProperty("symbol", QStringLiteral("record.circle"));
}

void RecordingSetupView::start()
{
    if (m_onStart)
        m_onStart(settings());
}

void RecordingSetupView::cancel()
{
    if (m_onCancel)
        m_onCancel();
}
