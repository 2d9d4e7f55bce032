// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentStore.h"
#include "journal/Log.h"

#include <QString>

namespace pellim {

// A change the person makes to the stored answers, in Folder Access or with
// pellim-consent. It is made in the store, under the store's lock, and written
// to the folder guard's journal handle, one entry per answer changed, in the
// same words wherever the change was made: only `where` tells them apart
// ("in Folder Access", "with pellim-consent"). A change that fails is one error
// entry, with the reason; an unusable answers file the change kept beside the
// new one is an error entry that says where it was kept.
//
// The store's program is named at the start of each entry ("sh: Documents
// folder: set to denied …") by `programName`, and its file is the entry's
// PELLIM_PROGRAM, as in the guard's own entries; Pellim's entries, with no
// name given, read as they always have.
class AnswerChanges {
public:
    AnswerChanges(ConsentStore &store, LogSink &journal, QString where, QString programName = {});

    Result<ConsentStore::Stored> setAnswer(GuardedFolder folder, ConsentAnswer answer);
    // `entry` is an absolute path in the home (see ConsentStore::setEntryAnswer).
    Result<ConsentStore::Stored> setEntryAnswer(const QByteArray &entry, ConsentAnswer answer);
    // Forgets the program's answers for every folder and entry; an entry for
    // each that had one.
    Result<ConsentStore::Stored> resetProgram();
    // The same for every program in the file.
    Result<ConsentStore::Stored> resetEveryProgram();
    // Stops guarding a folder recorded earlier; one entry when it is released.
    // `shown` is how the folder is named in that entry.
    Result<ConsentStore::Stored> release(const QByteArray &path, const QString &shown);

private:
    void noteKept(const Result<ConsentStore::Stored> &stored) const;
    // The entries for the answers in `before` that a reset has forgotten.
    void noteReset(const ConsentStore::ProgramAnswers &before, const QString &prefix) const;
    Result<ConsentStore::Stored> changed(Result<ConsentStore::Stored> stored, const QString &what,
                                         ConsentAnswer answer) const;

    ConsentStore &m_store;
    LogSink &m_journal;
    LogHandle m_log; // with the store's program in PELLIM_PROGRAM, unless it is Pellim
    QString m_where;
    QString m_prefix; // "sh: ", or nothing for Pellim
};

// How an entry is shown to the person: with their home as "~" ("~/.npm").
QString shownEntry(const QByteArray &entry);

} // namespace pellim
