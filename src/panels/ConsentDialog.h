// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentPrompter.h"
#include "panels/FileDialogs.h"

namespace pellim {

// An application-modal box of the guard's own. Without a QApplication (or off the
// GUI thread, or while the application shuts down) it cannot ask.
class DialogConsentPrompter final : public ConsentPrompter {
public:
    // Shows the box and waits in its event loop for the answer.
    PromptAnswer ask(const ConsentRequest &request) override;
    // Shows the box and returns; `answered` is called on this thread once the
    // person has answered. `placeOver` puts it on top of a window of another
    // process (the guard asks for Pellim), if anything.
    void show(const ConsentRequest &request, const PlaceOver &placeOver, Answered answered);
};

} // namespace pellim
