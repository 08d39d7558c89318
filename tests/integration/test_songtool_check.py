"""songtool check reports every error of a song source as
FILE:LINE:COLUMN: error: MESSAGE, the form editors jump to, and with --json
the same findings as a JSON list for other tools."""
import json
import unittest

from songtool_songs import HOLD, Scratch, held_channels

GOOD = "channel 0\n  o3 c4 " + HOLD + "\n" + held_channels(1, 7)

# Line 2, column 3: instrument 20 is the first event of channel 0, so it
# sits right after the 112-byte offset table.
BAD_INSTRUMENT = "channel 0\n  @20 c4 " + HOLD + "\n" + held_channels(1, 7)

# Pattern 0 reaches pitch index 12 * 7 + 1 = 85 when channel 2 plays it;
# the pattern is defined on line 17 (after 8 two-line channels) and its
# note is at column 6 of line 18.
BAD_PATTERN = (held_channels(0, 1) + "channel 2\n  *high " + HOLD + "\n" +
               held_channels(3, 7) + "pattern high\n  o7 c4\n")


class CheckErrorForm(unittest.TestCase):
    def setUp(self):
        self.s = Scratch()

    def tearDown(self):
        self.s.cleanup()

    def check(self, text, *flags):
        self.s.write("song.txt", text)
        return self.s.run("check", "song.txt", *flags)

    def test_valid_source_passes(self):
        r = self.check(GOOD)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(r.stdout, r"^song.txt: valid song, \d+ bytes\n$")
        r = self.check(GOOD, "--json")
        self.assertEqual((r.returncode, json.loads(r.stdout)), (0, []))

    def test_song_rule_points_at_its_source_position(self):
        r = self.check(BAD_INSTRUMENT)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "song.txt:2:3: error: channel 0, offset 0x0070: "
                                   "instrument 20 does not exist (instruments are 0..13)\n")
        self.assertEqual(r.stdout, "")

    def test_asm_and_check_report_alike(self):
        self.s.write("song.txt", BAD_PATTERN)
        checked = self.s.run("check", "song.txt")
        assembled = self.s.run("asm", "song.txt", "-o", "song.bin")
        self.assertEqual((checked.returncode, assembled.returncode), (1, 1))
        self.assertRegex(checked.stderr, r"^song.txt:18:6: error: pattern 0 \(called from "
                                         r"channel 2\), offset 0x[0-9A-F]{4}: pitch index 85")
        self.assertEqual(checked.stderr, assembled.stderr)

    def test_json_findings_name_place_rule_and_offset(self):
        r = self.check(BAD_INSTRUMENT, "--json")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "")
        self.assertEqual(json.loads(r.stdout), [{
            "file": "song.txt", "line": 2, "column": 3, "offset": 112, "channel": 0,
            "pattern": None, "rule": "unknown-instrument",
            "message": "instrument 20 does not exist (instruments are 0..13)"}])

        [called] = json.loads(self.check(BAD_PATTERN, "--json").stdout)
        self.assertEqual((called["line"], called["column"], called["channel"], called["pattern"],
                          called["rule"]), (18, 6, 2, 0, "pitch-range"))

    def test_notation_slips_have_no_offset(self):
        r = self.check(GOOD.replace("o3 c4", "o3 c4 q", 1) + "channel 0\n  r1\n", "--json")
        self.assertEqual(r.returncode, 1)
        findings = json.loads(r.stdout)
        self.assertEqual([(f["line"], f["column"], f["offset"], f["rule"]) for f in findings],
                         [(2, 9, None, "notation"), (17, 1, None, "notation")])
        self.assertEqual(findings[0]["message"], "unexpected 'q'")
        self.assertEqual(findings[1]["message"], "channel 0 is defined twice")

    def test_broken_block_has_offsets_but_no_lines(self):
        self.s.write("good.txt", GOOD)
        self.assertEqual(self.s.run("asm", "good.txt", "-o", "song.bin").returncode, 0)
        with open(self.s.path("song.bin"), "r+b") as f:
            f.seek(112)
            f.write(b"\xF8")  # an undefined command where channel 0 begins
        r = self.s.run("check", "song.bin")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "song.bin: error: channel 0, offset 0x0070: "
                                   "undefined command byte 0xF8\n")
        [f] = json.loads(self.s.run("check", "song.bin", "--json").stdout)
        self.assertEqual((f["line"], f["column"], f["offset"], f["channel"], f["rule"]),
                         (None, None, 112, 0, "undefined-byte"))

    def test_usage_errors_exit_2(self):
        for args in (["check"], ["check", "a.txt", "b.txt"], ["check", "a.txt", "--xml"],
                     ["check", "missing.txt"], ["check", "--json"]):
            r = self.s.run(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertNotEqual(r.stderr, "")
            self.assertEqual(r.stdout, "")


if __name__ == "__main__":
    unittest.main()
