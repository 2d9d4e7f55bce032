// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/AnswerChanges.h"

namespace pellim {

AnswerChanges::AnswerChanges(ConsentStore &store, LogSink &journal, QString where)
    : m_store(store),
      m_log(journal, QString::fromLatin1(kGuardSubsystem), QStringLiteral("decisions")),
      m_where(std::move(where)) {}

void AnswerChanges::noteKept(const Result<ConsentStore::Stored> &stored) const {
    if (stored && !stored->kept.isEmpty())
        m_log.write(LogLevel::Error,
                    keptEntry(m_store.filePath(), stored->kept,
                              QStringLiteral("before the change %1").arg(m_where)));
}

Result<ConsentStore::Stored> AnswerChanges::setAnswer(GuardedFolder folder, ConsentAnswer answer) {
    Result<ConsentStore::Stored> stored = m_store.setAnswer(folder, answer);
    noteKept(stored);
    if (stored)
        m_log.write(LogLevel::Info,
                    QStringLiteral("%1 folder: set to %2 %3")
                        .arg(folderDisplayName(folder), answerText(answer), m_where));
    else
        m_log.write(LogLevel::Error, QStringLiteral("%1 folder: could not be set to %2 %3: %4")
                                         .arg(folderDisplayName(folder), answerText(answer),
                                              m_where, stored.failure().text()));
    return stored;
}

Result<ConsentStore::Stored> AnswerChanges::resetAll() {
    // Read just before the change, so the entries name what this reset changed,
    // not what some window last showed.
    const ConsentStore::Contents before = m_store.read();
    Result<ConsentStore::Stored> stored = m_store.resetProgram();
    noteKept(stored);
    const QString notDecided = answerText(ConsentAnswer::NotDecided);
    if (stored) {
        for (GuardedFolder folder : kGuardedFolders) {
            if (before.answer(folder) != ConsentAnswer::NotDecided)
                m_log.write(LogLevel::Info,
                            QStringLiteral("%1 folder: set to %2 %3")
                                .arg(folderDisplayName(folder), notDecided, m_where));
        }
    } else {
        m_log.write(LogLevel::Error, QStringLiteral("All folders: could not be set to %1 %2: %3")
                                         .arg(notDecided, m_where, stored.failure().text()));
    }
    return stored;
}

Result<ConsentStore::Stored> AnswerChanges::release(const QByteArray &path, const QString &shown) {
    Result<ConsentStore::Stored> released = m_store.release(path);
    if (!released)
        return released;
    if (!released->kept.isEmpty())
        m_log.write(LogLevel::Error, keptEntry(m_store.filePath(), released->kept,
                                               QStringLiteral("before a release %1").arg(m_where)));
    m_log.write(LogLevel::Info,
                QStringLiteral("%1: released %2; no longer guarded").arg(shown, m_where));
    return released;
}

} // namespace pellim
