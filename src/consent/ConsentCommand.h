// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QTextStream;

namespace pellim {

class ConsentStore;
class LogSink;

// pellim-consent: lists, sets and resets the stored answers in `store`; each
// change is written to `journal` as Folder Access writes its own. `arguments`
// begins with the program's name. Returns the exit status: 0 done, 1 the store
// could not be written, 2 a usage error.
int runConsentCommand(const QStringList &arguments, ConsentStore &store, LogSink &journal,
                      QTextStream &out, QTextStream &err);

} // namespace pellim
