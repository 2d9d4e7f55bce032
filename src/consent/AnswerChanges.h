// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentStore.h"
#include "journal/Log.h"

#include <QString>

namespace pellim {

// A change the person makes to the stored answers, in Folder Access or with
// pellim-consent. It is made in the store, under the store's lock, and written
// to the folder guard's journal handle, one entry per folder changed, in the
// same words wherever the change was made: only `where` tells them apart
// ("in Folder Access", "with pellim-consent"). A change that fails is one error
// entry, with the reason; an unusable answers file the change kept beside the
// new one is an error entry that says where it was kept.
class AnswerChanges {
public:
    AnswerChanges(ConsentStore &store, LogSink &journal, QString where);

    Result<ConsentStore::Stored> setAnswer(GuardedFolder folder, ConsentAnswer answer);
    // Forgets the answer for every folder; an entry for each folder that had one.
    Result<ConsentStore::Stored> resetAll();
    // Stops guarding a folder recorded earlier; one entry when it is released.
    // `shown` is how the folder is named in that entry.
    Result<ConsentStore::Stored> release(const QByteArray &path, const QString &shown);

private:
    void noteKept(const Result<ConsentStore::Stored> &stored) const;

    ConsentStore &m_store;
    LogHandle m_log;
    QString m_where;
};

} // namespace pellim
