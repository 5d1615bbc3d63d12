"""Smoke tests of bench/compare: it reads a tool's output into the names it counts, and it
publishes figures only from committed code.

Run: python3 -m unittest discover -s bench -p '*_test.py'
"""

import importlib.machinery
import importlib.util
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


class Smoke(unittest.TestCase):
    def test_names_and_finds(self):
        output = "Zentry V1.3 - x\r\nnotice\r\n\r\nSubject - s\r\nAttachment - a b.pdf\r\nAttachment - File1.tmp\r\n"
        names = compare.zentry_names(output)
        self.assertEqual(["a b.pdf"], names)
        self.assertEqual(1, compare.found_count(["a b.pdf", "c.zip"], names))


    @unittest.skipUnless(shutil.which("git"), "needs git")
    def test_publishing_refusal(self):
        repo = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, repo)
        args = type("Args", (), {"docs": os.path.join(repo, "docs"), "zentry": None, "report_only": False})
        self.assertIsNotNone(compare.publishing_refusal(args, repo))  # not a git checkout
        os.makedirs(os.path.join(repo, "core"))
        with open(os.path.join(repo, "core", "a.cc"), "w") as out:
            out.write("1")
        for arguments in (["init", "-q"], ["add", "."], ["commit", "-qm", "c"]):
            subprocess.run(["git", "-C", repo, "-c", "user.name=t", "-c", "user.email=t@example.org"] + arguments,
                           check=True, capture_output=True)
        self.assertIsNone(compare.publishing_refusal(args, repo))
        with open(os.path.join(repo, "core", "a.cc"), "w") as out:
            out.write("2")
        self.assertIn("core/a.cc", compare.publishing_refusal(args, repo))


if __name__ == "__main__":
    unittest.main()
