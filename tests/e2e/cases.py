#!/usr/bin/env python3
"""The end-to-end cases, by suite. Run through the *.test.sh files beside this one."""

import json
import os
import resource
import sys
import time

from e2e import TEST_NAME, TEST_TEXT_BYTES, CaseFailed, check, encoded, expect_messages, guard, main, program

# --- launch and the two ways out ----------------------------------------------------------------


def case_launch(c):
    c.start()
    entries = c.settled_entries(quiet=1.0)
    own = program(entries)
    check(len(own) == 1, "want exactly one program entry after launch, got %r" % [e["MESSAGE"] for e in own])
    e = own[0]
    for field, value in (("MESSAGE", "Pellim: opened"), ("PRIORITY", "6"), ("SYSLOG_IDENTIFIER", "pellim"),
                         ("SUBSYSTEM", "org.pellim.Pellim"), ("CATEGORY", "general")):
        check(e.get(field) == value, "%s is %r, want %r" % (field, e.get(field), value))
    check(not [k for k in e if k.startswith("CODE_")], "source location fields in the entry: %r" % sorted(e))
    check(c.quit() == 0, "Ctrl+Q after launch: exit status %s" % c.proc.returncode)


def case_close_window(c):
    c.start()
    c.focus_main()
    c.key("alt+F4")  # openbox closes the active window politely (WM_DELETE_WINDOW)
    status = c.wait_exit()
    check(status == 0, "exit status %s after closing the window" % status)
    entries = c.settled_entries()
    expect_messages(entries, [("info", "closing")])


def case_quit_with_ctrl_q(c):
    c.start()
    status = c.quit()
    check(status == 0, "exit status %s after Ctrl+Q" % status)
    entries = c.settled_entries()
    expect_messages(entries, [])


# --- writing ----------------------------------------------------------------------------------


def check_test_file(path):
    check(os.path.isfile(path), "no file at %s" % path)
    with open(path, "rb") as f:
        data = f.read()
    check(len(data) == TEST_TEXT_BYTES, "%s holds %d bytes, want %d" % (path, len(data), TEST_TEXT_BYTES))
    check(all(32 <= b < 127 for b in data), "the test file holds bytes beyond printable ASCII")


def written_name(entries, folder):
    """The test file's name from the "trying to write to: " entry for a file in `folder`."""
    prefix = "Pellim: trying to write to: " + encoded(folder, folder=True)
    for e in program(entries):
        m = e["MESSAGE"]
        if m.startswith(prefix) and TEST_NAME.fullmatch(m[len(prefix):]):
            return m[len(prefix):]
    raise CaseFailed("no \"trying to write to: \" entry for a test file in %s: %r"
                     % (folder, [e["MESSAGE"] for e in program(entries)]))


def write_succeeded(c, path):
    enc = encoded(path)
    entries = c.wait_for_entries("\"wrote to: \"", lambda es: program(es, "wrote to: " + enc))
    expect_messages(entries, [("info", "trying to write to: " + enc), ("info", "wrote to: " + enc)])
    check_test_file(path)
    return entries


def write_failed(c, path, before, leftover_ok=False):
    enc = encoded(path)
    c.dismiss_alert(before)
    entries = c.settled_entries()
    # The error comes before the alert, and nothing claims success after it.
    expect_messages(entries, [("info", "trying to write to: " + enc), ("error", "couldn't write to: " + enc)])
    if not leftover_ok:
        check(not os.path.exists(path), "a file was left at %s" % path)
    return entries


def case_save_with_dialog(c):
    c.start()
    # A space, a percent sign and a format directive: escaped in the entries, plain on disk.
    target = os.path.join(c.docs, "e2e note 100% %s.txt")
    before = c.windows()
    c.key("ctrl+1")
    c.answer_file_dialog(target, before)
    write_succeeded(c, target)
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_save_with_dialog_fails(c):
    c.start()
    target = os.path.join(c.root, "no such folder", "x.txt")
    before = c.windows()
    c.key("ctrl+1")
    c.answer_file_dialog(target, before)
    write_failed(c, target, before)
    check(c.quit() == 0, "pellim did not quit after the alert")


def case_save_into_chosen_folder(c):
    c.start()
    before = c.windows()
    c.key("ctrl+2")
    c.answer_file_dialog(c.downloads, before)
    entries = c.wait_for_entries("\"wrote to: \"",
                                 lambda es: any(e["MESSAGE"].startswith("Pellim: wrote to: ") for e in program(es)))
    name = written_name(entries, c.downloads)
    write_succeeded(c, os.path.join(c.downloads, name))
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_save_into_chosen_folder_fails(c):
    # Nobody, root included, may create a file in /proc.
    c.start()
    before = c.windows()
    c.key("ctrl+2")
    c.answer_file_dialog("/proc", before)
    entries = c.wait_for_entries("\"couldn't write to: \"", lambda es: any(
        e["MESSAGE"].startswith("Pellim: couldn't write to: ") for e in program(es)))
    name = written_name(entries, "/proc")
    write_failed(c, os.path.join("/proc", name), before)
    check(c.quit() == 0, "pellim did not quit after the alert")


def save_consent(c, answer_prompt=None, started=False):
    """Ctrl+3 with Documents selected; `answer_prompt` is the key for the guard's prompt."""
    if not started:
        c.start()
    before = c.windows()
    c.key("ctrl+3")
    if answer_prompt:
        prompt = c.new_window("the guard's prompt", before, name="Folder Access")
        c.key(answer_prompt)
        c.window_gone("the prompt to close", prompt)
    entries = c.wait_for_entries("\"trying to write to: \"", lambda es: any(
        e["MESSAGE"].startswith("Pellim: trying to write to: ") for e in program(es)))
    return os.path.join(c.docs, written_name(entries, c.docs)), before


def guard_decision(c, how):
    entries = c.wait_for_entries("the guard's decision \"%s\"" % how,
                                 lambda es: any(how in e["MESSAGE"] for e in guard(es)))
    decisions = [e for e in guard(entries) if how in e["MESSAGE"]]
    check(decisions[0].get("CATEGORY") == "decisions", "the guard's entry is not in category \"decisions\"")


def stored_answer(c, folder):
    for line in c.consent("list").splitlines():
        if line.lower().startswith(folder):
            return line
    raise CaseFailed("pellim-consent list shows no %s line" % folder)


def case_save_consent_stored_allow(c):
    c.consent("allow", "documents")
    path, _ = save_consent(c)
    write_succeeded(c, path)
    guard_decision(c, "stored: allowed")
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_save_consent_stored_deny(c):
    c.consent("deny", "documents")
    path, before = save_consent(c)
    write_failed(c, path, before)
    guard_decision(c, "stored: denied")
    check(c.quit() == 0, "pellim did not quit after the alert")


def case_save_consent_prompt_allow(c):
    c.consent("reset", "all")
    path, _ = save_consent(c, answer_prompt="alt+a")
    write_succeeded(c, path)
    guard_decision(c, "asked: allowed")
    check("allowed" in stored_answer(c, "documents"), "the answer was not stored")
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_save_consent_prompt_deny(c):
    c.consent("reset", "all")
    path, before = save_consent(c, answer_prompt="Escape")
    write_failed(c, path, before)
    guard_decision(c, "asked: denied")
    check("denied" in stored_answer(c, "documents"), "the answer was not stored")
    check(c.quit() == 0, "pellim did not quit after the alert")


# --- reading ----------------------------------------------------------------------------------

SAMPLE = "A short note for the reading tests.\nIts second line.\n"


def make_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def read_succeeded(c, path, expected_before):
    enc = encoded(path)
    entries = c.wait_for_entries("\"read from: \"", lambda es: program(es, "read from: " + enc))
    expect_messages(entries, expected_before + [("info", "trying to read from: " + enc),
                                                ("info", "read from: " + enc)])


def case_open_with_dialog(c):
    path = make_file(os.path.join(c.docs, "notes 100% %n.txt"), SAMPLE.encode())
    c.start()
    before = c.windows()
    c.key("ctrl+4")
    c.answer_file_dialog(path, before)
    read_succeeded(c, path, [])
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_open_with_dialog_fails(c):
    # Not UTF-8: a lead byte followed by a byte that cannot continue it.
    path = make_file(os.path.join(c.docs, "broken.txt"), b"good start \xc3\x28 bad end\n")
    c.start()
    before = c.windows()
    c.key("ctrl+4")
    c.answer_file_dialog(path, before)
    enc = encoded(path)
    entries = c.wait_for_entries("\"couldn't read from: \"", lambda es: program(es, "couldn't read from: " + enc))
    expect_messages(entries, [("info", "trying to read from: " + enc), ("error", "couldn't read from: " + enc)])
    check(c.quit() == 0, "exit status after Ctrl+Q")


def open_consent(c, answer_prompt=None):
    c.start()
    before = c.windows()
    c.key("ctrl+5")
    if answer_prompt:
        prompt = c.new_window("the guard's prompt", before, name="Folder Access")
        c.key(answer_prompt)
        c.window_gone("the prompt to close", prompt)


def consent_read_succeeded(c, path):
    read_succeeded(c, path, [("info", "trying to list files in " + c.docs),
                             ("info", "trying to look in " + c.docs + " for text files")])


def consent_listing_failed(c):
    text = "couldn't get contents of " + c.docs
    entries = c.wait_for_entries("\"%s\"" % text, lambda es: program(es, text))
    expect_messages(entries, [("info", "trying to list files in " + c.docs), ("error", text)])


def case_open_consent_stored_allow(c):
    path = make_file(os.path.join(c.docs, "only.txt"), SAMPLE.encode())
    c.consent("allow", "documents")
    open_consent(c)
    consent_read_succeeded(c, path)
    guard_decision(c, "stored: allowed")
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_open_consent_stored_deny(c):
    make_file(os.path.join(c.docs, "only.txt"), SAMPLE.encode())
    c.consent("deny", "documents")
    open_consent(c)
    consent_listing_failed(c)
    guard_decision(c, "stored: denied")
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_open_consent_prompt_allow(c):
    path = make_file(os.path.join(c.docs, "only.txt"), SAMPLE.encode())
    c.consent("reset", "all")
    open_consent(c, answer_prompt="alt+a")
    consent_read_succeeded(c, path)
    guard_decision(c, "asked: allowed")
    check("allowed" in stored_answer(c, "documents"), "the answer was not stored")
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_open_consent_prompt_deny(c):
    make_file(os.path.join(c.docs, "only.txt"), SAMPLE.encode())
    c.consent("reset", "all")
    open_consent(c, answer_prompt="Escape")
    consent_listing_failed(c)
    guard_decision(c, "asked: denied")
    check("denied" in stored_answer(c, "documents"), "the answer was not stored")
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_open_from_chosen_folder(c):
    folder = os.path.join(c.root, "picked folder")
    path = make_file(os.path.join(folder, "a.txt"), SAMPLE.encode())
    c.start()
    before = c.windows()
    c.key("ctrl+6")
    c.answer_file_dialog(folder, before)
    read_succeeded(c, path, [("info", "trying to list files in " + folder),
                             ("info", "trying to look in " + folder + " for text files")])
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_open_from_chosen_folder_fails(c):
    folder = os.path.join(c.root, "empty folder")
    os.makedirs(folder)
    make_file(os.path.join(folder, ".hidden.txt"), SAMPLE.encode())
    c.start()
    before = c.windows()
    c.key("ctrl+6")
    c.answer_file_dialog(folder, before)
    error = "no files found in " + encoded(folder, folder=True)
    entries = c.wait_for_entries("\"%s\"" % error, lambda es: program(es, error))
    expect_messages(entries, [("info", "trying to list files in " + folder), ("error", error)])
    check(c.quit() == 0, "exit status after Ctrl+Q")


# --- bad input and faults ---------------------------------------------------------------------


def case_file_size_limit(c):
    # A write past the file-size limit fails like any other; the process is not
    # killed by SIGXFSZ.
    c.consent("allow", "documents")
    c.start(limits={resource.RLIMIT_FSIZE: 100})
    path, before = save_consent(c, started=True)
    write_failed(c, path, before, leftover_ok=True)
    check(c.proc.poll() is None, "pellim ended at the file-size limit")
    # The write goes straight to the target, so what fitted under the limit stays.
    if os.path.exists(path):
        check(os.path.getsize(path) <= 100, "more than the limit was written")
        print("  note: %d bytes left in the file at the limit" % os.path.getsize(path))
    check(c.quit() == 0, "pellim did not quit after the alert")


def case_disk_full(c):
    c.start()
    before = c.windows()
    c.key("ctrl+1")
    dialog = c.new_window("a file dialog", before)
    time.sleep(0.3)
    c.key("ctrl+a")
    c.type("/dev/full")
    c.key("Return")
    # "/dev/full already exists. Do you want to replace it?"
    c.new_window("the replace question", before | {dialog})
    c.key("alt+y")
    c.window_gone("the file dialog to close", dialog)
    enc = encoded("/dev/full")
    c.dismiss_alert(before)
    expect_messages(c.settled_entries(), [("info", "trying to write to: " + enc),
                                          ("error", "couldn't write to: " + enc)])
    check(c.quit() == 0, "pellim did not quit after the alert")


def open_fails_at_once(c, path):
    c.start()
    before = c.windows()
    c.key("ctrl+4")
    c.answer_file_dialog(path, before)
    enc = encoded(path)
    entries = c.wait_for_entries("\"couldn't read from: \"", lambda es: program(es, "couldn't read from: " + enc),
                                 seconds=10)
    expect_messages(entries, [("info", "trying to read from: " + enc), ("error", "couldn't read from: " + enc)])
    check(c.quit() == 0, "pellim did not quit")


def case_open_fifo(c):
    # A FIFO with no writer: a read that waited for one would hang here.
    path = os.path.join(c.docs, "pipe.txt")
    os.mkfifo(path)
    open_fails_at_once(c, path)


def case_open_endless_device(c):
    # /dev/zero never ends: it must be refused, not read.
    open_fails_at_once(c, "/dev/zero")


def case_control_characters_in_names(c):
    # A tab and an escape sequence in the Documents folder's name, and a line
    # feed in a file name: the journal keeps them byte for byte in the plain
    # form and the encoded form escapes them.
    c.use_documents(os.path.join(c.home, "Docs\tx\x1b[2Jy"))
    path = make_file(os.path.join(c.docs, "line\nbreak.txt"), SAMPLE.encode())
    c.consent("allow", "documents")
    open_consent(c)
    consent_read_succeeded(c, path)
    check(c.quit() == 0, "exit status after Ctrl+Q")


def no_journal(c, socket_setup):
    """Documents with control characters in its name, and no journal: every entry
    is one line on standard error, its control characters escaped."""
    c.use_documents(os.path.join(c.home, "Docs\tx\x1b[2Jy\rz"))
    make_file(os.path.join(c.docs, "only.txt"), SAMPLE.encode())
    c.consent("allow", "documents")
    c.start(wrap="mount -t tmpfs tmpfs /run/systemd/journal\n" + socket_setup, journal=False)
    c.key("ctrl+5")
    c.wait_for("\"read from: \" on standard error",
               lambda: any(m.startswith("Pellim: read from: ") for _, _, _, m in c.stderr_entries()))
    check(c.quit() == 0, "pellim did not quit")
    with open(os.path.join(c.root, "stderr"), "rb") as f:
        raw = f.read()
    check(not any(ch in raw for ch in (b"\t", b"\x1b", b"\r")), "a raw control character on standard error")
    own = [(level, m) for level, subsystem, _, m in c.stderr_entries() if subsystem == "org.pellim.Pellim"]
    starts = [("info", "Pellim: opened"), ("info", "Pellim: trying to list files in " + c.home + "/Docs"),
              ("info", "Pellim: trying to look in " + c.home + "/Docs"), ("info", "Pellim: trying to read from: "),
              ("info", "Pellim: read from: ")]
    check(len(own) == len(starts) and all(level == want_level and m.startswith(want)
                                          for (level, m), (want_level, want) in zip(own, starts)),
          "standard error lines: %r" % own)
    check(c.entries() == [], "entries reached the journal although it was hidden")


def case_no_journal_daemon(c):
    no_journal(c, "")


def case_journal_socket_without_daemon(c):
    no_journal(c, "python3 -c 'import socket; socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)"
                  ".bind(\"/run/systemd/journal/socket\")'\n")


def case_damaged_store(c):
    # A damaged answers file counts as no answer: the guard asks, and the
    # answer rewrites the file whole.
    os.makedirs(os.path.dirname(c.state_file))
    with open(c.state_file, "wb") as f:
        f.write(b'{"org.pellim.Pellim": {"documents": "allow\xff')
    path, _ = save_consent(c, answer_prompt="alt+a")
    write_succeeded(c, path)
    with open(c.state_file) as f:
        stored = json.load(f)
    check(stored.get("org.pellim.Pellim", {}).get("documents") == "allowed", "the store holds %r" % stored)
    check(c.quit() == 0, "exit status after Ctrl+Q")


def case_missing_documents_folder(c):
    os.rmdir(c.docs)
    c.consent("allow", "documents")
    open_consent(c)
    consent_listing_failed(c)
    before = c.windows()
    c.key("ctrl+3")
    entries = c.wait_for_entries("\"couldn't write to: \"", lambda es: any(
        e["MESSAGE"].startswith("Pellim: couldn't write to: ") for e in program(es)))
    written_name(entries, c.docs)
    c.dismiss_alert(before)
    check(not os.path.exists(c.docs), "the write made the missing folder")
    check(c.quit() == 0, "pellim did not quit after the alert")


def case_read_only_folder(c):
    # Permission bits do not stop root; a read-only mount stops everyone.
    c.consent("allow", "documents")
    c.start(wrap="mount --bind '%s' '%s'\nmount -o remount,bind,ro '%s'\n" % (c.docs, c.docs, c.docs))
    path, before = save_consent(c, started=True)
    write_failed(c, path, before)
    check(c.quit() == 0, "pellim did not quit after the alert")


SUITES = {
    "launch": [case_launch, case_close_window, case_quit_with_ctrl_q],
    "writing": [case_save_with_dialog, case_save_with_dialog_fails, case_save_into_chosen_folder,
                case_save_into_chosen_folder_fails, case_save_consent_stored_allow, case_save_consent_stored_deny,
                case_save_consent_prompt_allow, case_save_consent_prompt_deny],
    "reading": [case_open_with_dialog, case_open_with_dialog_fails, case_open_consent_stored_allow,
                case_open_consent_stored_deny, case_open_consent_prompt_allow, case_open_consent_prompt_deny,
                case_open_from_chosen_folder, case_open_from_chosen_folder_fails],
    "faults": [case_file_size_limit, case_disk_full, case_open_fifo, case_open_endless_device,
               case_control_characters_in_names, case_no_journal_daemon, case_journal_socket_without_daemon,
               case_damaged_store, case_missing_documents_folder, case_read_only_folder],
}

if __name__ == "__main__":
    sys.exit(main(sys.argv, SUITES))
