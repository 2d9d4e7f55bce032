// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guard/ConsentPrompter.h"

namespace pellim {

// An application-modal box of the guard's own. Without a QApplication (or off the
// GUI thread, or while the application shuts down) it cannot ask.
class DialogConsentPrompter final : public ConsentPrompter {
public:
    PromptAnswer ask(const ConsentRequest &request) override;
};

} // namespace pellim
