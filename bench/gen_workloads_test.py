"""Checks that the workloads are what the comparison claims they are.

Run: python3 -m unittest discover -s bench -p '*_test.py'
"""

import base64
import binascii
import email
import fnmatch
import re
import unittest

import gen_workloads as gen

MB = gen.MB

# workload, target size, slack either way, number of names
SHAPES = [
    ("everyday-5k", 5 * 1024, 64, 1),
    ("mime-1m", 1 * MB, 1024, 1),
    ("mime-16m", 16 * MB, 64 * 1024, 4),
    ("mime-64m", 64 * MB, 64 * 1024, 4),
    ("parts-16m", 16 * MB, 64 * 1024, 5000),
    ("uuencode-16m", 16 * MB, 64 * 1024, 16),
]

BARE_LF = re.compile(rb"(?<!\r)\n")
BARE_CR = re.compile(rb"\r(?!\n)")
UU_BLOCK = re.compile(rb"^begin 644 (\S+)\r\n(.*?)^`\r\nend\r\n", re.M | re.S)


class Workloads(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.made = {name: maker() for name, (maker, _) in gen.WORKLOADS.items()}

    def test_shapes(self):
        self.assertEqual(sorted(gen.WORKLOADS), sorted(row[0] for row in SHAPES))
        for name, size, slack, count in SHAPES:
            message, names = self.made[name]
            with self.subTest(name):
                self.assertLessEqual(abs(len(message) - size), slack)
                self.assertEqual(count, len(names))
                self.assertEqual(len(names), len(set(names)), "names must be unique to count finds")
                self.assertIsNone(BARE_LF.search(message), "every line ends in CR LF")
                self.assertIsNone(BARE_CR.search(message))
                self.assertLessEqual(max(len(line) for line in message.split(b"\r\n")), 998)

    def test_same_bytes_every_run(self):
        for name, (maker, _) in gen.WORKLOADS.items():
            with self.subTest(name):
                self.assertEqual(self.made[name], maker())

    def test_mime_names_are_what_a_parser_finds(self):
        for name, (message, names) in self.made.items():
            if name.startswith("uuencode"):
                continue
            with self.subTest(name):
                parsed = email.message_from_bytes(message)
                self.assertFalse(parsed.defects)
                found = [part.get_filename() for part in parsed.walk() if part.get_filename()]
                self.assertEqual(names, found)
                for part in parsed.walk():
                    if part.get_filename():
                        base64.b64decode(part.get_payload(), validate=False)

    def test_uuencoded_files_decode(self):
        message, names = self.made["uuencode-16m"]
        blocks = UU_BLOCK.findall(message)
        self.assertEqual(names, [block[0].decode() for block in blocks])
        for name, body in blocks:
            data = b"".join(binascii.a2b_uu(line) for line in body.split(b"\r\n") if line)
            self.assertEqual(gen.payload("uuencode-16m/" + name.decode(), len(data)), data)

    def test_no_rule_hits_so_every_rule_is_tried(self):
        lines = gen.rule_file().decode().split("\r\n")
        self.assertEqual("", lines.pop())
        self.assertEqual(150, len(lines))
        rules = [lines[i:i + 3] for i in range(0, len(lines), 3)]
        names = [n for _, listed in self.made.values() for n in listed]
        for label, subject_mask, file_mask in rules:
            with self.subTest(label):
                self.assertTrue(subject_mask or file_mask)
                if subject_mask:
                    self.assertFalse(fnmatch.fnmatch(gen.SUBJECT.lower(), subject_mask.lower()))
                if file_mask:
                    self.assertFalse([n for n in names if fnmatch.fnmatch(n.lower(), file_mask.lower())])


class Base64Sizing(unittest.TestCase):
    def test_largest_raw_size_that_fits(self):
        for encoded in list(range(0, 400)) + [MB - 1, MB, MB + 1]:
            raw = gen.raw_for_base64(encoded)
            with self.subTest(encoded=encoded):
                self.assertLessEqual(gen.base64_size(raw), encoded)
                self.assertGreater(gen.base64_size(raw + 1), encoded)


if __name__ == "__main__":
    unittest.main()
