// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/TestFile.h"

#include <QUuid>

namespace pellim {

QString makeTestFileName() {
    return QStringLiteral("Pellim") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
           QStringLiteral(".txt");
}

} // namespace pellim
