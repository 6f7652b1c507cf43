#include "recording/RecordingControlsView.h"

#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QToolButton>

#include <cmath>
#include <cstdio>

namespace {

constexpr int kTickMs = 1000;
constexpr int kStopSymbolSize = 36;

} // namespace

RecordingControlsView::RecordingControlsView(std::function<void()> onStop, QWidget* parent)
    : QWidget(parent)
    , m_onStop(std::move(onStop))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);

    m_label = new QLabel(formatDuration(0), this);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(18);
    font.setBold(true);
    m_label->setFont(font);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setMinimumWidth(70);
    m_label->setStyleSheet(QStringLiteral("QLabel { color: white; background: rgba(0, 0, 0, 204); border-radius: 8px;"
                                          " padding: 8px 12px; }"));
    m_label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    m_stopButton = new QToolButton(this);
    m_stopButton->setAutoRaise(true);
    m_stopButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_stopButton->setIconSize(QSize(kStopSymbolSize, kStopSymbolSize));
    if (const auto image = platform::ImageAssets::symbol(QStringLiteral("stop.circle.fill"), kStopSymbolSize,
                                                          platform::SystemColors::red()))
        m_stopButton->setIcon(QIcon(QPixmap::fromImage(*image)));
    m_stopButton->setToolTip(QStringLiteral("Остановить запись"));
    m_stopButton->setFocusPolicy(Qt::NoFocus);
    m_stopButton->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0px; }"));

    row->addWidget(m_label, 0, Qt::AlignVCenter);
    row->addWidget(m_stopButton, 0, Qt::AlignVCenter);

    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &RecordingControlsView::tick);
    connect(m_stopButton, &QToolButton::clicked, this, &RecordingControlsView::stopPressed);
}

QString RecordingControlsView::formatDuration(double seconds)
{
    const long long whole = std::isfinite(seconds) && seconds > 0 ? static_cast<long long>(seconds) : 0;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", whole / 60, whole % 60);
    return QString::fromLatin1(buffer);
}

void RecordingControlsView::tick()
{
    m_elapsedTime += 1;
    m_label->setText(formatDuration(m_elapsedTime));
}

void RecordingControlsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startTickTimer();
}

void RecordingControlsView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void RecordingControlsView::startTickTimer()
{
    // A stopped recording keeps its last time, also when its window shows again.
    if (m_stopButton->isEnabled())
        m_timer.start();
}

void RecordingControlsView::stopPressed()
{
    if (!m_stopButton->isEnabled())
        return;
    m_timer.stop();
    m_stopButton->setEnabled(false);
    if (m_onStop)
        m_onStop();
}
