// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

namespace pellim {

class Alert {
public:
    virtual ~Alert() = default;
    // A modal critical alert with one "OK" button; returns once dismissed.
    virtual void showCritical(QWidget *parent, const QString &message,
                              const QString &informativeText) = 0;
};

class QtAlert final : public Alert {
public:
    void showCritical(QWidget *parent, const QString &message,
                      const QString &informativeText) override;
};

} // namespace pellim
