#pragma once

#include <QPointF>
#include <QUuid>

// One ring of the on-screen click indicator.
struct ClickAnimation {
    QUuid id;
    QPointF position;    // centre, in the overlay's view coordinates (top-left origin)
    double size = 16;    // diameter in points
    double opacity = 0.9;
    qint64 startedMs = 0; // monotonic milliseconds of the click
};
