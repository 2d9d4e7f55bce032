// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/WindowOwner.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <xcb/res.h>
#include <xcb/xcb.h>

namespace pellim {

bool windowOfProcess(xcb_connection_t *connection, std::uint64_t window, pid_t pid) {
    if (!connection || !window || window > 0xffffffffu || pid <= 0)
        return false;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_res_id);
    if (!extension || !extension->present)
        return false;
    // The extension names the client that owns a resource; any id of a window
    // stands for the client that made it.
    xcb_res_client_id_spec_t spec{xcb_window_t(window), XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    xcb_generic_error_t *error = nullptr;
    const std::unique_ptr<xcb_res_query_client_ids_reply_t, decltype(&std::free)> reply(
        xcb_res_query_client_ids_reply(connection, xcb_res_query_client_ids(connection, 1, &spec),
                                       &error),
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
