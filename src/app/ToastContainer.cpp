#include "app/ToastContainer.h"

#include "app/ToastManager.h"
#include "app/ToastNotification.h"

#include <QEvent>
#include <QVariantAnimation>

#include <cmath>

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

    // Comes in from the top edge while fading in, easing out.
    m_appearance = new QVariantAnimation(this);
    m_appearance->setDuration(transitionMilliseconds);
    m_appearance->setStartValue(0.0);
    m_appearance->setEndValue(1.0);
    m_appearance->setEasingCurve(QEasingCurve::OutQuad);
    connect(m_appearance, &QVariantAnimation::valueChanged, this, [this](const QVariant&) { place(); });

    connect(&ToastManager::shared(), &ToastManager::currentToastChanged, this, &ToastContainer::currentToastChanged);
    currentToastChanged();
    raise();
    show();
}

bool ToastContainer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        setGeometry(parentWidget()->rect());
        // Above whatever the host adds later.
        raise();
        place();
    }
    return QWidget::eventFilter(watched, event);
}

QPoint ToastContainer::restingPosition(const ToastNotification* toast) const
{
    return QPoint(width() - inset - toast->width(), inset);
}

QPoint ToastContainer::hiddenPosition(const ToastNotification* toast) const
{
    return QPoint(width() - inset - toast->width(), -toast->height());
}

void ToastContainer::place()
{
    if (!m_notification)
        return;
    m_notification->resize(m_notification->sizeHint());
    const double t = m_appearance->state() == QAbstractAnimation::Running ? m_appearance->currentValue().toDouble() : 1.0;
    const QPoint from = hiddenPosition(m_notification);
    const QPoint to = restingPosition(m_notification);
    m_notification->move(from.x(), static_cast<int>(std::lround(from.y() + (to.y() - from.y()) * t)));
    m_notification->setOpacity(t);
}

void ToastContainer::dismiss(ToastNotification* toast)
{
    // Leaves towards the top edge while fading out, easing in; the next toast does not wait for it.
    auto* leave = new QVariantAnimation(toast);
    leave->setDuration(transitionMilliseconds);
    leave->setStartValue(0.0);
    leave->setEndValue(1.0);
    leave->setEasingCurve(QEasingCurve::InQuad);
    const QPoint start = toast->pos();
    const double startOpacity = toast->opacity();
    connect(leave, &QVariantAnimation::valueChanged, toast, [toast, start, startOpacity](const QVariant& value) {
        const double t = value.toDouble();
        const QPoint end(start.x(), -toast->height());
        toast->move(start.x(), static_cast<int>(std::lround(start.y() + (end.y() - start.y()) * t)));
        toast->setOpacity(startOpacity * (1.0 - t));
    });
    connect(leave, &QVariantAnimation::finished, toast, &QObject::deleteLater);
    leave->start(QAbstractAnimation::DeleteWhenStopped);
}

void ToastContainer::currentToastChanged()
{
    if (m_notification) {
        dismiss(m_notification);
        m_notification = nullptr;
    }
    const auto& toast = ToastManager::shared().currentToast();
    if (!toast)
        return;
    // Every toast is a new capsule, so the same text shown again comes in again.
    m_notification = new ToastNotification(toast->message, toast->icon, toast->type, this);
    m_appearance->stop();
    m_appearance->start();
    place();
    m_notification->show();
}
