// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sys/Descriptor.h"
#include "sys/Result.h"

#include <QByteArray>

namespace pellim {

// A unix socket of `type` (SOCK_STREAM, SOCK_DGRAM, ...; SOCK_CLOEXEC is
// added) bound at `path`, which must not exist. A stream socket also listens.
[[nodiscard]] Result<UniqueFd> bindLocalSocket(const QByteArray &path, int type);

} // namespace pellim
