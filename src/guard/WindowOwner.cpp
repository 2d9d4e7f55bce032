// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/WindowOwner.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <poll.h>
#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace pellim {

namespace {

// How long the server may take to answer: any client, Pellim's too, may grab
// the server and hold every other client's requests for as long as it likes.
constexpr std::chrono::milliseconds kPatience{1000};

// The reply to request `sequence`, or nothing once kPatience has passed. Qt's
// own thread may read the connection meanwhile, so the wait looks again every
// few milliseconds rather than trusting the descriptor alone.
void *replyWithin(xcb_connection_t *connection, unsigned sequence, xcb_generic_error_t **error) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + kPatience;
    xcb_flush(connection);
    void *reply = nullptr;
    while (!xcb_poll_for_reply(connection, sequence, &reply, error)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || xcb_connection_has_error(connection)) {
            xcb_discard_reply(connection, sequence);
            return nullptr;
        }
        pollfd ready{xcb_get_file_descriptor(connection), POLLIN, 0};
        ::poll(&ready, 1, int(std::min<long long>(left.count(), 10)));
    }
    return reply;
}

} // namespace

bool windowOfProcess(xcb_connection_t *connection, std::uint64_t window, pid_t pid) {
    if (!connection || !window || window > 0xffffffffu || pid <= 0)
        return false;
    // Asked within the bound first: xcb's own look-up, which the request below
    // needs, waits as long as the server makes it.
    const std::unique_ptr<xcb_query_extension_reply_t, decltype(&std::free)> present(
        static_cast<xcb_query_extension_reply_t *>(replyWithin(
            connection,
            xcb_query_extension(connection, std::strlen(xcb_res_id.name), xcb_res_id.name).sequence,
            nullptr)),
        &std::free);
    if (!present || !present->present)
        return false;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_res_id);
    if (!extension || !extension->present)
        return false;
    // The extension names the client that owns a resource; any id of a window
    // stands for the client that made it.
    xcb_res_client_id_spec_t spec{xcb_window_t(window), XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    xcb_generic_error_t *error = nullptr;
    const std::unique_ptr<xcb_res_query_client_ids_reply_t, decltype(&std::free)> reply(
        static_cast<xcb_res_query_client_ids_reply_t *>(replyWithin(
            connection, xcb_res_query_client_ids(connection, 1, &spec).sequence, &error)),
        &std::free);
    std::free(error);
    if (!reply)
        return false;
    for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem;
         xcb_res_client_id_value_next(&ids)) {
        if (!(ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) ||
            xcb_res_client_id_value_value_length(ids.data) != 1)
            continue;
        std::uint32_t owner = 0;
        std::memcpy(&owner, xcb_res_client_id_value_value(ids.data), sizeof owner);
        if (pid_t(owner) == pid)
            return true;
    }
    return false;
}

bool windowOfConnection(xcb_connection_t *connection, std::uint64_t window) {
    const xcb_setup_t *setup = connection ? xcb_get_setup(connection) : nullptr;
    return setup && window <= 0xffffffffu &&
           (std::uint32_t(window) & ~setup->resource_id_mask) == setup->resource_id_base;
}

} // namespace pellim
