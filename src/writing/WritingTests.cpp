// Skeleton: replaced by the writing-tests work.
#include "controller/ViewController.h"

namespace pellim {

void ViewController::writeTestFile(const FileUrl &) {}
void ViewController::showWriteFailureAlert(const QString &) {}
void ViewController::doSaveIntent() {}
void ViewController::doSaveToFolder() {}
void ViewController::doSaveConsent() {}

} // namespace pellim
