// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one way a function says it failed: the step that failed and the error
// number the system gave (0 where no call failed, such as a malformed file),
// so that every message can say what was being done and why it did not work.

#include "sys/Descriptor.h"

#include <QString>

#include <cassert>
#include <optional>
#include <utility>
#include <variant>

namespace pellim {

struct [[nodiscard]] Failure {
    QString step;  // what was being done: "cannot open /home/a/x"
    int error = 0; // errno, or 0 where the step failed without one

    // "cannot open /home/a/x: Permission denied"; the step alone without an errno.
    QString text() const { return error ? step + QStringLiteral(": ") + errnoText(error) : step; }
};

// A value, or the Failure that kept it from being made. Ignoring one is a
// compile-time warning (an error under -Werror).
template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Failure failure) : m_state(std::move(failure)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T &value() & {
        assert(ok());
        return std::get<0>(m_state);
    }
    const T &value() const & {
        assert(ok());
        return std::get<0>(m_state);
    }
    T &&value() && {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }

    const Failure &failure() const {
        assert(!ok());
        return std::get<1>(m_state);
    }

private:
    std::variant<T, Failure> m_state;
};

// Success that carries no value.
struct Done {};
using Outcome = Result<Done>;

inline Outcome done() {
    return Done{};
}

} // namespace pellim
