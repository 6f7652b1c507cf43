// Where the controls window and the setup panel go, and the controls' time text. The examples of a
// 1440 x 900 main screen are written in top-left coordinates (y down).
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
