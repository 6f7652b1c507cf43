#include "platform/PixelGrabber.h"

#include "platform/XcbConnection.h"

#include <xcb/shm.h>

#include <cstdlib>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace platform {

struct PixelGrabber::State : XcbConnection {
    bool shmAvailable = false;
    bool useShm = true;
    // The shared segment, grown as needed; already marked for removal, so it vanishes with us.
    xcb_shm_seg_t segment = 0;
    void* memory = nullptr;
    size_t capacity = 0;

    // Before the connection closes.
    ~State() { releaseSegment(); }

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
    if (!state->open(displayName, error))
        return nullptr;
    if (state->rootDepth != 24 && state->rootDepth != 32) {
        if (error)
            *error = QStringLiteral("unsupported root depth %1").arg(state->rootDepth);
        return nullptr;
    }

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
                XcbConnection::copyRows(static_cast<const uchar*>(d->memory), w * 4, target, at, w, h, forceOpaque);
                return true;
            }
            std::free(xerror);
            // Fall through to the plain request.
        }
    }

    return d->readImage(d->root, visible, target, at, forceOpaque, QStringLiteral("the X server refused GetImage (error %1)"),
                        error);
}

} // namespace platform
