#include "platform/WindowStackReader.h"

#include "platform/XcbConnection.h"

#include <QPainter>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {
namespace {

template<typename Reply>
struct Freed {
    Reply* reply = nullptr;
    explicit Freed(Reply* r)
        : reply(r)
    {
    }
    ~Freed() { std::free(reply); }
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
    Reply* operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    Freed reply(xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
                                      nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

} // namespace

struct WindowStackReader::State : XcbConnection {
    xcb_atom_t clientListStacking = XCB_ATOM_NONE;
    xcb_atom_t wmPid = XCB_ATOM_NONE;
    xcb_atom_t windowType = XCB_ATOM_NONE;
    xcb_atom_t windowTypeDesktop = XCB_ATOM_NONE;
    // Bits per pixel of the Z-pixmap format of each depth the server offers.
    int bitsPerPixel[33] = {};
};

WindowStackReader::WindowStackReader(std::unique_ptr<State> state)
    : d(std::move(state))
{
}

WindowStackReader::~WindowStackReader() = default;

std::unique_ptr<WindowStackReader> WindowStackReader::create(QString* error, const char* displayName)
{
    auto state = std::make_unique<State>();
    if (!state->open(displayName, error))
        return nullptr;
    const xcb_setup_t* setup = xcb_get_setup(state->connection);
    for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth <= 32)
            state->bitsPerPixel[f.data->depth] = f.data->bits_per_pixel;
    state->clientListStacking = internAtom(state->connection, "_NET_CLIENT_LIST_STACKING");
    state->wmPid = internAtom(state->connection, "_NET_WM_PID");
    state->windowType = internAtom(state->connection, "_NET_WM_WINDOW_TYPE");
    state->windowTypeDesktop = internAtom(state->connection, "_NET_WM_WINDOW_TYPE_DESKTOP");
    return std::unique_ptr<WindowStackReader>(new WindowStackReader(std::move(state)));
}

QRect WindowStackReader::rootGeometry() const
{
    return d->rootGeometry;
}

std::optional<QList<TopLevelWindow>> WindowStackReader::windows(QString* error)
{
    xcb_connection_t* c = d->connection;
    if (xcb_connection_has_error(c)) {
        if (error)
            *error = QStringLiteral("the X connection is broken");
        return std::nullopt;
    }

    std::vector<xcb_window_t> ids;
    if (d->clientListStacking != XCB_ATOM_NONE) {
        Freed list(xcb_get_property_reply(
            c, xcb_get_property(c, 0, d->root, d->clientListStacking, XCB_ATOM_WINDOW, 0, 1u << 16), nullptr));
        if (list && list->format == 32 && list->type == XCB_ATOM_WINDOW) {
            const auto* values = static_cast<const xcb_window_t*>(xcb_get_property_value(list.reply));
            ids.assign(values, values + xcb_get_property_value_length(list.reply) / 4);
        }
    }
    if (ids.empty()) {
        // No window manager keeps a client list: the root's children are the top-levels, bottom first.
        Freed tree(xcb_query_tree_reply(c, xcb_query_tree(c, d->root), nullptr));
        if (!tree) {
            if (error)
                *error = QStringLiteral("cannot list the windows of the root");
            return std::nullopt;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.reply);
        ids.assign(children, children + xcb_query_tree_children_length(tree.reply));
    }

    // Every request first, then the replies: one round trip for the whole list.
    struct Pending {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_get_property_cookie_t pid;
        xcb_get_property_cookie_t type;
    };
    std::vector<Pending> pending;
    pending.reserve(ids.size());
    for (xcb_window_t id : ids) {
        pending.push_back({xcb_get_window_attributes(c, id), xcb_get_geometry(c, id),
                           xcb_translate_coordinates(c, id, d->root, 0, 0),
                           xcb_get_property(c, 0, id, d->wmPid, XCB_ATOM_CARDINAL, 0, 1),
                           xcb_get_property(c, 0, id, d->windowType, XCB_ATOM_ATOM, 0, 32)});
    }

    QList<TopLevelWindow> result;
    for (size_t i = 0; i < ids.size(); ++i) {
        // A window may vanish while we ask: its requests fail and it is left out.
        Freed attributes(xcb_get_window_attributes_reply(c, pending[i].attributes, nullptr));
        Freed geometry(xcb_get_geometry_reply(c, pending[i].geometry, nullptr));
        Freed origin(xcb_translate_coordinates_reply(c, pending[i].origin, nullptr));
        Freed pid(xcb_get_property_reply(c, pending[i].pid, nullptr));
        Freed type(xcb_get_property_reply(c, pending[i].type, nullptr));
        if (!attributes || !geometry || !origin)
            continue;
        if (attributes->map_state != XCB_MAP_STATE_VIEWABLE || attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            continue;
        TopLevelWindow window;
        window.id = ids[i];
        window.geometry = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        window.depth = geometry->depth;
        if (pid && pid->format == 32 && xcb_get_property_value_length(pid.reply) >= 4)
            window.pid = static_cast<qint32>(*static_cast<const uint32_t*>(xcb_get_property_value(pid.reply)));
        if (type && type->format == 32) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(type.reply));
            const int count = xcb_get_property_value_length(type.reply) / 4;
            window.desktop = std::find(atoms, atoms + count, d->windowTypeDesktop) != atoms + count;
        }
        result.append(window);
    }
    return result;
}

QImage WindowStackReader::contents(const TopLevelWindow& window, const QRect& rootRect, QRect* area, QString* error)
{
    const QRect visible = rootRect.intersected(window.geometry).intersected(d->rootGeometry);
    if (area)
        *area = visible;
    if (visible.isEmpty()) {
        if (error)
            *error = QStringLiteral("the window does not cover the area");
        return {};
    }
    if (window.depth != 24 && window.depth != 32) {
        if (error)
            *error = QStringLiteral("unsupported window depth %1").arg(window.depth);
        return {};
    }
    if (d->bitsPerPixel[window.depth] != 32) {
        if (error)
            *error = QStringLiteral("unsupported pixel layout for depth %1").arg(window.depth);
        return {};
    }
    QImage image(visible.size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        if (error)
            *error = QStringLiteral("out of memory");
        return {};
    }
    // Depth 24 leaves the fourth byte undefined; depth 32 (ARGB visuals) holds premultiplied alpha.
    const QRect local(visible.topLeft() - window.geometry.topLeft(), visible.size());
    if (!d->readImage(window.id, local, image, QPoint(0, 0), window.depth == 24,
                      QStringLiteral("the X server refused to read window %1 (error %2)").arg(window.id), error))
        return {};
    return image;
}

QImage WindowStackReader::compose(const QList<TopLevelWindow>& windows, const QRect& rootRect, int* drawn)
{
    int count = 0;
    QImage canvas(rootRect.size(), QImage::Format_RGB32);
    if (!canvas.isNull()) {
        canvas.fill(Qt::black);
        QPainter painter(&canvas);
        for (const TopLevelWindow& window : windows) {
            QRect area;
            const QImage part = contents(window, rootRect, &area);
            if (part.isNull())
                continue;
            painter.drawImage(area.topLeft() - rootRect.topLeft(), part);
            ++count;
        }
    }
    if (drawn)
        *drawn = count;
    return canvas;
}

} // namespace platform
