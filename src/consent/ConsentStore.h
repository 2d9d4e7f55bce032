// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/GuardedFolders.h"
#include "journal/Log.h"
#include "paths/PathWalk.h"
#include "sys/Result.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace pellim {

enum class ConsentAnswer { NotDecided, Allowed, Denied };

// "allowed", "denied", "not decided".
QString answerText(ConsentAnswer answer);

// The journal's words for a file kept before a change (ConsentStore::Stored::kept):
// "Answers file: /…/folder-access.json could not be used; it was kept as /… <when>".
QString keptEntry(const QString &file, const QString &kept, const QString &when);

// The stored answers, one JSON file per person, keyed by program (Program::id):
//   { "org.pellim.Pellim": { "documents": "allowed", "desktop": "denied" },
//     "/usr/bin/dash": { "name": "sh", "documents": "denied",
//                        "entries": { "/home/a/.npm": "allowed" } } }
// A store answers for one program, but every change keeps the other programs'
// objects as they are. "name" is how the program was last shown, for listing
// it; "entries" holds its answers for places in the home where programs keep
// settings and code, by absolute path.
// The file is read afresh on every question, so a change made by another process
// (pellim-consent) counts at once. A missing, unreadable or damaged file means "no
// answer yet" for every folder; the next change rewrites it whole, keeping the
// entries of other programs that still parse. An unreadable or damaged
// file is first kept beside it, as `folder-access.json.damaged-20261208-013000`
// (or `.unreadable-…`), never over an earlier one: the answers in it are the
// person's, and may be copied back by hand.
//
// The answers let a program into the person's folders, so only a file the person
// could have written counts: the folder holding it (`pellim`) must belong to them
// and be writable by nobody else, and the file must be a regular file of theirs,
// not a link. Anything else is refused: it counts as "no answer yet", and it is
// never written over, so a link planted there cannot redirect a write. Changes go
// to a new file in the same folder that is renamed over the old one, under an
// exclusive lock on `folder-access.lock` beside it, so two writers (Pellim and
// pellim-consent) never lose each other's answer.
class ConsentStore {
public:
    enum class FileState { Missing, Readable, Unreadable, Damaged, Refused };

    // A folder the guard has kept out of Pellim's reach, recorded so that it
    // stays guarded at later starts whatever the settings file then says, until
    // the person releases it.
    struct RecordedFolder {
        GuardedFolder folder;
        QByteArray path; // as the file system spells it
        FileIdentity identity;
        bool operator==(const RecordedFolder &) const = default;
    };

    // One reading of the file: its state and this application's answers.
    struct Contents {
        FileState state = FileState::Missing;
        std::array<ConsentAnswer, 3> answers{}; // indexed like kGuardedFolders
        // Why the file's answers are not used (Unreadable, Damaged, Refused), for
        // the person: "/home/x/.local/state/pellim/folder-access.json is a symbolic link".
        QString problem;
        std::vector<RecordedFolder> recorded;
        // This program's answers for places in the home, by path, sorted.
        std::vector<std::pair<QByteArray, ConsentAnswer>> entries;
        ConsentAnswer answer(GuardedFolder folder) const {
            return answers[static_cast<std::size_t>(folder)];
        }
    };

    // What a change did besides storing: where the unreadable or damaged file
    // it replaced was kept ("/…/folder-access.json.damaged-20261208-013000"),
    // empty when there was none.
    struct Stored {
        QString kept;
    };

    // One program's answers, as listed for the person.
    struct ProgramAnswers {
        QString id;
        QString name; // as stored with them; else Pellim, or the file's name in `id`
        std::array<ConsentAnswer, 3> answers{}; // indexed like kGuardedFolders
        std::vector<std::pair<QByteArray, ConsentAnswer>> entries;
        bool isPellim() const { return id == QLatin1String(kAppId); }
    };

    // An empty `filePath` means there is nowhere to keep answers: every reading is
    // Refused and every change fails. `appId` is the program answered for;
    // `shownName`, when given, is stored with its answers at every change.
    explicit ConsentStore(QString filePath, QString appId = QString::fromLatin1(kAppId),
                          QString shownName = {});

    // $XDG_STATE_HOME/pellim/folder-access.json, with $HOME/.local/state standing in
    // for an unset, empty or relative XDG_STATE_HOME. Empty when neither is an
    // absolute path.
    static QString defaultPath();

    const QString &filePath() const { return m_filePath; }
    const QString &appId() const { return m_appId; }

    // Read afresh whenever the file or its folder has changed since the last
    // reading (identity, mode, owner, change and modification times, size), so
    // that a change by anyone counts at once and an unchanged file is not parsed
    // again at every decision.
    Contents read() const;
    ConsentAnswer answer(GuardedFolder folder) const { return read().answer(folder); }
    // The answer for `entry`, an absolute path in the home.
    ConsentAnswer entryAnswer(const QByteArray &entry) const;

    // Every program with at least one answer for a folder or an entry: Pellim
    // first, then by name. A program whose answers are not a JSON object is left
    // out. Nothing when the file cannot be used.
    std::vector<ProgramAnswers> programs() const;

    // NotDecided removes the stored answer. A refused file is left exactly as it is.
    Result<Stored> setAnswer(GuardedFolder folder, ConsentAnswer answer);
    Result<Stored> setEntryAnswer(const QByteArray &entry, ConsentAnswer answer);
    // This program's answers for folders and entries go; the folders recorded
    // as guarded stay.
    Result<Stored> resetProgram();
    // The same for every program in the file.
    Result<Stored> resetEveryProgram();
    // Adds the folders not recorded yet (same path); the others stay as they are.
    Result<Stored> record(const std::vector<RecordedFolder> &folders);
    // Forgets the recorded folder at `path`; a failure when none is.
    Result<Stored> release(const QByteArray &path);

    // The unreadable or damaged files kept beside the answers file, oldest first.
    QStringList keptFiles() const;

    // `report` is called with a reading once for each problem readings meet
    // (the same problem in a file changed since counts again), the current one
    // included: for the journal, so that a damaged file is one entry, not one
    // per decision.
    void reportProblems(std::function<void(const Contents &)> report);

private:
    template <typename Change> Result<Stored> rewrite(Change change);
    struct Cached;
    std::shared_ptr<const Cached> reading() const;

    QString m_filePath;
    QString m_appId;
    QString m_shownName;
    mutable std::shared_ptr<const Cached> m_cached;
    std::function<void(const Contents &)> m_report;
    mutable QString m_reported; // the problem last reported, with its file's stamp
};

} // namespace pellim
