#include "app/AppDelegate.h"

#include "app/ActivityWindow.h"
#include "app/HelpWindowController.h"
#include "platform/JournalReader.h"

namespace pellim {

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::openHelp() {
    auto controller = std::make_unique<HelpWindowController>();
    controller->showWindow();
    myHelpWindow.push_back(std::move(controller));
}

void AppDelegate::openActivity() {
    if (!myActivityWindow)
        myActivityWindow = std::make_unique<ActivityWindow>(std::make_unique<SdJournalReader>());
    myActivityWindow->showAndRaise();
}

} // namespace pellim
