// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include "l10n/Translations.h"
#include "sys/Descriptor.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <unistd.h>

namespace pellim {

namespace {

constexpr int kUsage = 2;

struct CommandLine {
    QCommandLineParser parser;
    CommandLine() {
        parser.setApplicationDescription(QCoreApplication::translate(
            "pellim::CommandLine",
            "Watch how the system guards your own folders: six tests write or read a file in "
            "your Documents, Desktop or Downloads folder, by intent or by consent, and every "
            "step goes to the systemd journal."));
        // Not addHelpOption(): its --help-all lists Qt's own options, which only
        // a QApplication knows, and that is not made to answer --help. The
        // descriptions are Qt's, so Qt's translations carry them.
        parser.addOption(
            QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                               QCoreApplication::translate(
                                   "QCommandLineParser", "Displays help on commandline options.")));
        parser.addVersionOption();
    }
};

void print(int fd, const QString &text) {
    writeAll(fd, text.toLocal8Bit());
}

} // namespace

std::optional<int> answerCommandLine(int argc, char **argv) {
    if (argc <= 1)
        return std::nullopt; // the usual start pays for nothing here
    int count = argc;
    // Only for the length of this question: the help is written in the
    // person's language, with Qt's own words for the options.
    QCoreApplication app(count, argv);
    installTranslations(app);
    CommandLine line;
    line.parser.parse(QCoreApplication::arguments());
    if (line.parser.isSet(QStringLiteral("help"))) {
        print(STDOUT_FILENO, line.parser.helpText());
        return 0;
    }
    if (line.parser.isSet(QStringLiteral("version"))) {
        print(STDOUT_FILENO, QStringLiteral("pellim %1\n").arg(QStringLiteral(PELLIM_VERSION)));
        return 0;
    }
    // Whatever else there is may be Qt's own, which only the QApplication knows.
    return std::nullopt;
}

std::optional<int> refuseUnknownArguments(const QStringList &arguments) {
    if (arguments.size() <= 1)
        return std::nullopt;
    CommandLine line;
    QString problem;
    if (!line.parser.parse(arguments))
        problem = line.parser.errorText();
    else if (!line.parser.positionalArguments().isEmpty())
        problem = QCoreApplication::translate("pellim::CommandLine", "Unexpected argument '%1'.")
                      .arg(line.parser.positionalArguments().constFirst());
    if (problem.isEmpty())
        return std::nullopt;
    print(STDERR_FILENO,
          QStringLiteral("pellim: %1\n").arg(problem) +
              QCoreApplication::translate("pellim::CommandLine", "Try 'pellim --help'.\n"));
    return kUsage;
}

} // namespace pellim
