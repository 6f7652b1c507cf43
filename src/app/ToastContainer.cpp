#include "app/ToastContainer.h"

#include "app/ToastManager.h"
#include "app/ToastNotification.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QVariantAnimation>

namespace {
constexpr int kInset = 16;
constexpr int kAnimationMs = 200;
constexpr int kSlide = 12;
} // namespace

ToastContainer* ToastContainer::install(QWidget* host)
{
    return new ToastContainer(host);
}

ToastContainer::ToastContainer(QWidget* host)
    : QWidget(host)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    host->installEventFilter(this);
    setGeometry(host->rect());
    m_animation = new QVariantAnimation(this);
    m_animation->setDuration(kAnimationMs);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        if (!m_notification)
            return;
        const double t = value.toDouble();
        if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(m_notification->graphicsEffect()))
            effect->setOpacity(t);
        place();
        m_notification->move(m_notification->x(), m_notification->y() - static_cast<int>((1.0 - t) * kSlide));
    });
    connect(&ToastManager::shared(), &ToastManager::currentToastChanged, this, &ToastContainer::update);
    update();
    raise();
    show();
}

bool ToastContainer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        setGeometry(parentWidget()->rect());
        raise();
        place();
    }
    return QWidget::eventFilter(watched, event);
}

void ToastContainer::place()
{
    if (!m_notification)
        return;
    m_notification->resize(m_notification->sizeHint());
    m_notification->move(width() - kInset - m_notification->width(), kInset);
}

void ToastContainer::update()
{
    const auto& toast = ToastManager::shared().currentToast();
    if (m_notification) {
        // The old capsule fades out on its own while the new one comes in.
        ToastNotification* old = m_notification;
        auto* fade = new QVariantAnimation(old);
        fade->setDuration(kAnimationMs);
        fade->setStartValue(1.0);
        fade->setEndValue(0.0);
        fade->setEasingCurve(QEasingCurve::InQuad);
        connect(fade, &QVariantAnimation::valueChanged, old, [old](const QVariant& v) {
            if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(old->graphicsEffect()))
                effect->setOpacity(v.toDouble());
        });
        connect(fade, &QVariantAnimation::finished, old, &QObject::deleteLater);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
        m_notification = nullptr;
    }
    if (!toast)
        return;
    m_notification = new ToastNotification(toast->message, toast->icon, toast->type, this);
    auto* effect = new QGraphicsOpacityEffect(m_notification);
    effect->setOpacity(0.0);
    m_notification->setGraphicsEffect(effect);
    place();
    m_notification->show();
    m_animation->stop();
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setEasingCurve(QEasingCurve::OutQuad);
    m_animation->start();
}
