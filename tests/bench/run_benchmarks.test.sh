#!/usr/bin/env bash
# scripts/run-benchmarks: what it gathers from a benchmark's output, the figures
# it derives, and how it rewrites only its own parts of the document.
set -u
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
exec python3 - "$source_dir/scripts/run-benchmarks" <<'PY'
import importlib.machinery, importlib.util, shutil, sys, tempfile, unittest
from pathlib import Path

loader = importlib.machinery.SourceFileLoader("run_benchmarks", sys.argv[1])
spec = importlib.util.spec_from_loader("run_benchmarks", loader)
rb = importlib.util.module_from_spec(spec)
loader.exec_module(rb)


FOLDERS = []


def fake_bench(body, status=0):
    """A benchmark script that prints `body` and exits with `status`."""
    folder = Path(tempfile.mkdtemp())
    FOLDERS.append(folder)
    script = folder / "bench"
    script.write_text(f"#!/bin/sh\ncat <<'OUT'\n{body}\nOUT\necho progress >&2\nexit {status}\n")
    script.chmod(0o755)
    return rb.Bench("fake", "Fake", [str(script)]), folder


def run(body, status=0):
    bench, folder = fake_bench(body, status)
    return rb.run_bench(bench, folder, folder, write=False), folder


class Gathering(unittest.TestCase):
    def test_results_targets_and_notes_are_gathered_and_the_rest_logged(self):
        outcome, folder = run("\n".join([
            "RESULT\tfake\tpellim\ttime\t3\tms",
            "RESULT\tfake\tpellim\ttime\t1\tms",
            "RESULT\tfake\tpellim\ttime\t2\tms",
            "RESULT\tfake\tcat\ttime\t1\tms",
            "RESULT\tother\tpellim\ttime\t99\tms",   # another benchmark's line
            "RESULT\tfake\tpellim\ttime\tms",         # a field missing
            "RESULT\tfake\tpellim\ttime\tfast\tms",   # not a number
            "TARGET\tfake\ttime\tcat\t1.5",
            "NOTE\tfake\tten runs",
            "free text"]))
        self.assertEqual(outcome.status, "ok")
        self.assertEqual(outcome.results[("time", "pellim")], [3.0, 1.0, 2.0])
        self.assertEqual(outcome.results[("time", "cat")], [1.0])
        self.assertEqual(outcome.targets, [("time", "cat", 1.5)])
        self.assertEqual(outcome.notes, ["ten runs"])
        log = (folder / "fake.log").read_text()
        self.assertIn("free text", log)
        self.assertIn("progress", log)
        self.assertIn("other", log)

    def test_exit_status_decides_between_skipped_and_failed(self):
        self.assertTrue(run("", 77)[0].status.startswith("skipped"))
        self.assertTrue(run("", 3)[0].status.startswith("failed with status 3"))

    def test_a_missing_script_is_reported_not_raised(self):
        outcome = rb.run_bench(rb.Bench("gone", "Gone", ["/nonexistent/bench"]),
                               Path("/tmp"), Path("/tmp"), write=False)
        self.assertTrue(outcome.status.startswith("missing"))


class Figures(unittest.TestCase):
    def rows(self, lines):
        outcome, _ = run("\n".join(lines))
        return {(row[1], row[2]): row for row in rb.summary_rows(outcome)}

    def test_median_spread_ratio_and_targets(self):
        rows = self.rows(
            [f"RESULT\tfake\tpellim listing\ttime\t{v}\tms" for v in (12, 10, 30, 11)]
            + [f"RESULT\tfake\tls\ttime\t{v}\tms" for v in (10, 9, 8)]
            + [f"RESULT\tfake\tfind\ttime\t{v}\tms" for v in (20, 22)]
            + ["RESULT\tfake\tpellim listing\tbytes\t90\tB",
               "TARGET\tfake\ttime\tls\t1.3", "TARGET\tfake\ttime\tfind\t0.5",
               "TARGET\tfake\tbytes\tabsolute\t100"])
        mine = rows[("time", "pellim listing")]
        self.assertEqual(mine[3], "11.5 ms")          # median of an even count
        self.assertEqual(mine[4], "10.0–30.0")
        self.assertEqual(mine[5], "4")
        self.assertEqual(mine[6], "1.28× ls, 0.55× find")
        self.assertIn("≤ 1.30× ls: **met**", mine[7])
        self.assertIn("≤ 0.50× find: **missed**", mine[7])
        self.assertEqual(rows[("time", "ls")][6:], ["", ""])  # no ratio on a reference
        self.assertIn("**met**", rows[("bytes", "pellim listing")][7])


class Document(unittest.TestCase):
    TEXT = ("# P\n\nprose by hand\n\n<!-- BEGIN summary -->\nold\n<!-- END summary -->\n\n"
            "<!-- BEGIN read -->\ntheirs\n<!-- END read -->\ntail\n")

    def test_only_the_named_section_changes(self):
        text = rb.replace_section(self.TEXT, "summary", "new \\1 \\g<0> figures")
        self.assertEqual(text, self.TEXT.replace("old", "new \\1 \\g<0> figures"))

    def test_a_section_without_markers_is_appended(self):
        text = rb.replace_section(self.TEXT, "machine", "cpu")
        self.assertTrue(text.startswith(self.TEXT.rstrip("\n")))
        self.assertTrue(text.endswith("<!-- BEGIN machine -->\ncpu\n<!-- END machine -->\n"))


try:
    passed = unittest.main(argv=["run-benchmarks"], exit=False).result.wasSuccessful()
finally:
    for folder in FOLDERS:
        shutil.rmtree(folder, ignore_errors=True)
sys.exit(0 if passed else 1)
PY
