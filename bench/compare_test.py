"""Smoke test of bench/compare: it loads and reads a tool's output into the names it counts.

Run: python3 -m unittest discover -s bench -p '*_test.py'
"""

import importlib.machinery
import importlib.util
import os
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


if __name__ == "__main__":
    unittest.main()
