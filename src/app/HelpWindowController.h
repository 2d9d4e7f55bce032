// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

class QWidget;

namespace Ui {
class HelpWindow;
}

namespace pellim {

// One help window and its controller. Every Help command makes a new one; the
// window is a top-level window of its own, and closing it only hides it.
class HelpWindowController {
public:
    HelpWindowController();
    ~HelpWindowController();
    HelpWindowController(const HelpWindowController &) = delete;
    HelpWindowController &operator=(const HelpWindowController &) = delete;

    QWidget *window() const { return m_window.get(); }

    // Puts the window on screen and in front of the others.
    void showWindow();

private:
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<Ui::HelpWindow> m_ui;
};

} // namespace pellim
