// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/AnswerChanges.h"

namespace pellim {

AnswerChanges::AnswerChanges(ConsentStore &store, LogSink &journal, QString where)
    : m_store(store),
      m_log(journal, QString::fromLatin1(kGuardSubsystem), QStringLiteral("decisions")),
      m_where(std::move(where)) {}

bool AnswerChanges::setAnswer(GuardedFolder folder, ConsentAnswer answer, QString *error) {
    QString why;
    const bool done = m_store.setAnswer(folder, answer, &why);
    if (done)
        m_log.write(LogLevel::Info,
                    QStringLiteral("%1 folder: set to %2 %3")
                        .arg(folderDisplayName(folder), answerText(answer), m_where));
    else
        m_log.write(LogLevel::Error,
                    QStringLiteral("%1 folder: could not be set to %2 %3: %4")
                        .arg(folderDisplayName(folder), answerText(answer), m_where, why));
    if (error)
        *error = why;
    return done;
}

bool AnswerChanges::resetAll(QString *error) {
    // Read just before the change, so the entries name what this reset changed,
    // not what some window last showed.
    const ConsentStore::Contents before = m_store.read();
    QString why;
    const bool done = m_store.resetAll(&why);
    const QString notDecided = answerText(ConsentAnswer::NotDecided);
    if (done) {
        for (GuardedFolder folder : kGuardedFolders) {
            if (before.answer(folder) != ConsentAnswer::NotDecided)
                m_log.write(LogLevel::Info,
                            QStringLiteral("%1 folder: set to %2 %3")
                                .arg(folderDisplayName(folder), notDecided, m_where));
        }
    } else {
        m_log.write(LogLevel::Error, QStringLiteral("All folders: could not be set to %1 %2: %3")
                                         .arg(notDecided, m_where, why));
    }
    if (error)
        *error = why;
    return done;
}

} // namespace pellim
