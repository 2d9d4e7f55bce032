// Preloaded (LD_PRELOAD) into a Qt program under X to note when it first puts
// pixels into a window. Qt's xcb backing store flushes through MIT-SHM
// (xcb_shm_put_image) or, without it, through a server-side pixmap copied into the
// window (xcb_copy_area); the first of either is the first paint. The probe
// writes CLOCK_MONOTONIC in nanoseconds, once, to the descriptor named by
// PAINT_PROBE_FD, and otherwise passes every call through unchanged, so the same
// probe can sit under any program without altering what it does.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// The xcb types the two calls use, declared here so the probe needs no headers
// beyond the C library.
struct VoidCookie {
    unsigned int sequence;
};
struct Connection;

std::atomic<bool> noted{false};

void noteFirstPaint() {
    if (noted.exchange(true))
        return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const char *fdText = std::getenv("PAINT_PROBE_FD");
    if (!fdText)
        return;
    const int fd = std::atoi(fdText);
    char line[32];
    const int length =
        std::snprintf(line, sizeof line, "%lld\n",
                      static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    if (length > 0 && write(fd, line, static_cast<size_t>(length)) < 0) {
        // Nobody is listening; the program goes on regardless.
    }
    close(fd);
}

// Qt loads its xcb plugin, and with it libxcb, with dlopen and local scope, where
// RTLD_NEXT does not look: the real function is taken from the library itself.
template <typename Function> Function real(const char *library, const char *name) {
    void *handle = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
    void *symbol = handle ? dlsym(handle, name) : nullptr;
    if (!symbol)
        symbol = dlsym(RTLD_NEXT, name);
    if (!symbol)
        std::abort(); // no way to pass the call on
    return reinterpret_cast<Function>(symbol);
}

} // namespace

extern "C" {

VoidCookie xcb_shm_put_image(Connection *c, uint32_t drawable, uint32_t gc, uint16_t totalWidth,
                             uint16_t totalHeight, uint16_t srcX, uint16_t srcY, uint16_t srcWidth,
                             uint16_t srcHeight, int16_t dstX, int16_t dstY, uint8_t depth,
                             uint8_t format, uint8_t sendEvent, uint32_t segment, uint32_t offset) {
    using Real = VoidCookie (*)(Connection *, uint32_t, uint32_t, uint16_t, uint16_t, uint16_t,
                                uint16_t, uint16_t, uint16_t, int16_t, int16_t, uint8_t, uint8_t,
                                uint8_t, uint32_t, uint32_t);
    static const Real passOn = real<Real>("libxcb-shm.so.0", "xcb_shm_put_image");
    noteFirstPaint();
    return passOn(c, drawable, gc, totalWidth, totalHeight, srcX, srcY, srcWidth, srcHeight, dstX,
                  dstY, depth, format, sendEvent, segment, offset);
}

VoidCookie xcb_copy_area(Connection *c, uint32_t src, uint32_t dst, uint32_t gc, int16_t srcX,
                         int16_t srcY, int16_t dstX, int16_t dstY, uint16_t width,
                         uint16_t height) {
    using Real = VoidCookie (*)(Connection *, uint32_t, uint32_t, uint32_t, int16_t, int16_t,
                                int16_t, int16_t, uint16_t, uint16_t);
    static const Real passOn = real<Real>("libxcb.so.1", "xcb_copy_area");
    noteFirstPaint();
    return passOn(c, src, dst, gc, srcX, srcY, dstX, dstY, width, height);
}
}
