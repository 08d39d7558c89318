"""A song's sound sections through songtool's command line: findings with
their place and rule, a channel's gain heard alone, the round trip of a song
whose sounds the block cannot hold, the embedded song over the defaults
file, and `songtool sounds`: its JSON read back, every figure worked out
anew from the fields and the units data/sounds.txt gives them."""
import hashlib
import json
import math
import os
import struct
import unittest

from harness import HOLD, Scratch, held_channels

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
# songrender's output.wav; a change-guard golden, the same as the engine's own test records.
GOLDEN_OUTPUT = "22bdde81ccbc6aeca7c41772702f9ae795e0a21f44d17f68ae786c569b06e5c9"
SOUNDS = ("instrument 5 bright sample_1_l = 2 stereo_mix = 80  ; a brighter lead\n"
          "  env_vol_length = 60\n"
          "delay_preset 1 feedback = 50\neq 0 lowpass_mix = 0.5 lowpass_cutoff = 3000\n")
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
                          (5, 27, None, "sound-field",
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
        self.assertIn("0.5f, 3000.0f, 0.2f, 200000.0f,", cpp)

    def test_embedded_song_over_the_defaults_file_is_songrenders_output(self):
        self.ok("check", os.path.join(REPO, "data", "song.txt"))
        self.ok("render", os.path.join(REPO, "data", "song.txt"), "-o", "embedded.wav")
        self.assertEqual(hashlib.sha256(self.s.read("embedded.wav")).hexdigest(), GOLDEN_OUTPUT)


# Sections for `songtool sounds`: a name given and one taken from another
# instrument, silent envelopes, LFO intensities that settle late, wrap and
# never rise, a reverb without cross-feed, a cutoff whose RC is 0.
LISTED_SECTIONS = ("instrument 0 plucked\ninstrument 2 lfo_intensity = 3\ninstrument 4 env_vol_type = 2\n"
                   "instrument 6 env_vol_length = 0\ninstrument 7 blip\ninstrument 9 lfo_intensity = 127\n"
                   "instrument 10 lfo_intensity = 200\nreverb_preset 2 width = 100\neq 1 highpass_cutoff = 3e38\n")
LISTED_CHANNELS = {2: " gain = 0", 4: " low"}
SECTIONS = {"instrument": "instruments", "channel": "channels", "delay_preset": "delay_presets",
            "reverb_preset": "reverb_presets", "eq": "eq"}
RATE = 44100


def sound_sections(text):
    """{(section, number): {field: value}} of sound sections whose fields follow their header."""
    found, fields = {}, None
    for line in text.splitlines():
        words = line.split(";")[0].replace("=", " = ").split()
        if words and words[0] in SECTIONS:
            fields = found.setdefault((SECTIONS[words[0]], int(words[1])), {})
            words = words[3:] if len(words) > 2 and words[3:4] != ["="] else words[2:]
        for at in range(0, len(words), 3):
            fields[words[at]] = float(words[at + 2])
    return found


def reject_constant(name):
    raise ValueError(f"{name} is not JSON")


class SoundsListing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = Scratch()
        cls.s.write("song.txt", LISTED_SECTIONS + "".join(f"channel {c}{LISTED_CHANNELS.get(c, '')}\n  r1\n"
                                                          for c in range(8)))
        with open(os.path.join(REPO, "data", "sounds.txt")) as f:
            cls.fields = sound_sections(f.read())
        for place, given in sound_sections(LISTED_SECTIONS + "".join(
                f"channel {c}{h}\n" for c, h in LISTED_CHANNELS.items())).items():
            cls.fields[place].update(given)
        r = cls.s.tool("sounds", "song.txt", "--json")
        assert r.returncode == 0, r.stderr
        cls.doc = json.loads(r.stdout, parse_constant=reject_constant)  # strict: no NaN, no Infinity
        cls.text = cls.s.tool("sounds", "song.txt").stdout

    @classmethod
    def tearDownClass(cls):
        cls.s.cleanup()

    def close(self, got, expected, what):
        self.assertTrue(math.isclose(got, expected, rel_tol=1e-6, abs_tol=1e-9), f"{what}: {got} != {expected}")

    def test_sections_numbers_and_every_raw_field(self):
        self.assertEqual(list(self.doc), list(SECTIONS.values()))
        for section, count, first in (("instruments", 14, 0), ("channels", 8, 0), ("delay_presets", 4, 1),
                                      ("reverb_presets", 4, 1), ("eq", 2, 0)):
            self.assertEqual([item["number"] for item in self.doc[section]], list(range(first, first + count)))
        for (section, number), fields in self.fields.items():
            item = self.doc[section][number - self.doc[section][0]["number"]]
            for field, value in fields.items():
                self.close(item[field], value, f"{section} {number} {field}")
        names = [[item["name"] for item in self.doc[s]] for s in ("instruments", "channels", "delay_presets")]
        self.assertEqual(names[0][:8], ["plucked", "organ", "pad", "bass", None, "lead", "drop", "blip"])
        self.assertEqual(names[0][13], "drone")
        self.assertEqual(names[1][3:5], ["counter", "low"])
        self.assertEqual(names[2], [None] * 4)

    def test_instrument_times_in_frames_and_seconds(self):
        for i in self.doc["instruments"]:
            what = f"instrument {i['number']}"
            # Envelope steps: x3 (wave) and x6 (volume), each 201 frames.
            self.assertEqual(i["env_wav_seconds"], i["env_wav_length"] * 3 * 201 / RATE, what)
            self.assertEqual(i["env_vol_seconds"], i["env_vol_length"] * 6 * 201 / RATE, what)
            self.assertEqual(i["env_vol_kind"], {0: "decay", 1: "attack"}.get(i["env_vol_type"], "none"), what)
            self.assertEqual(i["silent"], i["env_vol_type"] > 1 or i["env_vol_length"] == 0, what)
            # A sweep unit every length x 4 + 1 frames; types 3 and 4 go on through ties.
            self.assertEqual(i["sweep_direction"], {1: "down", 3: "down", 2: "up", 4: "up"}.get(i["swp_type"], "none"),
                             what)
            self.assertEqual(i["sweep_through_ties"], i["swp_type"] in (3, 4), what)
            self.assertEqual(i["sweep_step_frames"], i["swp_length"] * 4 + 1, what)
            self.assertEqual(i["sweep_units_per_second"], RATE / i["sweep_step_frames"], what)
            # 131072 phase units are one cycle of the LFO's 256-entry window.
            self.assertEqual(i["lfo_rate_hz"], i["lfo_pitch"] * RATE / 131072, what)
            # The fade-in raises the amplitude every length x 640 frames (a 16-bit
            # counter) + 1, from the second frame after the note-on, to one above
            # the signed intensity; 127 wraps and never settles, below 0 never rises.
            step = i["lfo_length"] * 640 % 65536 + 1
            intensity = i["lfo_intensity"] - 256 * (i["lfo_intensity"] > 127)
            settled = (None, None) if intensity == 127 else (0, 0) if intensity < 0 else (intensity + 1,
                                                                                         2 + intensity * step)
            self.assertEqual(i["lfo_fade_step_frames"], step, what)
            self.assertEqual((i["lfo_full_amplitude"], i["lfo_fade_in_frames"]), settled, what)
            self.assertEqual(i["lfo_fade_in_seconds"], settled[1] and settled[1] / RATE, what)
        ins = self.doc["instruments"]
        self.assertEqual((ins[2]["lfo_fade_step_frames"], ins[2]["lfo_fade_in_frames"]), (11265, 2 + 3 * 11265))
        self.assertEqual([ins[k]["silent"] for k in (3, 4, 6)], [False, True, True])
        self.assertEqual((ins[7]["sweep_step_frames"], ins[7]["sweep_direction"]), (61, "down"))
        self.assertAlmostEqual(ins[5]["lfo_rate_hz"], 4.71, 2)
        self.assertEqual(ins[9]["lfo_fade_in_frames"], None)

    def test_pan_law_and_stereo_mix(self):
        for i in self.doc["instruments"]:
            mix = i["stereo_mix"] / 100
            self.close(i["stereo_mix_fraction"], mix, "stereo mix")
            self.assertEqual([g["panning"] for g in i["pan_gains"]], [-100, -50, 0, 50, 100])
            for g in i["pan_gains"]:
                # The angle in single precision; 1.57, not pi/2: the centre sits a little left.
                angle = struct.unpack("f", struct.pack("f", (g["panning"] / 100 + 1) * 0.5 * 1.57))[0]
                self.close(g["left"], math.cos(angle), "left gain")
                self.close(g["right"], math.sin(angle), "right gain")
                self.close(g["heard_left"], (1 - mix) * g["left"] + mix * g["right"], "heard left")
                self.close(g["heard_right"], (1 - mix) * g["right"] + mix * g["left"], "heard right")
        centre = self.doc["instruments"][0]["pan_gains"][2]
        self.close(centre["left"], 0.7073882, "centre")
        self.close(centre["right"], 0.7068252, "centre")

    def test_channels_and_effect_presets(self):
        for c in self.doc["channels"]:
            self.close(c["gain_factor"], c["gain"] / 100, "gain")
        self.assertEqual(self.doc["channels"][2]["gain_factor"], 0)
        for d in self.doc["delay_presets"]:
            # D = 100 x time: an echo comes back D - 1 frames later, the sides swap every D + 2.
            self.assertEqual((d["echo_spacing_frames"], d["swap_period_frames"]),
                             (100 * d["time"] - 1, 100 * d["time"] + 2))
            self.assertEqual(d["echo_spacing_seconds"], d["echo_spacing_frames"] / RATE)
            self.assertEqual(d["swap_period_seconds"], d["swap_period_frames"] / RATE)
            self.close(d["feedback_fraction"], d["feedback"] / 100, "feedback")
            self.assertEqual(d["first_falling_side"], ["right", "left"][d["start_side"]])
        self.assertEqual([d["echo_spacing_frames"] for d in self.doc["delay_presets"]], [13999, 13999, 25499, 25499])
        for r in self.doc["reverb_presets"]:
            width, wet = r["width"] / 100, r["wet"] / 100
            self.close(r["verb_dry"], r["dry"] / 100, "dry")
            self.close(r["verb_wet1"], (0.5 + width / 2) * wet, "wet1")
            self.close(r["verb_wet2"], (1 - width) / 2 * wet, "wet2")
            self.close(r["verb_damp"], r["damp"] / 100 * 0.4, "damp")
            self.close(r["verb_roomsize"], 0.7 + r["roomsize"] / 100 * 0.28, "roomsize")
        p1, p2 = self.doc["reverb_presets"][:2]
        self.assertEqual([round(p1[k], 7) for k in ("verb_wet1", "verb_wet2", "verb_damp", "verb_roomsize")],
                         [0.1875, -0.0375, 0.04, 0.728])
        self.assertEqual(p2["verb_wet2"], 0)
        for e in self.doc["eq"]:
            for side in ("lowpass", "highpass"):
                # alpha = dt / (RC + dt), RC = 1 / (2 x 3.14 x cutoff): the true pi moves it by 1e-4.
                cutoff = e[side + "_cutoff"]
                expected = 1 / (RATE / (2 * 3.14 * cutoff) + 1) if cutoff else 0
                self.close(e[side + "_alpha"], expected, side)
        self.close(self.doc["eq"][0]["lowpass_alpha"], 30144 / (30144 + RATE), "4800 Hz")
        self.assertEqual(self.doc["eq"][1]["highpass_alpha"], 1)  # RC 0: the filter passes everything

    def test_text_gives_every_field_with_its_meaning(self):
        for field in ("sample_1_l", "env_wav_length", "swp_target", "lfo_length", "stereo_mix", "phase"):
            self.assertEqual(self.text.count(f"\n  {field} "), 14, field)
        for line in ("instrument 0 plucked\n", "instrument 13 drone\n", "over 30 envelope steps, 0.137 s",
                     "LFO at 4.710 Hz", "echoes 13999 frames (0.3174 s) apart",
                     "sides swap every 25502 frames (0.5783 s)",
                     "verb_wet2", "alpha 0.4060126", "reverb_preset 4\n", "eq 1\n"):
            self.assertIn(line, self.text)
        self.assertNotIn("reverb_preset 0", self.text)


if __name__ == "__main__":
    unittest.main()
