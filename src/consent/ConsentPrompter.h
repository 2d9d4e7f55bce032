// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentStore.h"
#include "paths/FolderProtection.h"

#include <QString>

namespace pellim {

enum class PromptAnswer { Allow, Deny, CannotAsk };

// What the guard asks about: the folder, the kind of access and the path as the
// program named it.
struct ConsentRequest {
    GuardedFolder folder = GuardedFolder::Documents;
    FileAccessKind kind = FileAccessKind::Read;
    QString path;
};

// Asks the person whether an access may go on and waits for the answer.
class ConsentPrompter {
public:
    virtual ~ConsentPrompter() = default;
    virtual PromptAnswer ask(const ConsentRequest &request) = 0;
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
// changes the answer not at all.
QString promptText(GuardedFolder folder);
QString promptInformativeText(const ConsentRequest &request);

} // namespace pellim
