"""Checks the parts of bench/compare whose faults would publish wrong figures.

Run: python3 -m unittest discover -s bench -p '*_test.py'
"""

import importlib.machinery
import importlib.util
import json
import os
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
_loader = importlib.machinery.SourceFileLoader("compare", os.path.join(HERE, "compare"))
_spec = importlib.util.spec_from_loader("compare", _loader)
compare = importlib.util.module_from_spec(_spec)
_loader.exec_module(compare)

# parser, tool output, names it must yield
PARSE_CASES = [
    (compare.zentry_names,
     "Zentry V1.3 - x\r\nnotice\r\n\r\nSubject - s\r\nAttachment - File1.tmp\r\nAttachment - a b.pdf\r\n"
     "Attachment - File12.tmp\r\nAttachment - File1.tmp.zip\r\nAttachment - \r\n",
     ["a b.pdf", "File1.tmp.zip", ""]),
    (compare.zentry_names, "Zentry V1.3 - x\r\nnotice\r\n", []),
    (compare.reformime_names,
     "section: 1\ncontent-type: multipart/mixed\n\n"
     "section: 1.1\ncontent-type: application/pdf\ncontent-name: n.pdf\n"
     "content-disposition-filename: f.pdf\n\n"
     "section: 1.2\ncontent-name: only-name.zip\n\n"
     "section: 1.3\ncontent-disposition-filename: a: b.txt\n",
     ["f.pdf", "only-name.zip", "a: b.txt"]),
    (compare.prefixed_names("Decoding filename="),
     "Decoding filename=a.pdf\nRemoved /dev/shm/x/textfile0 [status = 0]\nDecoding filename=b c.zip\n",
     ["a.pdf", "b c.zip"]),
    (compare.munpack_names, "report (1).pdf (application/pdf)\nb.zip (application/zip)\n\n",
     ["report (1).pdf", "b.zip"]),
    (compare.line_names, "a.pdf\n\nb.zip\n", ["a.pdf", "b.zip"]),
]

# expected, reported, found
FOUND_CASES = [
    (["a", "b"], ["b", "a"], 2),
    (["a", "a", "b"], ["a", "b"], 2),
    (["a", "b"], ["a", "a", "a"], 1),
    (["a"], [], 0),
    (["a.pdf"], ["A.PDF"], 0),
]


class Parsing(unittest.TestCase):
    def test_tool_outputs(self):
        for parse, output, names in PARSE_CASES:
            with self.subTest(output=output[:40]):
                self.assertEqual(names, parse(output))

    def test_incomplete(self):
        found = {"w": {"all": (3, 3), "some": (2, 3), "none": (0, 0)}}
        for key, missed in [("all", False), ("some", True), ("none", False), ("unchecked", False)]:
            with self.subTest(key):
                self.assertEqual(missed, compare.incomplete(found, "w", key))

    def test_found_count(self):
        for expected, reported, found in FOUND_CASES:
            with self.subTest(expected=expected, reported=reported):
                self.assertEqual(found, compare.found_count(expected, reported))


def sample(median_us, peak_kb):
    return {"median_us": median_us, "peak_rss_kb": peak_kb}


class Targets(unittest.TestCase):
    TOOLS = compare.make_tools({"out": "/o", "workloads": "/w", "runs": "/r", "gmime_names": "g", "floor": "f",
                                "trivial_static": "s", "trivial_dynamic": "d"}, "/z")

    # workload, results of that workload, (target met) for each check in order
    CASES = [
        ("everyday-5k", {"zentry": sample(1300, 900), "trivial_static": sample(1000, 700),
                         "ripmime": sample(1400, 1600)}, [True, True]),
        ("everyday-5k", {"zentry": sample(1301, 900), "trivial_static": sample(1000, 700),
                         "ripmime": sample(1400, 1600)}, [False, True]),
        # Floors are not competitors: a smaller read floor must not fail the memory target.
        ("mime-64m", {"zentry": sample(2000, 900), "lines": sample(1000, 700), "read": sample(900, 600),
                      "munpack": sample(5000, 900)}, [True, True]),
        ("mime-64m", {"zentry": sample(2001, 901), "lines": sample(1000, 700), "munpack": sample(5000, 900)},
         [False, False]),
        ("parts-16m", {"zentry": sample(1500, 900)}, []),
    ]

    def test_targets(self):
        for workload, row, met in self.CASES:
            with self.subTest(workload=workload, row=row):
                checks = compare.evaluate_targets({workload: row}, [workload], self.TOOLS)
                self.assertEqual(met, [check[2] for check in checks])


class Report(unittest.TestCase):
    PATHS = {"out": "/dev/shm/zc-1", "workloads": "/scratch/work/workloads", "runs": "/scratch/work/runs",
             "gmime_names": "/scratch/work/helpers/gmime_names", "floor": "/scratch/work/helpers/floor",
             "trivial_static": "/scratch/work/helpers/trivial-static",
             "trivial_dynamic": "/scratch/work/helpers/trivial-dynamic"}
    TOOLS = compare.make_tools(PATHS, "/scratch/work/build/zentry")

    def test_table_cells(self):
        def timed(us):
            return {"median_us": us, "median_cpu_us": us, "peak_rss_kb": 900}
        results = {"everyday-5k": {"zentry": timed(600), "trivial_static": timed(500)},
                   "uuencode-16m": {"zentry": timed(3000), "lines": timed(2000)}}
        found = {"everyday-5k": {"zentry": (1, 1)}, "uuencode-16m": {"zentry": (15, 16)}}
        table = compare.markdown(results, found, list(results), self.TOOLS, [], "bench/compare", self.PATHS)
        rows = [line for line in table.splitlines() if line.startswith("| ")]
        # Wall time, CPU time, memory, names: in that order.
        self.assertEqual("| Zentry | 0.60 ms (1.2x) | 3.00 ms (1.5x) \u2020 |", rows[1])
        self.assertIn("| floor: memchr line count |  | 2.00 ms |", rows)
        self.assertIn("| Zentry | 1/1 | 15/16 |", rows)


@unittest.skipUnless(shutil.which("git"), "needs git")
class Publishing(unittest.TestCase):
    """Published figures come only from committed code, and say which commit."""

    def test_refusals(self):
        repo = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, repo)

        def git(*arguments):
            subprocess.run(["git", "-C", repo, "-c", "user.name=t", "-c", "user.email=t@example.org"] +
                           list(arguments), check=True, capture_output=True)

        def write(path, text):
            os.makedirs(os.path.dirname(os.path.join(repo, path)), exist_ok=True)
            with open(os.path.join(repo, path), "w") as out:
                out.write(text)

        def refusal(docs="docs", zentry=None, report_only=False):
            args = type("Args", (), {"docs": os.path.join(repo, docs), "zentry": zentry,
                                     "report_only": report_only})
            return compare.publishing_refusal(args, repo)

        self.assertIsNotNone(refusal())  # not a git checkout yet
        git("init", "-q")
        write("core/a.cc", "1")
        write("docs/benchmarks.md", "old")
        git("add", ".")
        git("commit", "-qm", "c")
        self.assertIsNone(refusal())
        write("docs/benchmarks.md", "new")  # the run's own output
        self.assertIsNone(refusal())
        self.assertIsNotNone(refusal(zentry="/bin/zentry"))
        write("core/a.cc", "2")
        self.assertIn("core/a.cc", refusal())
        self.assertIsNone(refusal(docs="elsewhere"))
        self.assertIsNone(refusal(report_only=True))
        git("checkout", "-q", "core/a.cc")
        write("core/new.cc", "")  # untracked sources are built too
        self.assertIn("core/new.cc", refusal())
        self.assertRegex(compare.tree_commit(repo), "^[0-9a-f]{12}$")

    def test_tables_name_the_commit(self):
        results = {"uuencode-16m": {"zentry": {"median_us": 1, "median_cpu_us": 1, "peak_rss_kb": 1}}}
        table = compare.markdown(results, {"uuencode-16m": {}}, list(results), Report.TOOLS, [], "bench/compare",
                                 Report.PATHS, "0123456789ab")
        headings = [line for line in table.splitlines() if line.startswith("## ")]
        self.assertTrue(all("(commit 0123456789ab)" in line for line in headings[:-1]), headings)


@unittest.skipUnless(shutil.which("g++") and shutil.which("perl"), "needs g++ and perl")
class Runner(unittest.TestCase):
    """The measuring program, built as bench/compare builds it."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp()
        cls.measure = os.path.join(cls.scratch, "measure")
        subprocess.run(["g++", "-std=c++17", "-O2", "-static", "-o", cls.measure,
                        os.path.join(HERE, "peers", "measure.cc")], check=True)
        with open(os.path.join(cls.scratch, "marker"), "w") as marker:
            marker.write("hello\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def run_measure(self, options, command):
        env = dict(os.environ, subject="inherited")
        result = subprocess.run([self.measure, "--warmup", "0", "--min-runs", "3", "--max-runs", "3"] + options +
                                ["--"] + command, env=env, capture_output=True, text=True, check=True)
        return json.loads(result.stdout)

    def test_runs(self):
        marker = os.path.join(self.scratch, "marker")
        # options, command, field, expected (a callable checks the value)
        cases = [
            ([], ["true"], "status", 0),
            ([], ["sh", "-c", "exit 3"], "status", 3),
            ([], ["sh", "-c", "kill -9 $$"], "status", 137),
            (["--env", "subject=abc"], ["sh", "-c", 'test "$subject" = abc'], "status", 0),
            (["--stdin", marker], ["sh", "-c", 'read x; test "$x" = hello'], "status", 0),
            # The child's own peak, not this runner's nor the spawning shell's.
            ([], ["perl", "-e", '$x = "a" x (64 << 20)'], "peak_rss_kb", lambda kb: kb >= 64 * 1024),
            ([], ["perl", "-e", "1 for 1 .. 2e6"], "median_cpu_us", lambda us: us >= 10000),
        ]
        for options, command, field, expected in cases:
            with self.subTest(options=options, command=command):
                value = self.run_measure(options, command)[field]
                if callable(expected):
                    self.assertTrue(expected(value), value)
                else:
                    self.assertEqual(expected, value)


if __name__ == "__main__":
    unittest.main()
