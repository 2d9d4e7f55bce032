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

// The prompt's texts.
QString promptText(GuardedFolder folder);
QString promptInformativeText(const ConsentRequest &request);

} // namespace pellim
