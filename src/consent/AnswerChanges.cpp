// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/AnswerChanges.h"

#include "consent/UserFolders.h"

#include <QFile>

#include <climits>
#include <cstdlib>

namespace pellim {

namespace {

QString folderWords(GuardedFolder folder) {
    return QStringLiteral("%1 folder").arg(folderDisplayName(folder));
}

// The prefix of a program's entries: its name, or nothing for Pellim.
QString prefixFor(const QString &name) {
    return name.isEmpty() ? QString() : name + QStringLiteral(": ");
}

// The entries about a program's answers carry its file, as the guard's own
// entries for it do; Pellim's are as they always were.
LogHandle handleFor(LogSink &journal, const QString &id) {
    LogFields fields;
    if (id != QLatin1String(kAppId))
        fields.emplace_back("PELLIM_PROGRAM", id);
    return LogHandle(journal, QString::fromLatin1(kGuardSubsystem), QStringLiteral("decisions"),
                     std::move(fields));
}

} // namespace

QString shownEntry(const QByteArray &entry) {
    // The entry is resolved, the home as HOME spells it need not be: both count.
    QByteArray home = homeFolder();
    while (home.size() > 1 && home.endsWith('/'))
        home.chop(1);
    char resolved[PATH_MAX];
    const QByteArray real = ::realpath(home.constData(), resolved) ? QByteArray(resolved) : home;
    for (const QByteArray &base : {home, real})
        if (base.size() > 1 && entry.startsWith(base + '/'))
            return QStringLiteral("~") + QFile::decodeName(entry.mid(base.size()));
    return QFile::decodeName(entry);
}

AnswerChanges::AnswerChanges(ConsentStore &store, LogSink &journal, QString where,
                             QString programName)
    : m_store(store), m_journal(journal), m_log(handleFor(journal, store.appId())),
      m_where(std::move(where)), m_prefix(prefixFor(programName)) {}

void AnswerChanges::noteKept(const Result<ConsentStore::Stored> &stored) const {
    if (stored && !stored->kept.isEmpty())
        m_log.write(LogLevel::Error,
                    keptEntry(m_store.filePath(), stored->kept,
                              QStringLiteral("before the change %1").arg(m_where)));
}

Result<ConsentStore::Stored> AnswerChanges::changed(Result<ConsentStore::Stored> stored,
                                                    const QString &what,
                                                    ConsentAnswer answer) const {
    noteKept(stored);
    if (stored)
        m_log.write(
            LogLevel::Info,
            QStringLiteral("%1%2: set to %3 %4").arg(m_prefix, what, answerText(answer), m_where));
    else
        m_log.write(LogLevel::Error,
                    QStringLiteral("%1%2: could not be set to %3 %4: %5")
                        .arg(m_prefix, what, answerText(answer), m_where, stored.failure().text()));
    return stored;
}

Result<ConsentStore::Stored> AnswerChanges::setAnswer(GuardedFolder folder, ConsentAnswer answer) {
    return changed(m_store.setAnswer(folder, answer), folderWords(folder), answer);
}

Result<ConsentStore::Stored> AnswerChanges::setEntryAnswer(const QByteArray &entry,
                                                           ConsentAnswer answer) {
    return changed(m_store.setEntryAnswer(entry, answer), shownEntry(entry), answer);
}

void AnswerChanges::noteReset(const ConsentStore::ProgramAnswers &before,
                              const QString &prefix) const {
    const LogHandle log = handleFor(m_journal, before.id);
    const QString notDecided = answerText(ConsentAnswer::NotDecided);
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i)
        if (before.answers[i] != ConsentAnswer::NotDecided)
            log.write(LogLevel::Info,
                      QStringLiteral("%1%2: set to %3 %4")
                          .arg(prefix, folderWords(kGuardedFolders[i]), notDecided, m_where));
    for (const auto &[entry, answer] : before.entries)
        log.write(LogLevel::Info, QStringLiteral("%1%2: set to %3 %4")
                                      .arg(prefix, shownEntry(entry), notDecided, m_where));
}

Result<ConsentStore::Stored> AnswerChanges::resetProgram() {
    // Read just before the change, so the entries name what this reset changed,
    // not what some window last showed.
    const ConsentStore::Contents before = m_store.read();
    Result<ConsentStore::Stored> stored = m_store.resetProgram();
    noteKept(stored);
    if (stored)
        noteReset({m_store.appId(), {}, before.answers, before.entries}, m_prefix);
    else
        m_log.write(LogLevel::Error, QStringLiteral("%1All folders: could not be set to %2 %3: %4")
                                         .arg(m_prefix, answerText(ConsentAnswer::NotDecided),
                                              m_where, stored.failure().text()));
    return stored;
}

Result<ConsentStore::Stored> AnswerChanges::resetEveryProgram() {
    const std::vector<ConsentStore::ProgramAnswers> before = m_store.programs();
    Result<ConsentStore::Stored> stored = m_store.resetEveryProgram();
    noteKept(stored);
    if (stored) {
        for (const ConsentStore::ProgramAnswers &program : before)
            noteReset(program, program.isPellim() ? QString() : prefixFor(program.name));
    } else {
        m_log.write(LogLevel::Error, QStringLiteral("Every program: could not be set to %1 %2: %3")
                                         .arg(answerText(ConsentAnswer::NotDecided), m_where,
                                              stored.failure().text()));
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
