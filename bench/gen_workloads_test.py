"""Smoke test of the workload generator: each workload is a well-formed message with the names
the comparison counts, the same bytes on every run.

Run: python3 -m unittest discover -s bench -p '*_test.py'
"""

import email
import unittest

import gen_workloads as gen


class Workloads(unittest.TestCase):
    def test_workloads(self):
        for name, (maker, _) in gen.WORKLOADS.items():
            with self.subTest(name):
                message, names = maker()
                self.assertEqual((message, names), maker())
                self.assertTrue(names)
                self.assertNotIn(b"\n", message.replace(b"\r\n", b""))
                if not name.startswith("uuencode"):
                    parsed = email.message_from_bytes(message)
                    self.assertEqual(names, [p.get_filename() for p in parsed.walk() if p.get_filename()])
                else:
                    self.assertEqual(len(names), message.count(b"\r\nbegin 644 "))


if __name__ == "__main__":
    unittest.main()
