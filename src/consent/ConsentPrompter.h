// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentStore.h"
#include "consent/Program.h"
#include "paths/FolderProtection.h"

#include <QString>

#include <functional>

namespace pellim {

enum class PromptAnswer { Allow, Deny, CannotAsk };

// What the guard asks about: the folder, the kind of access and the path as the
// program named it; or, where `entry` is given, a change in that entry of the
// home's settings places. And which program asks.
struct ConsentRequest {
    GuardedFolder folder = GuardedFolder::Documents;
    FileAccessKind kind = FileAccessKind::Read;
    QString path;
    Program program = pellimProgram({});
    QString entry = {}; // as the person is shown it: "~/.npm"
};

// Asks the person whether an access may go on.
class ConsentPrompter {
public:
    using Answered = std::function<void(PromptAnswer)>;

    virtual ~ConsentPrompter() = default;
    // Asks and waits for the answer: Pellim's own check, where the kernel cannot
    // guard, asks this way.
    virtual PromptAnswer ask(const ConsentRequest &request) = 0;
    // Asks and returns at once; `answered` is called once, on any thread (and
    // possibly before this returns). The guard asks this way from the thread
    // that answers held calls, which must never wait for a window. By default
    // it asks and answers at once.
    virtual void begin(const ConsentRequest &request, Answered answered) { answered(ask(request)); }
};

// "write", "read", "list".
QString accessKindWord(FileAccessKind kind);

// What an answer covers, in the same words wherever answers are given or changed:
// the answer holds for the whole folder, but a choice in a file dialog outranks it.
QString answerScopeText();

// `text` for a window, with each hyphen one that a line never breaks at
// (U+2011, which looks the same): a file name shown in it stays whole, as the
// person has to read or type it.
QString unbrokenAtHyphens(QString text);

// The prompt's texts. The path breaks only after a slash, and the command that
// changes the answer not at all. Pellim's name their folder alone; another
// program's name the program and where it lies, since a name is any file's to
// take.
QString promptText(const ConsentRequest &request);
QString promptInformativeText(const ConsentRequest &request);

} // namespace pellim
