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

// The options that Qt takes out of the command line as the QApplication is
// made (Qt 6.4's core, GUI, widgets and xcb platform), each with whether it
// takes a value. They are accepted here so that anything else can be refused
// before a QApplication exists: made without a display, that aborts before it
// could tell the person what was wrong.
struct QtOption {
    const char *name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"qmljsdebugger", true}, {"platform", true},     {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},       {"qwindowgeometry", true},
    {"qwindowtitle", true},  {"qwindowicon", true},  {"geometry", true},
    {"title", true},         {"icon", true},         {"session", true},
    {"reverse", false},      {"testability", false}, {"style", true},
    {"stylesheet", true},    {"widgetcount", false}, {"qdevel", false},
    {"qdebug", false},       {"display", true},      {"name", true},
    {"visual", true},        {"nograb", false},      {"dograb", false},
};

struct CommandLine {
    QCommandLineParser parser;
    CommandLine() {
        // Qt's own options are single words after one dash ("-platform xcb").
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
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
        for (const QtOption &qt : kQtOptions) {
            QCommandLineOption option(QString::fromLatin1(qt.name));
            if (qt.takesValue)
                option.setValueName(QStringLiteral("value"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
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
    QString problem;
    if (!line.parser.parse(QCoreApplication::arguments()))
        problem = line.parser.errorText();
    else if (!line.parser.positionalArguments().isEmpty())
        problem = QCoreApplication::translate("pellim::CommandLine", "Unexpected argument '%1'.")
                      .arg(line.parser.positionalArguments().constFirst());
    if (!problem.isEmpty()) {
        print(STDERR_FILENO,
              QStringLiteral("pellim: %1\n").arg(problem) +
                  QCoreApplication::translate("pellim::CommandLine", "Try 'pellim --help'.\n"));
        return kUsage;
    }
    if (line.parser.isSet(QStringLiteral("help"))) {
        print(STDOUT_FILENO, line.parser.helpText());
        return 0;
    }
    if (line.parser.isSet(QStringLiteral("version"))) {
        print(STDOUT_FILENO, QStringLiteral("pellim %1\n").arg(QStringLiteral(PELLIM_VERSION)));
        return 0;
    }
    return std::nullopt; // only Qt's own options, which the QApplication takes
}

} // namespace pellim
