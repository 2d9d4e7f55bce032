#!/usr/bin/env python3
"""The end-to-end cases, by suite. Run through the *.test.sh files beside this one.
A case that leaves pellim running ends it with Ctrl+Q (see Case.finish)."""

import json
import os
import re
import resource
import sys

from e2e import APP_ID, GUARD_ID, E, I, check, encoded, main, messages

TEST_NAME = re.compile(r"Pellim[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\.txt")
TEST_TEXT_BYTES = 686


def make_file(path, data=b"A short note for the reading tests.\nIts second line.\n"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def check_write(c, target, ok, before, in_folder=False, leftover_ok=False):
    """Checks a write's entries, then the file, or the alert and that no file is left.
    With `in_folder`, `target` is a folder and the file must get a fresh test name."""
    path = target
    if in_folder:
        prefix = "Pellim: trying to write to: " + encoded(target, folder=True)
        entries = c.wait_for_entries("\"trying to write to: \"", lambda es: len(messages(es)) > len(c.seen) + 1)
        first = messages(entries)[len(c.seen) + 1][1]
        check(first.startswith(prefix) and TEST_NAME.fullmatch(first[len(prefix):]),
              "not a fresh test file in %s: %r" % (target, first))
        path = os.path.join(target, first[len(prefix):])
    enc = encoded(path)
    c.expect((I, "trying to write to: " + enc), (I, "wrote to: " + enc) if ok else (E, "couldn't write to: " + enc))
    if ok:
        with open(path, "rb") as f:
            data = f.read()
        check(len(data) == TEST_TEXT_BYTES and all(32 <= b < 127 for b in data),
              "%s holds %d bytes, want %d of printable ASCII" % (path, len(data), TEST_TEXT_BYTES))
    else:
        c.dismiss_alert(before)
        check(leftover_ok or not os.path.exists(path), "a file was left at %s" % path)
    return path


def check_read(c, path, ok=True, folder=None):
    """Checks a read's entries; with `folder`, the listing that picked the file comes first."""
    enc = encoded(path)
    listing = [(I, "trying to list files in " + folder), (I, "trying to look in %s for text files" % folder)] \
        if folder else []
    c.expect(*listing, (I, "trying to read from: " + enc),
             (I, "read from: " + enc) if ok else (E, "couldn't read from: " + enc))


def check_documents_unreadable(c):
    c.expect((I, "trying to list files in " + c.docs), (E, "couldn't get contents of " + c.docs))


# --- launch and closing -------------------------------------------------------------------------


def launch(c):
    c.start()
    e = next(e for e in c.entries() if e.get("MESSAGE") == "Pellim: opened")
    for field, value in (("PRIORITY", I), ("SYSLOG_IDENTIFIER", "pellim"), ("SUBSYSTEM", APP_ID),
                         ("CATEGORY", "general")):
        check(e.get(field) == value, "%s is %r, want %r" % (field, e.get(field), value))
    check(not [k for k in e if k.startswith("CODE_")], "source location fields in the entry: %r" % sorted(e))


def close_window(c):
    c.start()
    c.key("alt+F4")  # openbox closes the active window politely (WM_DELETE_WINDOW)
    check(c.wait_exit() == 0, "exit status %s after closing the window" % c.proc.returncode)
    c.seen = [(I, "closing")]
    c.expect(settled=True)


# --- the six tests: through a dialog, each to success and to failure, and by consent ------------


def save_with_dialog(c, ok):
    # A space, a percent sign and a format directive: escaped in the entries, plain on disk.
    target = os.path.join(c.docs, "e2e note 100% %s.txt") if ok else os.path.join(c.root, "missing", "x.txt")
    check_write(c, target, ok, c.run_test("ctrl+1", target))


def save_into_chosen_folder(c, ok):
    folder = c.downloads if ok else "/proc"  # nobody, root included, may create a file in /proc
    check_write(c, folder, ok, c.run_test("ctrl+2", folder), in_folder=True)


def open_file(c, path, ok):
    c.run_test("ctrl+4", path)
    check_read(c, path, ok)


def open_with_dialog(c, ok):
    # Not UTF-8: a lead byte followed by a byte that cannot continue it.
    data = b"A note\n" if ok else b"good start \xc3\x28 bad end\n"
    open_file(c, make_file(os.path.join(c.docs, "notes 100% %n.txt"), data), ok)


def open_from_chosen_folder(c, ok):
    folder = os.path.join(c.root, "picked folder")
    path = make_file(os.path.join(folder, "a.txt" if ok else ".hidden.txt"))
    c.run_test("ctrl+6", folder)
    if ok:
        check_read(c, path, folder=folder)
    else:
        c.expect((I, "trying to list files in " + folder), (E, "no files found in " + encoded(folder, folder=True)))


# How the guard learns the answer: pellim-consent arguments, the key for its prompt,
# whether access follows, and the guard's decision entry.
CONSENT = {
    "stored_allow": (("allow", "documents"), None, True, "stored: allowed"),
    "stored_deny": (("deny", "documents"), None, False, "stored: denied"),
    "prompt_allow": (("reset", "all"), "alt+a", True, "asked: allowed"),
    "prompt_deny": (("reset", "all"), "Escape", False, "asked: denied"),
}


def by_consent(c, writing, how):
    args, prompt, ok, decision = CONSENT[how]
    path = make_file(os.path.join(c.docs, "only.txt"))
    c.consent(*args)
    before = c.run_test("ctrl+3" if writing else "ctrl+5", prompt=prompt)
    if writing:
        check_write(c, c.docs, ok, before, in_folder=True)
    elif ok:
        check_read(c, path, folder=c.docs)
    else:
        check_documents_unreadable(c)
    entries = c.wait_for_entries("the guard's decision \"%s\"" % decision, lambda es: any(
        e.get("SUBSYSTEM") == GUARD_ID and decision in e["MESSAGE"] for e in es))
    check(all(e.get("CATEGORY") == "decisions" for e in entries if e.get("SUBSYSTEM") == GUARD_ID),
          "a guard entry outside the category \"decisions\"")
    if prompt:
        stored = [line for line in c.consent("list").splitlines() if line.startswith("documents")]
        check(stored and decision.split()[-1] in stored[0], "the answer was not stored: %r" % stored)


# --- bad input and faults -----------------------------------------------------------------------


def file_size_limit(c):
    # Past the limit the write fails like any other, and SIGXFSZ does not end pellim.
    # The write goes straight to the target, so what fitted under the limit stays.
    c.consent("allow", "documents")
    c.start(limits={resource.RLIMIT_FSIZE: 100})
    path = check_write(c, c.docs, False, c.run_test("ctrl+3"), in_folder=True, leftover_ok=True)
    check(not os.path.exists(path) or os.path.getsize(path) <= 100, "more than the limit was written")


def disk_full(c):
    check_write(c, "/dev/full", False, c.run_test("ctrl+1", "/dev/full", replace=True), leftover_ok=True)


def open_fifo(c):
    # A FIFO with no writer: a read that waited for one would hang here.
    os.mkfifo(os.path.join(c.docs, "pipe.txt"))
    open_file(c, os.path.join(c.docs, "pipe.txt"), False)


def control_characters_in_names(c):
    # The journal keeps the plain form byte for byte; the encoded form escapes them.
    c.use_documents(os.path.join(c.home, "Docs\tx\x1b[2Jy"))
    path = make_file(os.path.join(c.docs, "line\nbreak.txt"))
    c.consent("allow", "documents")
    c.run_test("ctrl+5")
    check_read(c, path, folder=c.docs)


def no_journal(c, socket_setup):
    """Without a journal every entry is one line on standard error, control characters escaped."""
    c.use_documents(os.path.join(c.home, "Docs\tx\x1b[2Jy\rz"))
    make_file(os.path.join(c.docs, "only.txt"))
    c.consent("allow", "documents")
    c.start(wrap="mount -t tmpfs tmpfs /run/systemd/journal\n" + socket_setup, journal=False)
    c.run_test("ctrl+5")
    docs, enc = c.home + "/Docs\\tx\\x1b[2Jy\\rz", encoded(os.path.join(c.docs, "only.txt"))
    want = [("info", "Pellim: " + text) for text in ("opened", "trying to list files in " + docs,
            "trying to look in %s for text files" % docs, "trying to read from: " + enc, "read from: " + enc)]
    c.wait_for("the entries on standard error", lambda: c.output_lines() == want)
    c.finish(journal=False)
    check(c.output_lines() == want, "standard error lines: %r" % c.output_lines())
    with open(c.output, "rb") as f:
        raw = f.read()
    check(not any(ch in raw for ch in b"\t\x1b\r"), "a raw control character on standard error")
    check(c.entries() == [], "entries reached the journal although it was hidden")


def damaged_store(c):
    # A damaged answers file counts as no answer: the guard asks, and the answer rewrites the file whole.
    make_file(c.state_file, b'{"org.pellim.Pellim": {"documents": "allow\xff')
    check_write(c, c.docs, True, c.run_test("ctrl+3", prompt="alt+a"), in_folder=True)
    with open(c.state_file) as f:
        stored = json.load(f)
    check(stored.get(APP_ID, {}).get("documents") == "allowed", "the store holds %r" % stored)


def missing_documents_folder(c):
    os.rmdir(c.docs)
    c.consent("allow", "documents")
    c.run_test("ctrl+5")
    check_documents_unreadable(c)
    check_write(c, c.docs, False, c.run_test("ctrl+3"), in_folder=True)
    check(not os.path.exists(c.docs), "the write made the missing folder")


def read_only_folder(c):
    # Permission bits do not stop root; a read-only mount stops everyone.
    c.consent("allow", "documents")
    c.start(wrap="mount --bind '%s' '%s'\nmount -o remount,bind,ro '%s'\n" % (c.docs, c.docs, c.docs))
    check_write(c, c.docs, False, c.run_test("ctrl+3"), in_folder=True)


def both(fn):
    return [(fn.__name__, fn, True), (fn.__name__ + "_fails", fn, False)]


def consent_cases(writing):
    return [("%s_consent_%s" % ("save" if writing else "open", how), by_consent, writing, how) for how in CONSENT]


SUITES = {  # (name, function, its arguments after the case)
    "launch": [("launch_then_ctrl_q", launch), ("close_window", close_window)],
    "writing": both(save_with_dialog) + both(save_into_chosen_folder) + consent_cases(True),
    "reading": both(open_with_dialog) + both(open_from_chosen_folder) + consent_cases(False),
    "faults": [(fn.__name__, fn) for fn in (file_size_limit, disk_full, open_fifo, control_characters_in_names,
                                            damaged_store, missing_documents_folder, read_only_folder)]
    + [("open_endless_device", open_file, "/dev/zero", False),  # never ends: refused, not read
       ("no_journal_daemon", no_journal, ""),
       ("journal_socket_without_daemon", no_journal, "python3 -c 'import socket; socket.socket("
        "socket.AF_UNIX, socket.SOCK_DGRAM).bind(\"/run/systemd/journal/socket\")'\n")],
}

if __name__ == "__main__":
    sys.exit(main(sys.argv, SUITES))
