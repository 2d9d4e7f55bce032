// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentPrompter.h"
#include "consent/ConsentStore.h"
#include "consent/Program.h"
#include "consent/RunningGrants.h"
#include "journal/EntryFolding.h"
#include "journal/Log.h"
#include "paths/FolderProtection.h"
#include "paths/PathWalk.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include <sys/stat.h>
#include <vector>

namespace pellim {

// `path` made absolute and resolved the way the kernel resolves it, for what a
// person is shown; the guard itself never decides on this text.
QString resolvePath(const QString &path);

// The folder as the desktop names it now: userFolderLocation (UserFolders.h) as text.
QString userFolderPath(GuardedFolder folder);

struct GuardedLocation {
    GuardedFolder folder;
    QByteArray path; // as the desktop names it
    // What it was when taken, if it existed: a link or a bind mount cannot
    // disguise it, and a move keeps it guarded.
    std::optional<FileIdentity> identity;
};

// The folders the settings name right now, those that do not exist yet
// included: a folder made later under that name is guarded too. The home
// folder itself is left out.
std::vector<GuardedLocation> guardedLocations();

// The folders a guard keeps, which only grow while it runs: those the settings
// named when it started, those recorded in its state at earlier starts (until
// the person releases one), and any the settings name since. Rewriting the
// settings file frees nothing.
class GuardedSet {
public:
    explicit GuardedSet(const ConsentStore &store);
    GuardedSet(GuardedSet &&) = default;
    const std::vector<GuardedLocation> &locations() const { return m_locations; }
    // If the settings file changed since the last look, takes in the folders it
    // names now that the set lacks, and returns them.
    std::vector<GuardedLocation> refresh();
    // The innermost kept folder that `target` lies in or is, by what each was
    // when taken or by what its name reaches now; its identity is then the
    // folder that decides.
    std::optional<GuardedLocation> keeping(const Walked &target) const;

private:
    void take(std::vector<GuardedLocation> found, std::vector<GuardedLocation> *added);
    // What a location's name reaches now. Kept while nothing on the way to it
    // changes (inotify on each folder of its path), since the guard asks this
    // about calls that would otherwise go on at once.
    void forgetIfChanged() const;
    NamedPlace placeOf(std::size_t index) const;
    bool watchWay(const QByteArray &path) const;

    std::vector<GuardedLocation> m_locations;
    UniqueFd m_watches;
    mutable std::vector<std::optional<NamedPlace>> m_places;
    struct stat m_settings {};
    bool m_settingsThere = false;
};

// Stands in for a system guard over the person's own folders. An access whose
// target lies in a guarded folder goes on if the person chose it in a file dialog
// or allowed that folder; a folder without a stored answer is asked about, and the
// answer is stored. Each decision is one journal entry of the guard's own.
//
// In the guard, two threads use it: the one that answers held calls decides
// (mayAccessNow, guards), and the GUI thread grants what the dialogs chose and
// hears the person's answers. Every public member takes one mutex, held for
// what is in memory and the answers file (the guard's own, in its sealed
// folder) only, never while a question is asked: so neither thread ever waits
// for the other's windows, and a choice is granted before the dialog's reply
// goes back to Pellim, which may open the file at once.
//
// It answers for one program (`program`): its answers are that program's, and
// its entries carry PELLIM_PROGRAM=<the program's path>; another program's
// begin with its name ("npm: Documents folder, …"), Pellim's are as they ever
// were.
class FolderGuard final : public FolderProtection {
public:
    FolderGuard(LogSink &sink, ConsentPrompter &prompter, Program program = runningPellim(),
                QString storePath = ConsentStore::defaultPath());

    // Asks, and waits for, the person where needed: for one thread alone.
    bool mayAccess(const Walked &target, const QByteArray &path, FileAccessKind kind) override;
    void grantChosen(const QByteArray &path, bool isDirectory) override;
    // Never waits: where only the person can answer, the question is begun
    // (ConsentPrompter::begin) unless one is open, and nothing is returned. Once
    // it is answered, the answer is stored and the observer of whenAnswered
    // told; the call that asked then gets the person's answer, the others what
    // is stored.
    std::optional<bool> mayAccessNow(const Walked &target, const QByteArray &path,
                                     FileAccessKind kind) override;
    void whenAnswered(std::function<void()> wake) override;
    bool guards(const Walked &target) const override;
    // Another program's change in the home's settings places: its stored answer
    // for `entry`, else a question, begun as in mayAccessNow, whose answer is
    // stored for the program and the entry. Pellim's are refused without a
    // question or an entry: that part of its home is read-only by rule.
    std::optional<bool> mayChangeEntryNow(const QByteArray &entry, const QByteArray &path) override;
    // Allowed decisions from a stored answer or a dialog's choice fold
    // (EntryFolding); denials and questions never do.
    std::optional<std::chrono::steady_clock::time_point> writeEndedEntries() override;
    void writeHeldEntries() override;

    // An item chosen in a file dialog in this run that opens `folder`, or a
    // part of it, until Pellim quits, for Folder Access.
    struct ChosenIn {
        QString path;             // as the walk resolved it, for the person
        bool wholeFolder = false; // the folder itself was chosen
    };
    // The choices in force in the folder with this identity, oldest first: the
    // folder itself and whatever lies inside it. A folder chosen around it
    // opens none of it. Safe from any thread: it copies under m_mutex.
    std::vector<ChosenIn> grantsIn(FileIdentity folder) const;
    // Every choice in force, oldest first, for the other processes that show
    // them (RunningGrants). Safe from any thread.
    std::vector<ChosenItem> chosenItems() const;
    // Takes back every choice made as `path` (as chosenItems names it): the
    // program's next call there is decided as if it had never been chosen;
    // what it opened meanwhile stays open. `how` ends the entry ("in Folder
    // Access"). False when nothing was chosen there. Safe from any thread.
    bool revokeChosen(const QByteArray &path, const QString &how);
    // Adds an observer, called after each grant and revoke on the thread that
    // made it (an owner passes it on to the window's thread).
    void onGrant(std::function<void()> changed);

private:
    // The one question on screen, or answered and not yet taken by its call.
    struct Question {
        std::uint64_t serial = 0;
        QByteArray entry; // a change in this entry of the home; empty: a folder's question
        GuardedLocation location;
        FileAccessKind kind = FileAccessKind::Read;
        QByteArray path;
        bool exists = false;
        FileIdentity identity; // what was asked about: the call that asked is
        FileIdentity folder;   // the one that names the same object again
        QByteArray name;
        QString notDecided; // why stored answers were not used, if any
        std::optional<PromptAnswer> answer;
        QString stored; // what became of the answer in the store
    };

    // A chosen folder covers its subtree, except the guarded folders inside it:
    // choosing the home is not choosing Documents. A chosen file is that file,
    // or, for a file the Save dialog named that does not exist yet, that name in
    // that folder.
    struct Grant {
        FileIdentity identity;
        bool isDirectory = false;
        bool exists = true;
        FileIdentity folder;
        QByteArray name;
        QByteArray display;              // for entries and Folder Access only
        std::vector<FileIdentity> chain; // the folders above it, for grantsIn
    };
    struct Chosen {
        bool granted = false;
        // A chosen folder that holds the target's guarded folder, which keeps
        // its own answer; for the entry that says so.
        QByteArray around;
    };
    Chosen chosenFor(const Walked &target, FileIdentity guarded) const;
    // Decides from what is known; nothing when only the person can answer.
    std::optional<bool> known(const Walked &target, const QByteArray &path, FileAccessKind kind);
    void record(bool allowed, const GuardedLocation &location, FileAccessKind kind,
                const QByteArray &path, const Walked &target, QString how, bool foldable = false);
    // Why stored answers that are there are not used: "" when none is ignored.
    QString notDecidedText() const;
    // Makes `question` the one open and shows it, the lock let go meanwhile.
    void ask(Question question, const ConsentRequest &request, std::unique_lock<std::mutex> &lock);
    void answered(std::uint64_t serial, PromptAnswer answer);
    // The person's answer, when `target` is the call whose question it answers.
    std::optional<bool> answerFor(const Walked &target, const QByteArray &path,
                                  FileAccessKind kind);

    std::optional<bool> entryAnswerFor(const QByteArray &entry, const QByteArray &path);
    void recordEntry(bool allowed, const QByteArray &entry, const QByteArray &path,
                     const QString &how);
    // `text` as this program's entry: Pellim's as it is, another's after its name.
    QString said(const QString &text) const;
    // A path in the home as the person knows it: "~/.npm".
    QString homeShown(const QByteArray &path) const;

    Program m_program;
    LogHandle m_log;
    EntryFolding m_decisions; // m_log's decisions, repeated ones folded
    QByteArray m_home;        // resolved, as the entries asked about are
    ConsentPrompter &m_prompter;
    ConsentStore m_store;
    // Pellim's own: the guarded folders recorded in it are the guard's, whichever
    // program it answers for.
    ConsentStore m_records;
    GuardedSet m_set;
    std::vector<Grant> m_grants;
    mutable std::mutex m_mutex;
    std::optional<Question> m_question;
    std::uint64_t m_questions = 0;
    std::function<void()> m_wake;
    std::vector<std::function<void()>> m_granted;
    void tellGranted();
};

} // namespace pellim
