// Where the controls window, the setup panel and the red frame go, and the controls' time text. The
// examples of a 1440 x 900 main screen are written in top-left coordinates (y down).
#include "recording/RecordingControlsView.h"
#include "recording/RecordingWindowPlacement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using platform::ScreenGeometry;
using Rule = RecordingWindowPlacement::Rule;

namespace {

const QRectF kScreen(0, 0, 1440, 900);

std::string describe(const QRectF& r)
{
    return "(" + std::to_string(r.x()) + ", " + std::to_string(r.y()) + ", " + std::to_string(r.width()) + ", "
        + std::to_string(r.height()) + ")";
}

} // namespace

TEST(RecordingWindowPlacement, ControlsWindow)
{
    const struct {
        const char* what;
        QRectF screen;
        QRectF area;
        Rule rule;
        QRectF frame;
        double spaceAbove;
        double spaceBelow;
    } cases[] = {
        {"room above: 20 points over the area, centred", kScreen, {100, 150, 800, 500}, Rule::Above, {420, 60, 160, 70}, 150, 250},
        {"room above but under the margin: the clamp lowers it", kScreen, {100, 100, 800, 600}, Rule::Above, {420, 20, 160, 70}, 100, 200},
        {"exactly enough room above counts", kScreen, {100, 90, 800, 500}, Rule::Above, {420, 20, 160, 70}, 90, 310},
        {"area at the top: below it", kScreen, {100, 0, 800, 500}, Rule::Below, {420, 520, 160, 70}, 0, 400},
        {"tall area with 200 points on its right", kScreen, {1040, 0, 200, 900}, Rule::Right, {1260, 415, 160, 70}, 0, 0},
        {"room only on the left: over the middle", kScreen, {300, 0, 1140, 900}, Rule::Center, {790, 415, 160, 70}, 0, 0},
        {"the whole screen: centred inside the area", kScreen, {0, 0, 1440, 900}, Rule::Center, {640, 415, 160, 70}, 0, 0},
        {"centre near the left edge: x clamped to the margin", kScreen, {0, 300, 150, 200}, Rule::Above, {20, 210, 160, 70}, 300, 400},
        {"near the right edge: x clamped", kScreen, {1400, 300, 40, 200}, Rule::Above, {1260, 210, 160, 70}, 300, 400},
        {"a screen too small for both margins: left and bottom margins win", {0, 0, 150, 100}, {0, 0, 150, 100}, Rule::Center,
         {20, 10, 160, 70}, 0, 0},
        {"a screen right of the primary", {1920, 0, 1280, 1024}, {2000, 100, 400, 300}, Rule::Above, {2120, 20, 160, 70}, 100, 624},
    };
    for (const auto& c : cases) {
        const auto p = RecordingWindowPlacement::controlsWindow(c.area, c.screen, QSizeF(160, 70));
        EXPECT_EQ(p.rule, c.rule) << c.what;
        EXPECT_EQ(p.frame, c.frame) << c.what << ": " << describe(p.frame);
        EXPECT_EQ(p.spaceAbove, c.spaceAbove) << c.what;
        EXPECT_EQ(p.spaceBelow, c.spaceBelow) << c.what;
    }
    EXPECT_EQ(RecordingWindowPlacement::ruleLogLine(Rule::Right), "AppDelegate: Positioning to RIGHT of recording area");
    EXPECT_EQ(RecordingWindowPlacement::ruleLogLine(Rule::Center), "AppDelegate: Positioning at CENTER of recording area");
}

TEST(RecordingWindowPlacement, SetupPanelStaysOnTheScreen)
{
    const struct {
        const char* what;
        QRectF area;
        QRectF frame;
    } cases[] = {
        {"upper half: centred 20 points under the area", {400, 100, 600, 300}, {540, 420, 320, 48}},
        {"touching the bottom: 20 points over the area", {400, 600, 600, 300}, {540, 532, 320, 48}},
        {"exactly 68 points below still goes below, kept 20 points from the bottom", {400, 532, 600, 300}, {540, 832, 320, 48}},
        {"the whole screen: kept on it, inside the area", {0, 0, 1440, 900}, {560, 832, 320, 48}},
        {"at the left edge and narrower than the panel", {0, 100, 200, 300}, {20, 420, 320, 48}},
        {"at the right edge", {1340, 100, 100, 300}, {1100, 420, 320, 48}},
    };
    for (const auto& c : cases) {
        const auto p = RecordingWindowPlacement::setupPanel(c.area, kScreen, QSizeF(320, 48));
        EXPECT_EQ(p.frame, c.frame) << c.what << ": " << describe(p.frame);
        EXPECT_TRUE(kScreen.contains(p.frame)) << c.what;
    }
}

TEST(RecordingWindowPlacement, ScreenOfTheArea)
{
    const QList<platform::ScreenInfo> screens{ScreenGeometry::describe(QRect(0, 0, 1920, 1080), 1.0, true, "A"),
                                              ScreenGeometry::describe(QRect(1920, 0, 1280, 1024), 1.0, false, "B")};
    EXPECT_EQ(RecordingWindowPlacement::screenFor(QRectF(2000, 100, 400, 300), screens)->name, "B");
    EXPECT_EQ(RecordingWindowPlacement::screenFor(QRectF(1800, 100, 400, 300), screens)->name, "A"); // first that meets it
    EXPECT_EQ(RecordingWindowPlacement::screenFor(QRectF(-900, -900, 10, 10), screens)->name, "A");  // none: the primary
    EXPECT_FALSE(RecordingWindowPlacement::screenFor(QRectF(0, 0, 10, 10), {}).has_value());

    // Areas are relative to the primary's top-left, which need not be Qt's origin.
    const QList<platform::ScreenInfo> shifted{ScreenGeometry::describe(QRect(-1280, 0, 1280, 1024), 1.0, false, "L"),
                                              ScreenGeometry::describe(QRect(0, 56, 1920, 1080), 1.0, true, "P")};
    EXPECT_EQ(RecordingWindowPlacement::areaToGlobal(QRectF(200, 200, 800, 600), shifted), QRectF(200, 256, 800, 600));
}

// The pixels the recorder grabs and the frame line around them, at whole and fractional ratios,
// for even, odd and fractional areas: the line never touches a grabbed pixel and leaves none
// between them.
TEST(RecordingWindowPlacement, FrameLineLiesAroundTheRecordedPixels)
{
    const auto screenAt = [](double ratio, QPoint nativeOrigin = {}) {
        return ScreenGeometry::describe(QRect(nativeOrigin, QSize(1280, 720)), ratio, true, "P",
                                        QRect(nativeOrigin, QSize(qRound(1280 * ratio), qRound(720 * ratio))));
    };
    const struct {
        const char* what;
        std::optional<platform::ScreenInfo> screen;
        QRectF area;
        QRect recorded; // root pixels
        int lineWidth;
    } cases[] = {
        {"1, even", screenAt(1), {140, 160, 400, 180}, {140, 160, 400, 180}, 3},
        {"1, odd: the video's even size", screenAt(1), {141, 161, 401, 181}, {141, 161, 400, 180}, 3},
        {"1, fractional: rounded outward", screenAt(1), {100.5, 120.25, 301.5, 201.75}, {100, 120, 301, 201}, 3},
        {"1.25, even", screenAt(1.25), {140, 160, 400, 180}, {175, 200, 500, 225}, 4},
        {"1.25, odd", screenAt(1.25), {141, 161, 401, 181}, {176, 201, 501, 226}, 4},
        {"1.5, even", screenAt(1.5), {140, 160, 400, 180}, {210, 240, 600, 270}, 5},
        {"1.5, odd", screenAt(1.5), {141, 161, 401, 181}, {211, 241, 601, 271}, 5},
        {"1.5, odd at odd points", screenAt(1.5), {99, 123, 333, 247}, {148, 184, 499, 370}, 5},
        {"2, even", screenAt(2), {140, 160, 400, 180}, {280, 320, 800, 360}, 6},
        {"2, odd", screenAt(2), {141, 161, 401, 181}, {282, 322, 800, 360}, 6},
        {"2, fractional", screenAt(2), {100.5, 120.25, 301.5, 201.75}, {201, 240, 600, 401}, 6},
        {"1.5, primary not at the root's origin", screenAt(1.5, {100, 50}), {141, 161, 401, 181}, {311, 291, 601, 271}, 5},
        {"no screen: points as pixels", std::nullopt, {100.5, 120.25, 301.5, 201.75}, {100, 120, 301, 201}, 3},
    };
    for (const auto& c : cases) {
        const QRect recorded = RecordingWindowPlacement::recordedPixels(c.area, c.screen);
        EXPECT_EQ(recorded, c.recorded) << c.what;
        const double ratio = c.screen ? c.screen->devicePixelRatio : 1.0;
        const QRegion line = RecordingWindowPlacement::frameLinePixels(recorded, ratio);
        EXPECT_FALSE(line.intersects(recorded)) << c.what;
        const int w = c.lineWidth;
        EXPECT_EQ(line + QRegion(recorded), QRegion(recorded.adjusted(-w, -w, w, w))) << c.what;
    }
}

TEST(RecordingControlsView, FormatDuration)
{
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "00:00"},      {1, "00:01"},   {59.9, "00:59"}, {60, "01:00"},  {65, "01:05"},
        {3599, "59:59"},   {3600, "60:00"}, {6000, "100:00"}, {-3, "00:00"},
        {std::numeric_limits<double>::quiet_NaN(), "00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecordingControlsView::formatDuration(c.seconds), c.text) << c.seconds;
}
