#pragma once

// A real window manager for the tests where stacking and focus are the point: openbox on the test
// X server for the lifetime of the object, and the X facts those tests read (the root's stacking
// order, _NET_ACTIVE_WINDOW) through a connection of its own.

#include "support/TestSupport.h"

#include <QFile>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QWidget>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace test {

class XDisplayFacts {
public:
    XDisplayFacts()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~XDisplayFacts() { xcb_disconnect(m_connection); }
    XDisplayFacts(const XDisplayFacts&) = delete;
    XDisplayFacts& operator=(const XDisplayFacts&) = delete;

    bool isValid() const { return m_root != 0; }
    xcb_window_t root() const { return m_root; }

    xcb_atom_t atom(const char* name)
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr), &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // The first WINDOW value of a root property, when it is set.
    std::optional<xcb_window_t> rootWindowProperty(const char* name)
    {
        const xcb_atom_t property = atom(name);
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(m_connection, xcb_get_property(m_connection, 0, m_root, property, XCB_ATOM_WINDOW, 0, 1), nullptr),
            &std::free);
        if (!reply || reply->type != XCB_ATOM_WINDOW || xcb_get_property_value_length(reply.get()) < 4)
            return std::nullopt;
        return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
    }

    bool windowExists(xcb_window_t window)
    {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window), nullptr), &std::free);
        return attributes != nullptr;
    }

    void deleteRootProperty(const char* name)
    {
        xcb_delete_property(m_connection, m_root, atom(name));
        xcb_flush(m_connection);
    }

    std::optional<quint32> rootCardinal(const char* name)
    {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(m_connection, xcb_get_property(m_connection, 0, m_root, atom(name), XCB_ATOM_CARDINAL, 0, 1), nullptr),
            &std::free);
        if (!reply || reply->type != XCB_ATOM_CARDINAL || xcb_get_property_value_length(reply.get()) < 4)
            return std::nullopt;
        return *static_cast<quint32*>(xcb_get_property_value(reply.get()));
    }

    // The window manager says which client has the focus.
    std::optional<xcb_window_t> activeWindow() { return rootWindowProperty("_NET_ACTIVE_WINDOW"); }

    // The root's children bottom to top (with a window manager: its frames).
    QList<xcb_window_t> rootChildren() { return children(m_root); }
    // The mapped root children, bottom to top.
    QList<xcb_window_t> mappedRootChildren()
    {
        QList<xcb_window_t> mapped;
        for (xcb_window_t child : rootChildren()) {
            std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
                xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, child), nullptr), &std::free);
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
                mapped.append(child);
        }
        return mapped;
    }

    // The mapped root children that show something on the screen, bottom to top: not the 1 x 1
    // helper windows (the window manager's check window, an application's anchor).
    QList<xcb_window_t> shownRootChildren()
    {
        QList<xcb_window_t> shown;
        for (xcb_window_t child : mappedRootChildren()) {
            std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
                xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, child), nullptr), &std::free);
            if (geometry && geometry->width > 1 && geometry->height > 1 && geometry->x + geometry->width > 0
                && geometry->y + geometry->height > 0)
                shown.append(child);
        }
        return shown;
    }

    // The root's child that holds `window` (its frame under a window manager, else itself).
    xcb_window_t topLevelOf(xcb_window_t window)
    {
        for (int depth = 0; depth < 16 && window; ++depth) {
            std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
                xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr), &std::free);
            if (!tree)
                return 0;
            if (tree->parent == m_root || tree->parent == 0)
                return window;
            window = tree->parent;
        }
        return 0;
    }
    xcb_window_t topLevelOf(const QWidget* widget) { return topLevelOf(xcb_window_t(widget->winId())); }

    // Where among the shown root children `widget`'s top level lies, bottom 0; -1 when it is not there.
    int stackingIndex(const QWidget* widget)
    {
        return int(shownRootChildren().indexOf(topLevelOf(widget)));
    }

    // True once a window mapped now is taken over by the window manager: reparented into a frame.
    // A manager still starting up can drop a map request that comes too early; another probe is
    // then mapped.
    bool windowManagerTakesWindows(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const xcb_window_t probe = xcb_generate_id(m_connection);
            xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, probe, m_root, 0, 0, 16, 16, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                              XCB_COPY_FROM_PARENT, 0, nullptr);
            xcb_map_window(m_connection, probe);
            const bool framed = waitUntil([&] { return topLevelOf(probe) != probe; }, std::chrono::milliseconds(1000));
            xcb_destroy_window(m_connection, probe);
            std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
            if (framed)
                return true;
        }
        return false;
    }

private:
    QList<xcb_window_t> children(xcb_window_t window)
    {
        QList<xcb_window_t> result;
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr), &std::free);
        if (!tree)
            return result;
        const xcb_window_t* list = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
            result.append(list[i]);
        return result;
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root = 0;
};

// openbox running on $DISPLAY until the object goes. `isRunning()` is true once it owns the
// screen: _NET_SUPPORTING_WM_CHECK names a window that exists.
class OpenboxSession {
public:
    OpenboxSession()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("openbox"));
        if (program.isEmpty() || !haveDisplay())
            return;
        m_process.setProgram(program);
        // No session manager and the stock configuration: nothing of the user's reaches the test.
        m_process.setArguments({QStringLiteral("--sm-disable")});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        XDisplayFacts facts;
        // An earlier manager on this server leaves its root properties behind; ours must not be
        // taken for running before it owns the screen.
        for (const char* name : {"_NET_SUPPORTING_WM_CHECK", "_OPENBOX_PID", "_NET_CLIENT_LIST", "_NET_ACTIVE_WINDOW"})
            facts.deleteRootProperty(name);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return;
        m_running = facts.isValid() && waitUntil([&] {
            if (m_process.state() != QProcess::Running)
                return false;
            // A check window left by an earlier manager that is gone does not count.
            const auto check = facts.rootWindowProperty("_NET_SUPPORTING_WM_CHECK");
            return check && facts.windowExists(*check) && facts.rootCardinal("_OPENBOX_PID") == quint32(m_process.processId());
        }, std::chrono::seconds(10));
        // Its properties come before it takes every new window: a probe window shows when it does.
        if (m_running)
            m_running = facts.windowManagerTakesWindows(std::chrono::seconds(10));
    }
    ~OpenboxSession()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
        // Windows that stay open go back to the root; let the application see it.
        spin(std::chrono::milliseconds(100));
    }
    OpenboxSession(const OpenboxSession&) = delete;
    OpenboxSession& operator=(const OpenboxSession&) = delete;

    bool isRunning() const { return m_running; }

private:
    QProcess m_process;
    bool m_running = false;
};

} // namespace test
