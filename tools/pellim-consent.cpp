// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/ConsentCommand.h"
#include "consent/ConsentStore.h"
#include "journal/JournalSink.h"
#include "l10n/Translations.h"
#include "sys/Descriptor.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cerrno>
#include <unistd.h>

using pellim::writeAll;

// The output is gathered and written at the end, so that a failure to write it
// (a full disk, a closed pipe) is seen and turns into a failing exit status
// instead of a listing that silently went nowhere.
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellim-consent"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLIM_VERSION));
    pellim::installTranslations(app);
    pellim::JournalSink journal;
    QString outText;
    QString errText;
    int status;
    {
        QTextStream out(&outText);
        QTextStream err(&errText);
        pellim::ConsentStore store(pellim::ConsentStore::defaultPath());
        status = pellim::runConsentCommand(QCoreApplication::arguments(), store, journal, out, err);
    }
    writeAll(STDERR_FILENO, errText.toUtf8());
    if (!writeAll(STDOUT_FILENO, outText.toUtf8())) {
        const QByteArray message =
            QByteArrayLiteral("pellim-consent: cannot write to standard output: ") +
            pellim::errnoText(errno).toUtf8() + '\n';
        writeAll(STDERR_FILENO, message);
        return status == 0 ? 1 : status;
    }
    return status;
}
