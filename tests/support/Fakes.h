#pragma once

#include "panels/Alert.h"
#include "window/RandomSource.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <vector>

namespace pellim::test {

// Records alerts instead of showing them.
class RecordingAlert final : public Alert {
public:
    struct Shown {
        QString message;
        QString informativeText;
    };
    void showCritical(QWidget *, const QString &message, const QString &informativeText) override {
        shown.push_back({message, informativeText});
    }
    std::vector<Shown> shown;
};

// Hands out the values it was given, then repeats the last one; counts draws.
class SequenceRandomSource final : public RandomSource {
public:
    explicit SequenceRandomSource(std::deque<std::uint64_t> values = {0})
        : m_values(std::move(values)) {}
    std::uint64_t next64() override {
        ++draws;
        if (m_values.size() > 1) {
            const auto v = m_values.front();
            m_values.pop_front();
            return v;
        }
        return m_values.empty() ? 0 : m_values.front();
    }
    int draws = 0;

private:
    std::deque<std::uint64_t> m_values;
};

} // namespace pellim::test
