#include "app/AppDelegate.h"

#include "app/HelpWindowController.h"

namespace pellim {

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::openHelp() {
    auto controller = std::make_unique<HelpWindowController>();
    controller->showWindow();
    myHelpWindow.push_back(std::move(controller));
}

} // namespace pellim
