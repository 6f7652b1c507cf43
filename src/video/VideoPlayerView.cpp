#include "video/VideoPlayerView.h"

#include "platform/ImageAssets.h"
#include "platform/MediaFrameReader.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QToolButton>
#include <QUrl>
#include <QVideoSink>

namespace {

// The floating controls: their height, their widest and the gap to the bottom edge.
constexpr int kControlsHeight = 40;
constexpr int kControlsMaxWidth = 520;
constexpr int kControlsInset = 16;
// Pointer at rest this long while playing: the controls step aside.
constexpr int kHideControlsMs = 2500;
constexpr double kSymbolSize = 14;

QIcon symbolIcon(const QString& name)
{
    auto image = platform::ImageAssets::symbol(name, kSymbolSize, Qt::white);
    return image ? QIcon(QPixmap::fromImage(*image)) : QIcon();
}

QToolButton* controlButton(const QString& name, const QString& toolTip, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(int(kSymbolSize), int(kSymbolSize)));
    button->setFixedSize(28, 28);
    return button;
}

class ControlsBar : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QColor(255, 255, 255, 30));
        painter.setBrush(QColor(28, 28, 30, 215));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    }
};

} // namespace

VideoPlayerView::VideoPlayerView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("playerView"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_player = new QMediaPlayer(this);
    m_sink = new QVideoSink(this);
    m_player->setVideoSink(m_sink);
    connect(m_sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        m_frame = frame;
        ++m_framesReceived;
        update();
    });

    m_controls = new ControlsBar(this);
    m_controls->setObjectName(QStringLiteral("playerControls"));
    m_controls->setMouseTracking(true);
    auto* row = new QHBoxLayout(m_controls);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(8);
    m_playButton = controlButton(QStringLiteral("playPause"), QStringLiteral("Воспроизвести"), m_controls);
    m_elapsedLabel = new QLabel(timeText(0), m_controls);
    m_elapsedLabel->setObjectName(QStringLiteral("elapsed"));
    m_positionSlider = new QSlider(Qt::Horizontal, m_controls);
    m_positionSlider->setObjectName(QStringLiteral("position"));
    m_positionSlider->setFocusPolicy(Qt::NoFocus);
    m_remainingLabel = new QLabel(QStringLiteral("-") + timeText(0), m_controls);
    m_remainingLabel->setObjectName(QStringLiteral("remaining"));
    m_fullScreenButton = controlButton(QStringLiteral("fullScreen"), QStringLiteral("Во весь экран"), m_controls);
    m_fullScreenButton->setIcon(symbolIcon(QStringLiteral("arrow.up.left.and.arrow.down.right")));
    for (QLabel* label : {m_elapsedLabel, m_remainingLabel}) {
        QFont font = label->font();
        font.setPixelSize(11);
        label->setFont(font);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(255, 255, 255, 200));
        label->setPalette(palette);
    }
    row->addWidget(m_playButton);
    row->addWidget(m_elapsedLabel);
    row->addWidget(m_positionSlider, 1);
    row->addWidget(m_remainingLabel);
    row->addWidget(m_fullScreenButton);
    updatePlaybackButton();

    connect(m_playButton, &QToolButton::clicked, this, &VideoPlayerView::togglePlayback);
    connect(m_fullScreenButton, &QToolButton::clicked, this, &VideoPlayerView::toggleFullScreen);
    connect(m_positionSlider, &QSlider::sliderMoved, this, [this](int value) { m_player->setPosition(value); });
    connect(m_player, &QMediaPlayer::durationChanged, this, [this](qint64 duration) {
        m_positionSlider->setRange(0, static_cast<int>(std::min<qint64>(duration, INT_MAX)));
        updatePosition(m_player->position());
    });
    connect(m_player, &QMediaPlayer::positionChanged, this, &VideoPlayerView::updatePosition);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, [this] {
        updatePlaybackButton();
        showControls();
    });

    m_hideControlsTimer.setSingleShot(true);
    m_hideControlsTimer.setInterval(kHideControlsMs);
    connect(&m_hideControlsTimer, &QTimer::timeout, this, [this] {
        if (m_player->playbackState() == QMediaPlayer::PlayingState && !m_controls->underMouse())
            m_controls->hide();
    });
}

VideoPlayerView::~VideoPlayerView()
{
    // Stop the pipeline before the sink and the output it feeds go away.
    m_player->stop();
    m_player->setVideoSink(nullptr);
}

void VideoPlayerView::setSource(const QString& path)
{
    m_player->setSource(QUrl::fromLocalFile(path));
    // The player sends no picture before it plays: without this the view stays black until Play.
    // One frame is decoded here, so the window opens with its picture.
    m_poster = QImage();
    if (auto reader = platform::MediaFrameReader::open(path))
        m_poster = reader->frameAt(0);
    update();
}

QImage VideoPlayerView::currentFrame() const
{
    return m_frame.isValid() ? m_frame.toImage() : QImage();
}

QString VideoPlayerView::timeText(qint64 milliseconds)
{
    const qint64 seconds = std::max<qint64>(0, milliseconds / 1000);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void VideoPlayerView::togglePlayback()
{
    if (m_player->playbackState() == QMediaPlayer::PlayingState) {
        m_player->pause();
        return;
    }
    // The sound device is opened on the first play: a preview that is only saved or uploaded
    // keeps no audio stream open.
    if (!m_audioOutput) {
        m_audioOutput = new QAudioOutput(this);
        m_player->setAudioOutput(m_audioOutput);
    }
    m_player->play();
}

void VideoPlayerView::toggleFullScreen()
{
    QWidget* top = window();
    if (top->isFullScreen())
        top->showNormal();
    else
        top->showFullScreen();
    m_fullScreenButton->setIcon(symbolIcon(top->isFullScreen() ? QStringLiteral("arrow.down.right.and.arrow.up.left")
                                                               : QStringLiteral("arrow.up.left.and.arrow.down.right")));
}

void VideoPlayerView::updatePlaybackButton()
{
    const bool playing = m_player->playbackState() == QMediaPlayer::PlayingState;
    m_playButton->setIcon(symbolIcon(playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill")));
    m_playButton->setToolTip(playing ? QStringLiteral("Пауза") : QStringLiteral("Воспроизвести"));
}

void VideoPlayerView::updatePosition(qint64 position)
{
    if (!m_positionSlider->isSliderDown())
        m_positionSlider->setValue(static_cast<int>(std::min<qint64>(position, INT_MAX)));
    m_elapsedLabel->setText(timeText(position));
    // Whole seconds cut off as the window's title cuts the duration: at the start a 12.7 s video
    // shows "-0:12" under the title "Видео (12 сек)".
    const qint64 remaining = std::max<qint64>(0, m_player->duration() - position);
    m_remainingLabel->setText(QStringLiteral("-") + timeText(remaining));
}

void VideoPlayerView::showControls()
{
    m_controls->show();
    if (m_player->playbackState() == QMediaPlayer::PlayingState)
        m_hideControlsTimer.start();
    else
        m_hideControlsTimer.stop();
}

void VideoPlayerView::layoutControls()
{
    const int width = std::max(120, std::min(kControlsMaxWidth, this->width() - 2 * kControlsInset));
    m_controls->setGeometry((this->width() - width) / 2, height() - kControlsInset - kControlsHeight, width, kControlsHeight);
}

void VideoPlayerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    QImage image = currentFrame();
    if (image.isNull())
        image = m_poster;
    if (image.isNull())
        return;
    QSizeF size = image.size();
    size.scale(this->size(), Qt::KeepAspectRatio);
    const QRectF target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
}

void VideoPlayerView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutControls();
}

void VideoPlayerView::mouseMoveEvent(QMouseEvent* event)
{
    showControls();
    QWidget::mouseMoveEvent(event);
}

void VideoPlayerView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        toggleFullScreen();
}
