// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/GuardedFolders.h"
#include "paths/PathWalk.h"

#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace pellim {

enum class ConsentAnswer { NotDecided, Allowed, Denied };

// "allowed", "denied", "not decided".
QString answerText(ConsentAnswer answer);

// The stored answers, one JSON file per person:
//   { "org.pellim.Pellim": { "documents": "allowed", "desktop": "denied" } }
// The file is read afresh on every question, so a change made by another process
// (pellim-consent) counts at once. A missing, unreadable or damaged file means "no
// answer yet" for every folder; the next change rewrites it whole, keeping the
// entries of other application ids that still parse.
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
        ConsentAnswer answer(GuardedFolder folder) const {
            return answers[static_cast<std::size_t>(folder)];
        }
    };

    // An empty `filePath` means there is nowhere to keep answers: every reading is
    // Refused and every change fails.
    explicit ConsentStore(QString filePath, QString appId = QStringLiteral("org.pellim.Pellim"));

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

    // NotDecided removes the stored answer. On failure `error` (if given) says why;
    // a refused file is left exactly as it is.
    bool setAnswer(GuardedFolder folder, ConsentAnswer answer, QString *error = nullptr);
    bool resetAll(QString *error = nullptr);
    // Adds the folders not recorded yet (same path); the others stay as they are.
    bool record(const std::vector<RecordedFolder> &folders, QString *error = nullptr);
    // Forgets the recorded folder at `path`; false with `error` when none is.
    bool release(const QByteArray &path, QString *error = nullptr);

private:
    template <typename Change> bool rewrite(Change change, QString *error);
    Contents readFresh() const;

    QString m_filePath;
    QString m_appId;
    struct Cached;
    mutable std::shared_ptr<Cached> m_cached;
};

} // namespace pellim
