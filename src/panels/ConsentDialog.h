// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentPrompter.h"

#include <functional>

class QWindow;

namespace pellim {

// An application-modal box of the guard's own. Without a QApplication (or off the
// GUI thread, or while the application shuts down) it cannot ask.
// `before` runs first at each question and names the window the box stays on
// top of (a window of another process: the guard asks for Pellim), if any.
class DialogConsentPrompter final : public ConsentPrompter {
public:
    explicit DialogConsentPrompter(std::function<QWindow *()> before = {});
    PromptAnswer ask(const ConsentRequest &request) override;

private:
    std::function<QWindow *()> m_before;
};

} // namespace pellim
