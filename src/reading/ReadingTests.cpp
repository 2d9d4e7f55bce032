// Skeleton: replaced by the reading-tests work.
#include "controller/ViewController.h"

namespace pellim {

bool ViewController::readAndShow(const FileUrl &, bool) { return false; }
void ViewController::pickTextFile(const FileUrl &, PickVariant) {}
void ViewController::doOpenIntent() {}
void ViewController::doOpenConsent() {}
void ViewController::doOpenFolder() {}

} // namespace pellim
