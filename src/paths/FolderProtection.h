// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <chrono>
#include <functional>
#include <optional>

namespace pellim {

struct Walked;

enum class FileAccessKind { Write, Read, List };

// Consulted before every write, read and listing, on what the access will
// actually reach: the walked path, whose descriptors the access then uses. An
// implementation may block (a modal prompt) before it answers.
class FolderProtection {
public:
    virtual ~FolderProtection() = default;
    // Whether the access to `target` may go on. `path` is the path as the
    // program named it (absolute bytes), for what the person is shown.
    virtual bool mayAccess(const Walked &target, const QByteArray &path, FileAccessKind kind) = 0;
    // The person chose this item in a file dialog; a folder covers its subtree.
    virtual void grantChosen(const QByteArray &path, bool isDirectory) = 0;
    // As mayAccess, but never waits for the person: nothing where only they can
    // answer. Then a question is begun, unless one is on screen already (about
    // the same or another folder), and the caller asks again once the observer
    // given to whenAnswered hears that it was answered; so the person sees one
    // question at a time.
    virtual std::optional<bool> mayAccessNow(const Walked &target, const QByteArray &path,
                                             FileAccessKind kind) {
        return mayAccess(target, path, kind);
    }
    // `wake` is called, on whatever thread the answer came, once a question
    // begun by mayAccessNow has been answered; empty: nobody listens any more.
    virtual void whenAnswered(std::function<void()> wake) { (void)wake; }
    // Whether `target` lies in a folder this protection guards: one the kernel
    // did not keep out at the start (named since) is still decided here. Cheap:
    // asked about calls that would otherwise go on.
    virtual bool guards(const Walked &) const { return false; }
    // A change (write, new entry, removal, rename, link, metadata) in the part
    // of the home where programs keep settings and code that runs later: its
    // hidden entries and the entries of the XDG base folders inside it.
    // `entry` is the one such entry the change lies in, as the walk reached it
    // (absolute, resolved: "/home/a/.npm", "/home/a/.config/git"); `path` the
    // path as the program named it. Never waits, as mayAccessNow: nothing
    // while a question is open. The start files (KeptOutPaths::readOnly) never
    // get here: they are refused before. By default the part is read-only.
    virtual std::optional<bool> mayChangeEntryNow(const QByteArray &entry, const QByteArray &path) {
        (void)entry;
        (void)path;
        return false;
    }
    // Entries held back so that repeated decisions fold into one: writes those
    // whose second has ended, and says when the next one ends. Whoever answers
    // the held calls calls it between calls.
    virtual std::optional<std::chrono::steady_clock::time_point> writeEndedEntries() {
        return std::nullopt;
    }
    // Writes every entry held back: the process is about to end.
    virtual void writeHeldEntries() {}
};

// Everything may go on: the right choice where the operating system guards
// user folders itself.
class UnguardedProtection final : public FolderProtection {
public:
    bool mayAccess(const Walked &, const QByteArray &, FileAccessKind) override { return true; }
    void grantChosen(const QByteArray &, bool) override {}
};

} // namespace pellim
