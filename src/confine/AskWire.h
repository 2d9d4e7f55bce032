// SPDX-License-Identifier: GPL-3.0-or-later
// How a program's preloaded library asks its guard about a call Landlock
// refused: plain C, so that the library (src/preload, C, no dependencies) and
// the filter read the same numbers.
//
// A program run with its calls held only where Landlock cannot see them
// (CallsHeld::UnseenByLandlock) gets the library in LD_PRELOAD. Its opens,
// makes, removes, renames, links and truncates are not held: they run at the
// kernel's speed, and Landlock refuses those that reach into a guarded folder
// or anywhere no rule covers. Where a call the library wraps fails with
// EACCES, the library makes the same call once more with PELLIM_ASK_MARK in
// its sixth argument, which none of these calls reads. The seccomp filter
// holds exactly the calls so marked, and the guard answers them as it answers
// any held call: it reads them from the caller, walks, decides, asks the
// person where it must, and hands an open's descriptor over. One it lets go
// on meets Landlock's refusal again, which then stands.
//
// The mark is no secret and grants nothing: a call made with it is only held,
// and decided as it would be if every call were held. A call made without it
// (a raw syscall, a statically linked program) keeps Landlock's refusal.
#ifndef PELLIM_ASK_WIRE_H
#define PELLIM_ASK_WIRE_H

// "PELLIMAS", in the sixth argument register.
#define PELLIM_ASK_MARK 0x50454c4c494d4153ULL

#endif
