"""A song's sound sections through songtool's command line: findings with
their place and rule, a channel's gain heard alone, the round trip of a song
whose sounds the block cannot hold, and the embedded song over the defaults
file."""
import hashlib
import json
import os
import unittest

from harness import HOLD, Scratch, held_channels

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
# songrender's output.wav; a change-guard golden, the same as the engine's own test records.
GOLDEN_OUTPUT = "22bdde81ccbc6aeca7c41772702f9ae795e0a21f44d17f68ae786c569b06e5c9"
SOUNDS = ("instrument 5 bright sample_1_l = 2 stereo_mix = 80  ; a brighter lead\n"
          "  env_vol_length = 60\n"
          "delay_preset 1 feedback = 50\n")
SONG = (SOUNDS + "channel 0 lead gain = 120 reverb = 0 delay = 1\n  t43 o3 v8 @bright l8 c e g >c< " + HOLD + "\n" +
        held_channels(1, 7))


class SongSounds(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = Scratch()
        cls.s.write("song.txt", SONG)

    @classmethod
    def tearDownClass(cls):
        cls.s.cleanup()

    def ok(self, *args):
        r = self.s.tool(*args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def test_findings_name_their_place_and_rule(self):
        self.s.write("bad.txt", SONG.replace("stereo_mix = 80", "stereo_mix = 80 phase = 300", 1)
                     .replace("feedback = 50", "feedback = 120", 1).replace("gain = 120", "gain = 120 echo = 1", 1))
        r = self.s.tool("check", "bad.txt", "--json")
        self.assertEqual(r.returncode, 1)
        self.assertEqual([(f["line"], f["column"], f["offset"], f["rule"], f["message"]) for f in json.loads(r.stdout)],
                         [(1, 60, None, "sound-value", "phase 300 is outside 0..255"),
                          (3, 27, None, "runaway-echo", "feedback 120 above 100 makes the echo grow without bound"),
                          (4, 27, None, "sound-field",
                           "unknown field echo in channel 0 (its fields: gain reverb delay)")])
        r = self.s.tool("render", "bad.txt", "-o", "bad.wav")
        self.assertEqual(r.returncode, 1)
        self.assertTrue(r.stderr.startswith("bad.txt:1:60: error: phase 300 is outside 0..255\n"), r.stderr)
        self.assertFalse(os.path.exists(self.s.path("bad.wav")))

    def test_a_channel_heard_alone_at_its_own_gain(self):
        self.ok("render", "song.txt", "-o", "loud.wav", "--seconds", "1", "--solo", "0")
        self.s.write("muted.txt", SONG.replace("gain = 120", "gain = 0", 1))
        self.ok("render", "muted.txt", "-o", "muted.wav", "--seconds", "1", "--solo", "0")
        self.assertTrue(any(self.s.read("loud.wav")[44:]))
        self.assertFalse(any(self.s.read("muted.wav")[44:]))

    def test_round_trip_keeps_the_bytes_and_the_source_keeps_the_sounds(self):
        self.ok("asm", "song.txt", "-o", "song.bin")
        self.s.write("plain.txt", SONG.replace(SOUNDS, "").replace("@bright", "@5")
                     .replace(" gain = 120 reverb = 0 delay = 1", ""))
        self.ok("asm", "plain.txt", "-o", "plain.bin")
        self.assertEqual(self.s.read("song.bin"), self.s.read("plain.bin"))  # sounds are no part of the block
        self.s.write("again.txt", self.ok("disasm", "song.bin").stdout)
        self.ok("asm", "again.txt", "-o", "again.bin")
        self.assertEqual(self.s.read("again.bin"), self.s.read("song.bin"))
        self.ok("asm", "song.txt", "--cpp", "-o", "song.cpp")
        cpp = self.s.read("song.cpp").decode()
        self.assertIn("{2, 10, 6, 3, 10, 0, 60, 0, 0, 0, 14, 1, 0, 200, 80, 0},  // 5 bright\n", cpp)
        self.assertIn("{140, 50, 20, 1, 8},", cpp)

    def test_embedded_song_over_the_defaults_file_is_songrenders_output(self):
        self.ok("check", os.path.join(REPO, "data", "song.txt"))
        self.ok("render", os.path.join(REPO, "data", "song.txt"), "-o", "embedded.wav")
        self.assertEqual(hashlib.sha256(self.s.read("embedded.wav")).hexdigest(), GOLDEN_OUTPUT)


if __name__ == "__main__":
    unittest.main()
