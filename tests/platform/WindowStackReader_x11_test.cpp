#include "platform/WindowStackReader.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstring>

using namespace std::chrono_literals;

namespace {

class SolidWindow : public QWidget {
public:
    SolidWindow(const QRect& geometry, const QColor& colour, bool translucent = false)
        : m_colour(colour)
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
        if (translucent)
            setAttribute(Qt::WA_TranslucentBackground);
        setGeometry(geometry);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), m_colour);
    }

private:
    QColor m_colour;
};

std::optional<platform::TopLevelWindow> find(const QList<platform::TopLevelWindow>& list, quint32 id, int* index = nullptr)
{
    for (int i = 0; i < list.size(); ++i)
        if (list[i].id == id) {
            if (index)
                *index = i;
            return list[i];
        }
    return std::nullopt;
}

// Plays the part of a window manager that publishes its stacking list.
class StackingList {
public:
    explicit StackingList(const std::vector<xcb_window_t>& windows)
    {
        m_connection = xcb_connect(nullptr, nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const char* name = "_NET_CLIENT_LIST_STACKING";
        auto* reply = xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr);
        m_atom = reply->atom;
        std::free(reply);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_root, m_atom, XCB_ATOM_WINDOW, 32,
                            static_cast<uint32_t>(windows.size()), windows.data());
        xcb_aux_sync();
    }
    ~StackingList()
    {
        xcb_delete_property(m_connection, m_root, m_atom);
        xcb_aux_sync();
        xcb_disconnect(m_connection);
    }

private:
    void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); }
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_atom = 0;
};

} // namespace

TEST(WindowStackReader, ListsMappedTopLevelsBottomToTopWithTheirOwners)
{
    ASSERT_TRUE(test::haveDisplay());
    QString error;
    auto reader = platform::WindowStackReader::create(&error);
    ASSERT_TRUE(reader) << error.toStdString();
    EXPECT_EQ(reader->rootGeometry(), QRect(0, 0, 1920, 1080));

    SolidWindow lower(QRect(100, 100, 200, 100), Qt::red);
    SolidWindow upper(QRect(150, 120, 200, 100), Qt::blue);
    SolidWindow hidden(QRect(0, 0, 50, 50), Qt::green);
    lower.show();
    upper.show();
    hidden.winId(); // created, never mapped
    const auto lowerId = static_cast<quint32>(lower.winId());
    const auto upperId = static_cast<quint32>(upper.winId());

    std::optional<QList<platform::TopLevelWindow>> list;
    ASSERT_TRUE(test::waitUntil([&] { return (list = reader->windows()) && find(*list, lowerId) && find(*list, upperId); }, 5s));
    int lowerAt = -1;
    int upperAt = -1;
    const auto l = find(*list, lowerId, &lowerAt);
    find(*list, upperId, &upperAt);
    EXPECT_LT(lowerAt, upperAt);
    EXPECT_FALSE(find(*list, static_cast<quint32>(hidden.winId())));
    EXPECT_EQ(l->geometry, QRect(100, 100, 200, 100));
    EXPECT_EQ(l->pid, static_cast<qint32>(QCoreApplication::applicationPid()));
    EXPECT_EQ(l->depth, 24);
    EXPECT_FALSE(l->desktop);

    // Composed bottom to top: the upper window wins where they overlap; black where neither is.
    QImage composed;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            int drawn = 0;
            composed = reader->compose({*l, *find(*reader->windows(), upperId)}, QRect(90, 90, 300, 150), &drawn);
            return drawn == 2 && composed.pixel(70, 40) == qRgb(0, 0, 255) && composed.pixel(20, 20) == qRgb(255, 0, 0);
        },
        5s));
    EXPECT_EQ(composed.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(composed.pixel(299, 149), qRgb(0, 0, 0));
    EXPECT_EQ(composed.format(), QImage::Format_RGB32);
}

TEST(WindowStackReader, FollowsTheWindowManagersStackingList)
{
    auto reader = platform::WindowStackReader::create();
    ASSERT_TRUE(reader);
    SolidWindow a(QRect(10, 10, 20, 20), Qt::red);
    SolidWindow b(QRect(20, 20, 20, 20), Qt::blue);
    SolidWindow c(QRect(30, 30, 20, 20), Qt::green);
    a.show();
    b.show();
    c.show();
    ASSERT_TRUE(test::waitUntil([&] { return find(*reader->windows(), static_cast<quint32>(c.winId())).has_value(); }, 5s));

    // The list names b below a, and leaves c out.
    StackingList stacking({static_cast<xcb_window_t>(b.winId()), static_cast<xcb_window_t>(a.winId())});
    const auto list = reader->windows();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2);
    EXPECT_EQ((*list)[0].id, static_cast<quint32>(b.winId()));
    EXPECT_EQ((*list)[1].id, static_cast<quint32>(a.winId()));
}

TEST(WindowStackReader, TranslucentWindowsBlendOverWhatIsBelow)
{
    auto reader = platform::WindowStackReader::create();
    ASSERT_TRUE(reader);
    SolidWindow glass(QRect(400, 400, 40, 40), QColor(255, 0, 0, 128), true);
    glass.show();
    const auto id = static_cast<quint32>(glass.winId());
    std::optional<platform::TopLevelWindow> window;
    ASSERT_TRUE(test::waitUntil([&] { return (window = find(*reader->windows(), id)).has_value(); }, 5s));
    EXPECT_EQ(window->depth, 32);
    QRgb pixel = 0;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            pixel = reader->compose({*window}, QRect(400, 400, 40, 40)).pixel(20, 20);
            return qRed(pixel) > 0;
        },
        5s));
    // Premultiplied half red over black.
    EXPECT_NEAR(qRed(pixel), 128, 2);
    EXPECT_EQ(qGreen(pixel), 0);
    EXPECT_EQ(qBlue(pixel), 0);

    QRect area;
    EXPECT_TRUE(reader->contents(*window, QRect(0, 0, 10, 10), &area).isNull());
    EXPECT_TRUE(area.isEmpty());
    const QImage part = reader->contents(*window, QRect(430, 430, 100, 100), &area);
    EXPECT_EQ(area, QRect(430, 430, 10, 10));
    EXPECT_EQ(part.size(), QSize(10, 10));
}
