// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sys/Descriptor.h"

#include <QByteArray>

#include <utility>
#include <vector>

namespace pellim {

// The guards' windows on screen, counted across every guard of the person's:
// `count` slot files in a folder they share, each taken by one window with an
// exclusive flock. A guard that ends, however it ends, gives its slots back
// with its descriptors; nothing has to be cleaned up after it.
class WindowSlots {
public:
    WindowSlots(QByteArray folder, int count) : m_folder(std::move(folder)), m_count(count) {}

    // Holds `wanted` slots where that many are free, else as many as are;
    // gives back those held beyond it. Returns how many it holds.
    int hold(int wanted);
    // How many every guard holds now, this one included.
    int taken() const;

private:
    UniqueFd open(int slot) const;

    QByteArray m_folder;
    int m_count;
    std::vector<std::pair<int, UniqueFd>> m_held; // slot, its locked file
};

} // namespace pellim
