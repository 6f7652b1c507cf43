#include "platform/PixelGrabber.h"

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace platform {

struct PixelGrabber::State {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    QRect rootGeometry;
    bool shmAvailable = false;
    bool useShm = true;
    // The shared segment, grown as needed; already marked for removal, so it vanishes with us.
    xcb_shm_seg_t segment = 0;
    void* memory = nullptr;
    size_t capacity = 0;

    ~State()
    {
        releaseSegment();
        if (connection)
            xcb_disconnect(connection);
    }

    void releaseSegment()
    {
        if (segment && connection)
            xcb_shm_detach(connection, segment);
        if (memory)
            shmdt(memory);
        segment = 0;
        memory = nullptr;
        capacity = 0;
    }

    bool ensureSegment(size_t bytes, QString* error)
    {
        if (memory && capacity >= bytes)
            return true;
        releaseSegment();
        const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0) {
            if (error)
                *error = QStringLiteral("shmget failed");
            return false;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            if (error)
                *error = QStringLiteral("shmat failed");
            return false;
        }
        const xcb_shm_seg_t seg = xcb_generate_id(connection);
        xcb_generic_error_t* attachError = xcb_request_check(connection, xcb_shm_attach_checked(connection, seg, id, 0));
        // Attached on both sides (or failed): the id is no longer needed by anyone.
        shmctl(id, IPC_RMID, nullptr);
        if (attachError) {
            std::free(attachError);
            shmdt(address);
            if (error)
                *error = QStringLiteral("the X server could not attach the shared memory");
            shmAvailable = false; // e.g. a remote server
            return false;
        }
        segment = seg;
        memory = address;
        capacity = bytes;
        return true;
    }
};

PixelGrabber::PixelGrabber(std::unique_ptr<State> state)
    : d(std::move(state))
{
}

PixelGrabber::~PixelGrabber() = default;

std::unique_ptr<PixelGrabber> PixelGrabber::create(QString* error, const char* displayName)
{
    auto state = std::make_unique<State>();
    int screenNumber = 0;
    state->connection = xcb_connect(displayName, &screenNumber);
    if (!state->connection || xcb_connection_has_error(state->connection)) {
        if (error)
            *error = QStringLiteral("cannot connect to the X display");
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(state->connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        if (error)
            *error = QStringLiteral("the X display has no screen");
        return nullptr;
    }
    xcb_screen_t* screen = it.data;
    if (screen->root_depth != 24 && screen->root_depth != 32) {
        if (error)
            *error = QStringLiteral("unsupported root depth %1").arg(screen->root_depth);
        return nullptr;
    }
    state->root = screen->root;
    state->rootGeometry = QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);

    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(state->connection, &xcb_shm_id);
    if (shm && shm->present) {
        xcb_shm_query_version_reply_t* version =
            xcb_shm_query_version_reply(state->connection, xcb_shm_query_version(state->connection), nullptr);
        state->shmAvailable = version != nullptr;
        std::free(version);
    }
    return std::unique_ptr<PixelGrabber>(new PixelGrabber(std::move(state)));
}

void PixelGrabber::setUseShm(bool use)
{
    d->useShm = use;
}

bool PixelGrabber::usesShm() const
{
    return d->useShm && d->shmAvailable;
}

QRect PixelGrabber::rootGeometry() const
{
    return d->rootGeometry;
}

QImage PixelGrabber::grab(const QRect& rootRect, QString* error)
{
    if (rootRect.isEmpty()) {
        if (error)
            *error = QStringLiteral("empty rectangle");
        return {};
    }
    QImage image(rootRect.size(), QImage::Format_RGB32);
    if (image.isNull()) {
        if (error)
            *error = QStringLiteral("out of memory");
        return {};
    }
    if (!grabInto(rootRect, image, true, error))
        return {};
    return image;
}

namespace {

// Copies rows of 32-bit pixels, setting alpha when asked.
void copyRows(const uchar* source, int sourceStride, QImage& target, const QPoint& at, int width, int height,
              bool forceOpaque)
{
    for (int y = 0; y < height; ++y) {
        const auto* from = reinterpret_cast<const quint32*>(source + static_cast<size_t>(y) * sourceStride);
        auto* to = reinterpret_cast<quint32*>(target.scanLine(at.y() + y)) + at.x();
        if (forceOpaque) {
            for (int x = 0; x < width; ++x)
                to[x] = from[x] | 0xff000000u;
        } else {
            std::memcpy(to, from, static_cast<size_t>(width) * 4);
        }
    }
}

} // namespace

bool PixelGrabber::grabInto(const QRect& rootRect, QImage& target, bool forceOpaque, QString* error)
{
    if (target.size() != rootRect.size() || target.depth() != 32) {
        if (error)
            *error = QStringLiteral("target image does not match the rectangle");
        return false;
    }
    const QRect visible = rootRect.intersected(d->rootGeometry);
    if (visible != rootRect)
        target.fill(QColor(Qt::black));
    if (visible.isEmpty())
        return true;
    const QPoint at = visible.topLeft() - rootRect.topLeft();
    const int w = visible.width();
    const int h = visible.height();

    if (usesShm()) {
        const size_t bytes = static_cast<size_t>(w) * h * 4;
        if (d->ensureSegment(bytes, nullptr)) {
            xcb_generic_error_t* xerror = nullptr;
            xcb_shm_get_image_reply_t* reply = xcb_shm_get_image_reply(
                d->connection,
                xcb_shm_get_image(d->connection, d->root, static_cast<int16_t>(visible.x()), static_cast<int16_t>(visible.y()),
                                  static_cast<uint16_t>(w), static_cast<uint16_t>(h), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                  d->segment, 0),
                &xerror);
            if (reply) {
                std::free(reply);
                copyRows(static_cast<const uchar*>(d->memory), w * 4, target, at, w, h, forceOpaque);
                return true;
            }
            std::free(xerror);
            // Fall through to the plain request.
        }
    }

    // GetImage answers are limited by the maximum request length: read in bands.
    const uint32_t maxBytes = xcb_get_maximum_request_length(d->connection) * 4u;
    const int bandRows = std::max(1, static_cast<int>(std::min<uint64_t>(h, (maxBytes - 64) / (static_cast<uint64_t>(w) * 4))));
    for (int y = 0; y < h; y += bandRows) {
        const int rows = std::min(bandRows, h - y);
        xcb_generic_error_t* xerror = nullptr;
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            d->connection,
            xcb_get_image(d->connection, XCB_IMAGE_FORMAT_Z_PIXMAP, d->root, static_cast<int16_t>(visible.x()),
                          static_cast<int16_t>(visible.y() + y), static_cast<uint16_t>(w), static_cast<uint16_t>(rows), ~0u),
            &xerror);
        if (!reply) {
            if (error)
                *error = QStringLiteral("the X server refused GetImage (error %1)").arg(xerror ? xerror->error_code : 0);
            std::free(xerror);
            return false;
        }
        const int length = xcb_get_image_data_length(reply);
        if (length < w * rows * 4) {
            std::free(reply);
            if (error)
                *error = QStringLiteral("short GetImage reply");
            return false;
        }
        copyRows(xcb_get_image_data(reply), w * 4, target, at + QPoint(0, y), w, rows, forceOpaque);
        std::free(reply);
    }
    return true;
}

} // namespace platform
