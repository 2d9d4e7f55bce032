// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <vector>

namespace pellim {

// What the kernel keeps from the confined Pellim, by path as it is at start.
struct KeptOutPaths {
    std::vector<QByteArray> guarded;  // the guard decides every access inside
    std::vector<QByteArray> sealed;   // the guard's own state: no access at all
    std::vector<QByteArray> readOnly; // may be read, never changed, made, removed or replaced
    // The home folder, whose hidden entries and ~/bin are read-only by rule
    // (settings and code that run later live there), except `writable`.
    QByteArray home = {};
    std::vector<QByteArray> writable = {}; // in the home's read-only part, yet written
    // The XDG config, data, state and cache folders where they lie in the home:
    // each of their entries is a place of its own (FolderProtection::mayChangeEntryNow).
    std::vector<QByteArray> bases = {};
    // The folders kept out of reach: guarded and sealed.
    std::vector<QByteArray> keptOut() const {
        std::vector<QByteArray> both = guarded;
        both.insert(both.end(), sealed.begin(), sealed.end());
        return both;
    }
};

} // namespace pellim
