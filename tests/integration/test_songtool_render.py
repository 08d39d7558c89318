"""songtool render: the embedded song's source gives songrender's own
output.wav; solo and mute choose what goes into the master; a progress bar
on a terminal only; float stems that sox reads; clear errors for bad
options."""
import os
import shlex
import struct
import subprocess
import unittest

import harness
from songtool_songs import HOLD, SONGTOOL, Scratch

DATA = os.path.join(os.path.dirname(__file__), "..", "..", "data", "song.txt")

# Every channel plays a few notes, then holds; channel 7 plays drums.
SMALL = "".join(f"channel {k}\n  o3 v8 @{2 * k} l8 c e g >c< {HOLD}\n" for k in range(7)) + \
    f"channel 7\n  t43 v8 o3 c8 d8 e8 f8 {HOLD}\n"
SHORT = ("--seconds", "1.5")


def wav_samples(path):
    """The 16-bit samples after a 44-byte header, and the declared data size."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"RIFF" and data[8:16] == b"WAVEfmt ", data[:16]
    declared = struct.unpack("<I", data[40:44])[0]
    return data[44:], declared


class EmbeddedSong(unittest.TestCase):
    def test_source_renders_byte_identical_to_songrender(self):
        s = harness.Scratch()
        try:
            r = s.run()
            self.assertEqual(r.returncode, 0, r.stderr)
            t = subprocess.run([SONGTOOL, "render", os.path.abspath(DATA), "-o", "tool.wav"], cwd=s.dir,
                               capture_output=True, text=True, timeout=1800)
            self.assertEqual(t.returncode, 0, t.stderr)
            self.assertEqual((t.stdout, t.stderr), ("", ""))
            self.assertEqual(os.path.getsize(s.path("tool.wav")), harness.WAV_SIZE)
            self.assertTrue(harness.read_bytes(s.path("tool.wav")) == harness.read_bytes(s.path("output.wav")),
                            "songtool render and songrender differ")
        finally:
            s.cleanup()


class SoloAndMute(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = Scratch()
        cls.s.write("small.txt", SMALL)

    @classmethod
    def tearDownClass(cls):
        cls.s.cleanup()

    def render(self, name, *options, length=SHORT):
        r = self.s.run("render", "small.txt", "-o", name, *length, *options)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual((r.stdout, r.stderr), ("", ""))
        return wav_samples(self.s.path(name))

    def test_solo_is_muting_every_other_channel(self):
        for k in (0, 3, 7):  # reverb from the channels before passes into 3 and 7
            others = ",".join(str(c) for c in range(8) if c != k)
            solo, _ = self.render(f"solo{k}.wav", "--solo", str(k))
            muted, _ = self.render(f"mute{k}.wav", "--mute", others)
            self.assertTrue(solo == muted, f"--solo {k} differs from --mute {others}")
            self.assertTrue(any(solo), f"channel {k} alone is silent")

    def test_muting_every_channel_is_silence(self):
        samples, declared = self.render("none.wav", "--mute", "0,1,2,3,4,5,6,7")
        self.assertEqual(declared, len(samples))
        self.assertEqual(len(samples), int(1.5 * 44100) * 4)
        self.assertFalse(any(samples))

    def test_muting_a_playing_channel_changes_the_file(self):
        full, _ = self.render("full.wav")
        muted, _ = self.render("no2.wav", "--mute", "2")
        self.assertEqual(len(full), len(muted))
        self.assertTrue(full != muted, "muting channel 2 left the file as it was")

    def test_frames_and_seconds_give_the_length_in_the_header(self):
        samples, declared = self.render("f.wav", length=("--frames", "1234"))
        self.assertEqual((len(samples), declared), (1234 * 4, 1234 * 4))
        r = subprocess.run(["soxi", "-s", self.s.path("f.wav")], capture_output=True, text=True)
        self.assertEqual(r.stdout.strip(), "1234")


class Progress(unittest.TestCase):
    def setUp(self):
        self.s = Scratch()
        self.s.write("small.txt", SMALL)

    def tearDown(self):
        self.s.cleanup()

    def test_bar_on_a_terminal_only(self):
        command = " ".join(shlex.quote(a) for a in [SONGTOOL, "render", "small.txt", "-o", "out.wav", *SHORT])
        # script runs the command on a pseudo-terminal: its stderr is a tty.
        r = subprocess.run(["script", "-qec", command + " 2>bar.txt >stdout.txt", "/dev/null"], cwd=self.s.dir,
                           capture_output=True, text=True, timeout=600)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        # The redirections make stderr a file: no bar even under script.
        self.assertEqual(open(self.s.path("bar.txt")).read(), "")
        r = subprocess.run(["script", "-qec", command + " >stdout.txt", "/dev/null"], cwd=self.s.dir,
                           capture_output=True, text=True, timeout=600)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual(open(self.s.path("stdout.txt")).read(), "")
        for stage in ("channel 0: render, delay, reverb", "channel 4: render", "equaliser", "writing"):
            self.assertIn(stage, r.stdout)
        self.assertRegex(r.stdout, r"\[#+-*\]\s+\d+%\s+(\d+:\d\d|--:--) left")
        self.assertIn("100%", r.stdout)

    def test_nothing_without_a_terminal(self):
        r = self.s.run("render", "small.txt", "-o", "out.wav", *SHORT)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "", ""))


class Stems(unittest.TestCase):
    def test_float_stems_that_sox_reads(self):
        s = Scratch()
        try:
            s.write("small.txt", SMALL)
            r = s.run("render", "small.txt", "-o", "mix.wav", "--frames", "30000", "--mute", "5",
                      "--stems", "stems")
            self.assertEqual(r.returncode, 0, r.stderr)
            names = sorted(os.listdir(s.path("stems")))
            self.assertEqual(names, [f"channel-{k}.wav" for k in (0, 1, 2, 3, 4, 6, 7)])
            info = subprocess.run(["soxi", s.path("stems/channel-0.wav")], capture_output=True, text=True)
            self.assertEqual(info.returncode, 0, info.stderr)
            self.assertIn("32-bit Floating Point PCM", info.stdout)
            self.assertRegex(info.stdout, r"Channels\s*: 2")
            self.assertRegex(info.stdout, r"Sample Rate\s*: 44100")
            self.assertIn("= 30000 samples", info.stdout)
            # Full-scale floats: the 16-bit mix's samples over 32768 bound them.
            with open(s.path("stems/channel-0.wav"), "rb") as f:
                data = f.read()
            values = struct.unpack(f"<{(len(data) - 58) // 4}f", data[58:])
            self.assertTrue(0.0 < max(abs(v) for v in values) <= 2.0)
        finally:
            s.cleanup()


class Play(unittest.TestCase):
    def play(self, alsa_config, *args):
        s = harness.Scratch(alsa_config)
        self.addCleanup(s.cleanup)
        with open(s.path("small.txt"), "w") as f:
            f.write(SMALL)
        r = subprocess.run([SONGTOOL, "render", "small.txt", "--frames", "5000", "--play", *args], cwd=s.dir,
                           env=s.env, capture_output=True, text=True, timeout=600)
        return s, r

    def test_plays_what_it_writes(self):
        s, r = self.play(None, "-o", "out.wav")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("Playback complete. Bye!", r.stdout)
        samples, _ = wav_samples(s.path("out.wav"))
        self.assertTrue(harness.read_bytes(s.capture) == samples, "played frames differ from the file")

    def test_a_missing_device_is_reported_and_the_run_ends_normally(self):
        s, r = self.play("pcm.!default { type hw card 99 }\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(r.stdout, r'Error: ALSA device "default": cannot be opened for playback')


class BadInput(unittest.TestCase):
    def setUp(self):
        self.s = Scratch()
        self.s.write("small.txt", SMALL)

    def tearDown(self):
        self.s.cleanup()

    def expect(self, status, args, pattern):
        r = self.s.run("render", *args)
        self.assertEqual(r.returncode, status, r.stderr)
        self.assertRegex(r.stderr, pattern)
        self.assertEqual(r.stdout, "")

    def test_usage_errors_exit_2(self):
        o = ["small.txt", "-o", "x.wav"]
        cases = [
            (["small.txt"], r"render needs -o"),
            (["-o", "x.wav"], r"no SONG given"),
            ([*o, "--solo"], r"--solo needs a value"),
            ([*o, "--solo", "8"], r"--solo: '8' is not a channel 0 to 7"),
            ([*o, "--solo", "0,,3"], r"--solo: '' is not a channel"),
            ([*o, "--mute", "-1"], r"--mute: '-1' is not a channel"),
            ([*o, "--mute", "1", "--mute", "2"], r"--mute given twice"),
            ([*o, "--frames", "0"], r"--frames: '0' is not a whole number of frames from 1 to 5733000"),
            ([*o, "--frames", "5733001"], r"--frames: '5733001' is not"),
            ([*o, "--frames", "12x"], r"--frames: '12x' is not"),
            ([*o, "--frames", "-5"], r"--frames: '-5' is not"),
            ([*o, "--seconds", "nan"], r"--seconds: 'nan' is not a time"),
            ([*o, "--seconds", "131"], r"--seconds: '131' is not a time"),
            ([*o, "--seconds", "0"], r"--seconds: '0' is not a time"),
            ([*o, "--seconds", "1", "--frames", "5"], r"--frames or --seconds, not both"),
            ([*o, "--stems"], r"--stems needs a value"),
            ([*o, "--loud"], r"unexpected '--loud'"),
            (["missing.txt", "-o", "x.wav"], r"songtool: cannot read missing.txt"),
        ]
        for args, pattern in cases:
            with self.subTest(args=args):
                self.expect(2, args, pattern)
        self.assertNotIn("x.wav", os.listdir(self.s.dir))

    def test_invalid_song_exits_1_with_the_place(self):
        self.s.write("broken.txt", SMALL.replace("o3 v8 @0 l8 c", "o3 v8 @0 l8 c x", 1))
        self.expect(1, ["broken.txt", "-o", "x.wav"], r"^broken.txt:2:17: error: unexpected 'x'\n")
        self.s.write("garbage.bin", bytes(range(40)))
        self.expect(1, ["garbage.bin", "-o", "x.wav"], r"^garbage.bin: error: song, offset 0x0000")
        self.assertNotIn("x.wav", os.listdir(self.s.dir))

    def test_unwritable_outputs_exit_1(self):
        self.expect(1, ["small.txt", "-o", "no/such/dir/x.wav", *SHORT],
                    r"songtool: could not write no/such/dir/x.wav: No such file or directory")
        self.s.write("file", "not a folder")
        self.expect(1, ["small.txt", "-o", "x.wav", "--stems", "file", *SHORT],
                    r"songtool: cannot make the stems folder file: File exists")
        self.assertNotIn("x.wav", os.listdir(self.s.dir))


if __name__ == "__main__":
    unittest.main()
