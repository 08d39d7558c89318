"""songtool roll draws a song as a piano roll: an SVG that an outside XML
parser reads, with one element of class "note" per note bar, and a PNG of
the same size. The picture's scale is one pixel per tick (128 per bar) and
five per semitone, over whole octaves."""
import os
import struct
import unittest
import xml.etree.ElementTree as ET

from songtool_songs import HOLD, Scratch, held_channels

SVG = "{http://www.w3.org/2000/svg}"

# Channel 0: c, d tied to d (one bar), e tied to g (two bars and a tie).
# Channel 1: c0 takes no time and is never heard; e, then a and b from a
# pattern. Channel 7: a drum, a tied drum note (no hit), a second drum.
# So 7 note bars, 1 tie line, 2 drum hits, 1 pattern call.
SMALL = ("channel 0\n  o3 l4 c d & d e & g8 r8 " + HOLD + "\n"
         "channel 1\n  o2 c0 e4 *fill " + HOLD + "\n"
         + held_channels(2, 6) +
         "channel 7\n  t43 o3 c8 & c8 d8 r8 " + HOLD + "\n"
         "pattern fill\n  a8 b8\n")


def bars_longer(extra_bars, octave):
    """SMALL with channel 2 resting extra bars first and playing one note in
    the given octave."""
    rests = " r1" * extra_bars
    return SMALL.replace("channel 2\n  r1", f"channel 2\n {rests} o{octave} c4 r1", 1)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", head
    return struct.unpack(">II", head[16:24])


def svg_tree(path):
    return ET.parse(path).getroot()


def view_size(root):
    x, y, w, h = (float(v) for v in root.get("viewBox").split())
    return w, h


def with_class(root, cls):
    return [e for e in root.iter() if e.get("class") == cls]


class RollPictures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = Scratch()
        cls.s.write("small.txt", SMALL)
        cls.svg = cls.s.run("roll", "small.txt", "-o", "small.svg")
        cls.png = cls.s.run("roll", "small.txt", "-o", "small.png")

    @classmethod
    def tearDownClass(cls):
        cls.s.cleanup()

    def test_commands_succeed_quietly(self):
        for r in (self.svg, self.png):
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual((r.stdout, r.stderr), ("", ""))

    def test_svg_has_a_bar_per_note_a_tie_and_the_drum_hits(self):
        root = svg_tree(self.s.path("small.svg"))
        self.assertEqual(root.tag, SVG + "svg")
        self.assertEqual(len(with_class(root, "note")), 7)
        self.assertEqual(len(with_class(root, "tie")), 1)
        self.assertEqual(len(with_class(root, "drum-hit")), 2)
        self.assertEqual(len(with_class(root, "pattern-call")), 1)
        self.assertEqual(len(with_class(root, "legend")), 8)
        # Every channel reaches its hold, and the hold is shaded once.
        self.assertEqual(len(with_class(root, "hold-mark")), 8)
        self.assertEqual(len(with_class(root, "hold")), 1)

    def test_png_opens_at_the_svg_size(self):
        root = svg_tree(self.s.path("small.svg"))
        w, h = view_size(root)
        self.assertEqual(png_size(self.s.path("small.png")), (int(w), int(h)))

    def test_two_more_bars_widen_by_256_and_an_octave_heightens_by_60(self):
        # The small song plays in octaves 2 and 3; a note in octave 4 gives
        # octaves 2..4, one in octave 5 octaves 2..5: one more, 12 rows.
        self.s.write("a.txt", bars_longer(2, 4))
        self.s.write("b.txt", bars_longer(4, 5))
        for name in ("a", "b"):
            r = self.s.run("roll", f"{name}.txt", "-o", f"{name}.png")
            self.assertEqual(r.returncode, 0, r.stderr)
        (wa, ha), (wb, hb) = png_size(self.s.path("a.png")), png_size(self.s.path("b.png"))
        self.assertEqual(wb - wa, 2 * 128)
        self.assertEqual(hb - ha, 12 * 5)

    def test_a_block_draws_the_same_as_its_source(self):
        r = self.s.run("asm", "small.txt", "-o", "small.bin")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.s.run("roll", "small.bin", "-o", "from_block.svg")
        self.assertEqual(r.returncode, 0, r.stderr)
        root = svg_tree(self.s.path("from_block.svg"))
        self.assertEqual(len(with_class(root, "note")), 7)
        self.assertEqual(view_size(root), view_size(svg_tree(self.s.path("small.svg"))))


class RollBadInput(unittest.TestCase):
    def setUp(self):
        self.s = Scratch()
        self.s.write("small.txt", SMALL)

    def tearDown(self):
        self.s.cleanup()

    def expect(self, status, args, stderr_pattern):
        r = self.s.run(*args)
        self.assertEqual(r.returncode, status, r.stderr)
        self.assertRegex(r.stderr, stderr_pattern)
        self.assertEqual(r.stdout, "")

    def test_usage_errors_exit_2(self):
        self.expect(2, ["roll", "small.txt"], r"^usage: songtool")
        self.expect(2, ["roll", "-o", "x.svg"], r"^usage: songtool")
        self.expect(2, ["roll", "small.txt", "-o", "x.svg", "--loud"], r"^usage: songtool")
        self.expect(2, ["roll", "missing.txt", "-o", "x.svg"], r"songtool: cannot read missing.txt")
        self.expect(2, ["roll", "small.txt", "-o", "roll.jpg"], r"must end in \.svg or \.png")
        self.expect(2, ["roll", "small.txt", "-o", "no/such/dir/roll.png"],
                    r"songtool: cannot write no/such/dir/roll.png")
        self.expect(2, ["roll", "small.txt", "-o", "no/such/dir/roll.svg"],
                    r"songtool: cannot write no/such/dir/roll.svg")

    def test_invalid_songs_exit_1_with_the_place(self):
        self.s.write("broken.txt", SMALL.replace("o3 l4 c", "o3 l4 c x", 1))
        self.expect(1, ["roll", "broken.txt", "-o", "x.svg"],
                    r"^broken.txt:2:11: error: unexpected 'x'\n")
        self.s.write("garbage.bin", bytes(range(40)))
        self.expect(1, ["roll", "garbage.bin", "-o", "x.svg"],
                    r"^garbage.bin: error: song, offset 0x0000: block of 40 bytes is shorter")
        self.assertNotIn("x.svg", os.listdir(self.s.dir))


if __name__ == "__main__":
    unittest.main()
