// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentPrompter.h"
#include "panels/FileDialogs.h"

#include <functional>

namespace pellim {

// An application-modal box of the guard's own. Without a QApplication (or off the
// GUI thread, or while the application shuts down) it cannot ask.
// `before` runs first at each question and gives what places the box on top of
// a window of another process (the guard asks for Pellim), if anything.
class DialogConsentPrompter final : public ConsentPrompter {
public:
    explicit DialogConsentPrompter(std::function<PlaceOver()> before = {});
    PromptAnswer ask(const ConsentRequest &request) override;

private:
    std::function<PlaceOver()> m_before;
};

} // namespace pellim
