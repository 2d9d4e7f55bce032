// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/CallReader.h"
#include "confine/Perform.h"
#include "sys/Descriptor.h"
#include "sys/Result.h"

#include <QByteArray>

#include <sys/types.h>

namespace pellim {

// One call a program's preloaded library asked its guard about (AskWire.h),
// read into the form a held call takes.
struct AskedCall {
    HeldRequest request;
    UniqueFd replyTo; // the socket made for this call's answer
    pid_t pid = 0;    // the sending process, as the kernel names it
};

enum class AskedRead {
    Nothing, // none waits, or one came without a reply socket: dropped
    Read,    // `call` holds it
    Refuse,  // not sound: answer `error` on call.replyTo
    Kernel,  // a form the library never asks about: the kernel's answer stands
};

// The socket the program's library asks on: a datagram one, bound at `path`
// in a folder only the program's guard and the program reach, that reads
// without waiting and takes each sender's credentials from the kernel.
[[nodiscard]] Result<UniqueFd> bindAskingSocket(const QByteArray &path);
// Makes a socket the caller bound or was given read without waiting and
// carry each sender's credentials.
[[nodiscard]] bool prepareAskingSocket(int socket);

// Reads one request from `socket` without waiting. Every descriptor that came
// with it and is not used is closed; so is everything of one not sound.
AskedRead readAsked(int socket, AskedCall &call, int *error);

// Answers on `replyTo` without waiting: a reply that cannot go at once (a full
// or closed socket, one that is not a socket) is dropped, the program's loss.
// A call that would go on in the caller answers that the kernel's answer stands.
void sendAsked(int replyTo, Reply &reply);

} // namespace pellim
