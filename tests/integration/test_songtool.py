"""songtool: check reports errors as FILE:LINE:COLUMN (or JSON); render
solos, mutes, shows progress on a terminal only, writes stems and plays;
roll draws an SVG and a PNG at one pixel per tick and five per semitone."""
import json
import os
import re
import pty
import shlex
import signal
import stat
import struct
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

from harness import HOLD, SANITIZED, SONG_FRAMES, SONGASM, SONGTOOL, Scratch, held_channels

GOOD = "channel 0\n  o3 c4 " + HOLD + "\n" + held_channels(1, 7)
# Instrument 20 is channel 0's first event, right after the 112-byte offset table.
BAD_INSTRUMENT = "channel 0\n  @20 c4 " + HOLD + "\n" + held_channels(1, 7)
# Channel 2 plays pattern 0 (line 17) up to pitch index 12 * 7 + 1 = 85, at line 18 column 6.
BAD_PATTERN = held_channels(0, 1) + "channel 2\n  *high " + HOLD + "\n" + held_channels(3, 7) + "pattern high\n  o7 c4\n"
# Every channel plays a few notes, then holds; channel 7 plays drums.
MIX = "".join(f"channel {k}\n  o3 v8 @{2 * k} l8 c e g >c< {HOLD}\n" for k in range(7)) + \
    f"channel 7\n  t43 v8 o3 c8 d8 e8 f8 {HOLD}\n"
SHORT = ("--seconds", "1.5")
# Five bars on every channel, then the hold; tick 0 sets tempo 43, so tick 1 runs after frame 701 and every
# later tick 603 frames after the one before.
EXCERPT = "".join(f"channel {k}\n  o3 v8 @{2 * k} l8 {'c e g >c< b g e c ' * 5}{HOLD}\n" for k in range(7)) + \
    f"channel 7\n  t43 v8 o3 {'c8 d8 e8 f8 ' * 10}{HOLD}\n"


def heard_frame(tick):
    """The first frame in which an EXCERPT tick is heard: the frame after the one it runs after."""
    return 1 if tick == 0 else 701 + (tick - 1) * 603 + 1


# Channel 0 plays one bar and holds from tick 128 (heard from frame 128 * 701 + 1), no effect anywhere, or
# with an echo that feeds back 0.99 every 0.317 s on both sides at full level: far longer than 5 s.
DRY = "".join(f"channel {k} reverb = 0 delay = 0\n  {'o3 v8 l4 c e g c' if k == 0 else 'r1'} {HOLD}\n"
              for k in range(8))
ECHO = "delay_preset 2 floor = 100 mix = 50\n" + DRY.replace("channel 0 reverb = 0 delay = 0", "channel 0 reverb = 0 delay = 2")
HOLD_FRAME = 128 * 701 + 1
# 7 note bars (c0 is never heard), 1 tie line, 2 drum hits (the tied one is no hit), 1 pattern call.
ROLL = ("channel 0\n  o3 l4 c d & d e & g8 r8 " + HOLD + "\n"
        "channel 1\n  o2 c0 e4 *fill " + HOLD + "\n" + held_channels(2, 6) +
        "channel 7\n  t43 o3 c8 & c8 d8 r8 " + HOLD + "\npattern fill\n  a8 b8\n")


def wav_data(raw):
    return raw[44:], struct.unpack("<I", raw[40:44])[0]  # samples, declared data size


def png_size(raw):
    assert raw[:8] == b"\x89PNG\r\n\x1a\n" and raw[12:16] == b"IHDR", raw[:16]
    return struct.unpack(">II", raw[16:24])


def svg(path):
    root = ET.parse(path).getroot()
    count = lambda cls: sum(e.get("class") == cls for e in root.iter())
    return root, count, tuple(float(v) for v in root.get("viewBox").split()[2:])


class Songtool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = Scratch()
        for name, text in (("good.txt", GOOD), ("instrument.txt", BAD_INSTRUMENT), ("pattern.txt", BAD_PATTERN),
                           ("mix.txt", MIX), ("roll.txt", ROLL), ("excerpt.txt", EXCERPT),
                           ("dry.txt", DRY), ("echo.txt", ECHO), ("garbage.bin", bytes(range(40))),
                           ("broken.txt", ROLL.replace("o3 l4 c", "o3 l4 c x", 1)), ("file", "not a folder")):
            cls.s.write(name, text)

    @classmethod
    def tearDownClass(cls):
        cls.s.cleanup()

    def ok(self, *args):
        r = self.s.tool(*args)
        return self.assertEqual(r.returncode, 0, r.stderr) or r

    def render(self, name, *options, song="mix.txt"):
        self.assertEqual(self.ok("render", song, "-o", name, *options).stdout, "")
        return wav_data(self.s.read(name))

    def test_songasm_is_songtool_asm(self):
        for song in ("good.txt", "instrument.txt", "broken.txt", "missing.txt"):
            for flags in (("--cpp",), ()):
                tool = self.s.tool("asm", song, *flags, "-o", "tool.out")
                asm = self.s.run(song, *flags, "-o", "asm.out", program=SONGASM)
                self.assertEqual((asm.returncode, asm.stdout, asm.stderr), (tool.returncode, tool.stdout, tool.stderr))
                if tool.returncode == 0:
                    self.assertTrue(self.s.read("asm.out") == self.s.read("tool.out"), f"{song} {flags}")
        r = self.s.run("good.txt", "--cpp", program=SONGASM)
        self.assertEqual(r.returncode, 2)
        self.assertRegex(r.stderr, r"^songasm: -o OUT is missing\nusage: songasm SONG.txt -o OUT")

    def test_check_reports_the_source_position(self):
        self.assertRegex(self.ok("check", "good.txt").stdout, r"^good.txt: valid song, \d+ bytes\n$")
        self.assertEqual(json.loads(self.ok("check", "good.txt", "--json").stdout), [])
        r = self.s.tool("check", "instrument.txt", "--json")
        self.assertEqual((r.returncode, r.stderr), (1, ""))
        self.assertEqual(json.loads(r.stdout), [{
            "file": "instrument.txt", "line": 2, "column": 3, "offset": 112, "channel": 0, "pattern": None,
            "severity": "error", "rule": "unknown-instrument", "message": "instrument 20 does not exist (instruments are 0..13)"}])
        [f] = json.loads(self.s.tool("check", "pattern.txt", "--json").stdout)
        self.assertEqual((f["line"], f["column"], f["channel"], f["pattern"], f["rule"]), (18, 6, 2, 0, "pitch-range"))
        checked, assembled = self.s.tool("check", "pattern.txt"), self.s.tool("asm", "pattern.txt", "-o", "p.bin")
        self.assertEqual((checked.returncode, assembled.returncode), (1, 1))
        self.assertRegex(checked.stderr, r"^pattern.txt:18:6: error: pattern 0 \(called from channel 2\), "
                                         r"offset 0x[0-9A-F]{4}: pitch index 85")
        self.assertEqual(checked.stderr, assembled.stderr)

    def test_check_without_a_place_has_no_offset_or_no_line(self):
        self.s.write("slips.txt", GOOD.replace("o3 c4", "o3 c4 q", 1) + "channel 0\n  r1\n")
        r = self.s.tool("check", "slips.txt", "--json")
        self.assertEqual(r.returncode, 1)
        self.assertEqual([(f["line"], f["column"], f["offset"], f["rule"], f["message"]) for f in json.loads(r.stdout)],
                         [(2, 9, None, "notation", "unexpected 'q'"),
                          (17, 1, None, "notation", "channel 0 is defined twice")])
        self.ok("asm", "good.txt", "-o", "broken.bin")
        with open(self.s.path("broken.bin"), "r+b") as f:
            f.seek(112)
            f.write(b"\xF8")  # an undefined command where channel 0 begins
        r = self.s.tool("check", "broken.bin")
        self.assertEqual((r.returncode, r.stderr), (1, "broken.bin: error: channel 0, offset 0x0070: "
                                                       "undefined command byte 0xF8\n"))

    def test_solo_is_muting_every_other_channel(self):
        for k in (0, 3, 7):  # reverb from the channels before passes into 3 and 7
            others = ",".join(str(c) for c in range(8) if c != k)
            solo, _ = self.render(f"solo{k}.wav", *SHORT, "--solo", str(k))
            self.assertTrue(solo == self.render(f"mute{k}.wav", *SHORT, "--mute", others)[0], k)
            self.assertTrue(any(solo), f"channel {k} alone is silent")
        samples, declared = self.render("none.wav", *SHORT, "--mute", "0,1,2,3,4,5,6,7")
        self.assertEqual((len(samples), declared), (int(1.5 * 44100) * 4,) * 2)
        self.assertFalse(any(samples))

    def test_solo_keeps_the_songs_level(self):
        # Where only channel 0 sounds (no reverb carries into the others), its solo is the song itself; a busy
        # song's solo at the song's level or its own is SongRender.SoloIsTheChannelsShareAtTheSongsLevel's.
        self.assertTrue(self.render("full.wav", *SHORT, song="dry.txt") ==
                        self.render("solo.wav", *SHORT, "--solo", "0", song="dry.txt"))

    def test_excerpt_is_the_span_of_the_full_render(self):
        first, end = heard_frame(128), heard_frame(384)  # bars 2 and 4 begin at ticks 128 and 384
        for solo in (("--solo", "3"), ()):
            full, _ = self.render("full.wav", *solo, song="excerpt.txt")
            excerpt, declared = self.render("bars.wav", "--from", "2", "--to", "4", *solo, "--stems", "bar-stems",
                                            song="excerpt.txt")
            self.assertEqual((len(excerpt), declared), (4 * (end - first),) * 2)
            self.assertTrue(excerpt == full[4 * first:4 * end], solo)
            self.assertNotEqual(full[4 * first - 4:4 * first], full[4 * first:4 * first + 4])  # the span's edge shows
            self.assertEqual(len(self.s.read("bar-stems/channel-3.wav")), 58 + 8 * (end - first))
        beat, _ = self.render("beat.wav", "--from", "2.3", "--to", "0:04.5", song="excerpt.txt")
        self.assertTrue(beat == full[4 * heard_frame(192):4 * int(4.5 * 44100)])

    def test_to_end_stops_where_the_output_goes_silent(self):
        full, _ = self.render("dry-full.wav", song="dry.txt")
        dry, _ = self.render("dry-end.wav", "--from", "1", "--to", "end", song="dry.txt")
        end = 1 + len(dry) // 4  # bar 1's first tick, tick 0, runs after frame 0
        self.assertTrue(HOLD_FRAME <= end < HOLD_FRAME + 5 * 44100, end)
        self.assertTrue(dry == full[4:4 * end])
        self.assertFalse(any(full[4 * end:]), "sound after the end")
        self.assertTrue(end == HOLD_FRAME or any(dry[-4:]), "the end is later than the silence")
        echo, _ = self.render("echo-end.wav", "--to", "end", song="echo.txt")
        self.assertEqual(len(echo) // 4, HOLD_FRAME + 5 * 44100)  # the echo still rings: 5 s after the hold
        self.assertTrue(any(echo[-400:]))

    def test_loop_plays_the_excerpt_until_interrupted(self):
        excerpt_bytes = 4 * (heard_frame(160) - heard_frame(128))  # beat 2.1 to 2.2
        if os.path.exists(self.s.capture):
            os.remove(self.s.capture)
        # The null device takes frames as fast as they come: a file size limit keeps a runaway loop small.
        command = " ".join(shlex.quote(a) for a in [SONGTOOL, "render", "excerpt.txt", "--from", "2", "--to", "2.2",
                                                     "-o", "loop.wav", "--loop"])
        p = subprocess.Popen(["bash", "-c", "ulimit -f 200000; exec " + command], cwd=self.s.dir, env=self.s.env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            deadline = time.monotonic() + 60
            while p.poll() is None and time.monotonic() < deadline and \
                    (not os.path.exists(self.s.capture) or os.path.getsize(self.s.capture) <= 2 * excerpt_bytes):
                time.sleep(0.002)
            if p.poll() is not None:
                self.fail(p.stderr.read())
            p.send_signal(signal.SIGINT)
            self.assertEqual(p.wait(timeout=10), -signal.SIGINT)
        finally:
            p.kill()
            p.wait()
        excerpt, _ = wav_data(self.s.read("loop.wav"))
        self.assertEqual(len(excerpt), excerpt_bytes)
        self.assertTrue(self.s.read("capture.raw")[:2 * excerpt_bytes] == excerpt + excerpt)
        os.remove(self.s.capture)

    def test_progress_bar_on_a_terminal_only(self):
        command = " ".join(shlex.quote(a) for a in [SONGTOOL, "render", "mix.txt", "-o", "p.wav", *SHORT])
        for redirect, bar in ((" 2>bar.txt >out.txt", False), (" >out.txt", True)):
            # script gives the command a pseudo-terminal; a redirected stderr is a file again.
            r = subprocess.run(["script", "-qec", command + redirect, "/dev/null"], cwd=self.s.dir,
                               capture_output=True, text=True, timeout=600)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertEqual(self.s.read("out.txt"), b"")
            if not bar:
                self.assertEqual(self.s.read("bar.txt"), b"")
                continue
            for stage in ("channel 0: render, delay, reverb", "channel 4: render", "equaliser", "writing", "100%"):
                self.assertIn(stage, r.stdout)
            self.assertRegex(r.stdout, r"\[#+-*\]\s+\d+%\s+(\d+:\d\d|--:--) left")

    def test_float_stems_that_sox_reads(self):
        self.render("mix.wav", "--frames", "30000", "--mute", "5", "--stems", "stems")
        self.assertEqual(sorted(os.listdir(self.s.path("stems"))), [f"channel-{k}.wav" for k in (0, 1, 2, 3, 4, 6, 7)])
        info = subprocess.run(["soxi", self.s.path("stems/channel-0.wav")], capture_output=True, text=True, check=True)
        self.assertRegex(info.stdout, r"(?s)Channels\s*: 2.*Sample Rate\s*: 44100.*= 30000 samples.*32-bit Floating Point PCM")
        # Full-scale floats: the 16-bit mix's samples over 32768 bound them.
        data = self.s.read("stems/channel-0.wav")[58:]
        self.assertTrue(0.0 < max(abs(v) for v in struct.unpack(f"<{len(data) // 4}f", data)) <= 2.0)

    def test_play_sends_what_it_writes(self):
        r = self.ok("render", "mix.txt", "--frames", "5000", "--play", "-o", "played.wav")
        self.assertIn("Playback complete. Bye!", r.stdout)
        self.assertTrue(self.s.read("capture.raw") == wav_data(self.s.read("played.wav"))[0])

    def test_roll_draws_notes_ties_drums_and_scale(self):
        for out in ("roll.svg", "roll.png"):
            self.assertEqual(self.ok("roll", "roll.txt", "-o", out).stdout, "")
        root, count, size = svg(self.s.path("roll.svg"))
        # Every channel reaches its hold, and the hold is shaded once.
        self.assertEqual([count(c) for c in ("note", "tie", "drum-hit", "pattern-call", "legend", "hold-mark", "hold")],
                         [7, 1, 2, 1, 8, 8, 1])
        self.assertEqual(png_size(self.s.read("roll.png")), tuple(int(v) for v in size))
        # Octaves 2..4 then 2..5 (12 more rows), and two more bars of rest.
        # (Enough rests that channel 2 holds last in both.)
        for name, rests, octave in (("a", 4, 4), ("b", 6, 5)):
            self.s.write(f"{name}.txt", ROLL.replace("channel 2\n  r1", f"channel 2\n {' r1' * rests} o{octave} c4 r1", 1))
            self.ok("roll", f"{name}.txt", "-o", f"{name}.png")
        (wa, ha), (wb, hb) = png_size(self.s.read("a.png")), png_size(self.s.read("b.png"))
        self.assertEqual((wb - wa, hb - ha), (2 * 128, 12 * 5))

    def test_roll_labels_every_call_and_names_channels_and_drums(self):
        # Channels 0..2 call patterns at tick 0, channel 2 again at tick 16; channel 1 gives no name of its own.
        self.s.write("calls.txt", "channel 0 melody\n  o3 *a c4 " + HOLD + "\nchannel 1\n  o3 *b e4 " + HOLD +
                     "\nchannel 2 inner\n  o3 *a *b g4 " + HOLD + "\n" + held_channels(3, 6) +
                     "channel 7\n  o3 c8 g8 " + HOLD + "\npattern a\n  c8\npattern b\n  d8\n")
        self.ok("roll", "calls.txt", "-o", "calls.svg")
        root, _, _ = svg(self.s.path("calls.svg"))
        texts = lambda cls: [e.get("aria-label") for e in root.iter() if e.get("class") == cls]
        places = [(e[0].get("x"), e[0].get("y")) for e in root.iter() if e.get("class") == "pattern-label"]
        self.assertEqual(texts("pattern-label"), ["p0", "p1", "p0", "p1"])
        self.assertEqual(len(set(places)), 4, places)  # none drawn over another
        self.assertEqual(len({y for _, y in places[:3]}), 3, places)  # the three at tick 0 stacked
        self.assertEqual(texts("legend-label")[:3], ["0 melody", "1 harmony", "2 inner"])  # 1: the default's name
        self.assertEqual(texts("drum-label"), ["kick", "high tom"])
        self.assertEqual(texts("title"), ["calls.txt, 1 bar"])

    def test_bad_input_exits_with_a_reason_and_no_file(self):
        o = ["mix.txt", "-o", "x.wav"]
        cases = [(2, ["check", "a.txt", "--xml"], "."),
                 (2, ["render", "mix.txt"], r"render needs -o"), (2, ["render", "-o", "x.wav"], r"no SONG given"),
                 (2, ["render", *o, "--solo"], r"--solo needs a value"),
                 (2, ["render", *o, "--solo", "8"], r"--solo: '8' is not a channel 0 to 7"),
                 (2, ["render", *o, "--mute", "1", "--mute", "2"], r"--mute given twice"),
                 (2, ["render", *o, "--frames", "0"], r"--frames: '0' is not a whole number of frames from 1 to 5733000"),
                 (2, ["render", *o, "--seconds", "nan"], r"--seconds: 'nan' is not a time"),
                 (2, ["render", *o, "--seconds", "1", "--frames", "5"], r"--frames or --seconds, not both"),
                 (2, ["render", *o, "--loud"], r"unexpected '--loud'"),
                 (2, ["render", *o, "--solo", "0", "--mute", "0"], r"^songtool: render: channel 0 is both soloed and muted\n"),
                 (2, ["render", *o, "--solo", "0,0"], r"^songtool: render: --solo: channel 0 given twice\n"),
                 (2, ["render", *o, "--mute", "3,3"], r"^songtool: render: --mute: channel 3 given twice\n"),
                 (2, ["render", *o, "--normalise", "peak"], r"--normalise: 'peak' is not song or self"),
                 (2, ["render", *o, "--from", "2", "--seconds", "1"], r"an excerpt \(--from, --to\) is of the whole render"),
                 (2, ["render", *o, "--from", "0"], r"--from: bar 0 is a pick-up, and this song has none"),
                 (2, ["render", *o, "--from", "300"], r"--from: bar 300 is beyond the render, which ends in bar \d+"),
                 (2, ["render", *o, "--from", "3", "--to", "2.4"], r"--from 3 is not before --to 2.4"),
                 (2, ["render", *o, "--to", "0:00"], r"--from 0:00 is not before --to 0:00"),
                 (2, ["render", *o, "--to", "1.5"], r"--to: '1.5' has beat 5, and a bar has beats 1 to 4"),
                 (2, ["render", *o, "--to", "1.0"], r"--to: '1.0' has beat 0, and a bar has beats 1 to 4"),
                 (2, ["render", *o, "--from", "end"], r"--from: end is for --to only"),
                 (2, ["render", *o, "--to", "2:10.01"], r"--to: 2:10.01 is beyond the render's end \(2:10.00\)"),
                 *[(2, ["render", *o, "--to", t], rf"--to: '{re.escape(t)}' is not a bar \(41\), a bar and beat \(41.3\), "
                                                   r"a time \(1:23.5\) or end")
                   for t in ("1:2", "1:60", "1:2x", "-3", "2.", ".3", "1:02.", "x")],
                 (1, ["render", "broken.txt", "-o", "x.wav"], r"^broken.txt:2:11: error: unexpected 'x'\n"),
                 (1, ["render", "mix.txt", "-o", "no/such/dir/x.wav", *SHORT],
                  r"songtool: cannot write no/such/dir/x.wav: No such file or directory"),
                 (1, ["render", *o, "--stems", "file", *SHORT], r"songtool: cannot make the stems folder file: File exists"),
                 (2, ["roll", "roll.txt"], r"^songtool: roll: -o ROLL\.svg\|\.png is missing\nusage: songtool"),
                 (2, ["roll", "roll.txt", "-o", "roll.jpg"], r"must end in \.svg or \.png"),
                 (1, ["roll", "roll.txt", "-o", "no/such/dir/roll.png"],
                  r"songtool: cannot write no/such/dir/roll.png: No such file or directory"),
                 (1, ["roll", "garbage.bin", "-o", "x.svg"],
                  r"^garbage.bin: error: song, offset 0x0000: block of 40 bytes is shorter")]
        for status, args, pattern in cases:
            with self.subTest(args=args):
                r = self.s.tool(*args)
                self.assertEqual((r.returncode, r.stdout), (status, ""), r.stderr)
                self.assertRegex(r.stderr, pattern)
        self.assertFalse({"x.wav", "x.svg"} & set(os.listdir(self.s.dir)))


class Warnings(unittest.TestCase):
    """Warnings leave the status 0 unless --werror; info gives the timeline."""

    @classmethod
    def setUpClass(cls):
        cls.s = Scratch()
        # A bar line a quarter early; otherwise a whole song.
        cls.s.write("early.txt", "channel 0\n  o3 c4 c4 c4 | c4 " + HOLD + "\n" + held_channels(1, 7))

    @classmethod
    def tearDownClass(cls):
        cls.s.cleanup()

    def test_warnings_pass_unless_werror(self):
        r = self.s.tool("check", "early.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(r.stderr, r"^early.txt:2:15: warning: channel 0, offset 0x[0-9A-F]{4}: the channel reaches "
                                   r"this bar line 32 ticks before bar 2 \(0:01\.52\)\n$")
        self.assertRegex(r.stdout, r"^early.txt: valid song")
        [f] = json.loads(self.s.tool("check", "early.txt", "--json").stdout)
        self.assertEqual((f["severity"], f["rule"], f["line"], f["column"]), ("warning", "bar-check", 2, 15))
        for command in (("check", "early.txt"), ("asm", "early.txt", "-o", "early.bin"),
                        ("render", "early.txt", "-o", "early.wav", "--frames", "100")):
            r = self.s.tool(*command, "--werror")
            self.assertEqual(r.returncode, 1, command)
            self.assertIn("early.txt:2:15: error: ", r.stderr)
        self.assertFalse(os.path.exists(self.s.path("early.bin")) or os.path.exists(self.s.path("early.wav")))
        r = self.s.tool("asm", "early.txt", "-o", "early.bin")
        self.assertEqual((r.returncode, os.path.exists(self.s.path("early.bin"))), (0, True))
        self.assertIn("warning:", r.stderr)

    def test_info_gives_the_embedded_songs_timeline(self):
        song = os.path.join(os.path.dirname(__file__), "..", "..", "data", "song.txt")
        info = json.loads(self.s.tool("info", song, "--json").stdout)
        # Tick k runs after frame 701 + 603 (k - 1) once tempo 43 is set in tick 0, until tick 9,120
        # sets tempo 63; every channel holds in tick 9,312, run after frame 5,668,714.
        self.assertEqual((info["pickup"], info["bars"]), (96, 72))
        self.assertEqual(info["end"], {"tick": 9312, "bar": 73, "beat": 1, "frame": 5668715, "time": "2:08.54"})
        self.assertEqual([(t["tick"], t["tempo"], t["frames_per_tick"]) for t in info["tempo"]],
                         [(0, 50, 701), (0, 43, 603), (9120, 63, 883)])
        bars = info["bar_starts"]
        self.assertEqual(len(bars), 74)  # the pick-up, bars 1 to 72 and bar 73, where the holds begin
        self.assertEqual(bars[1], {"tick": 96, "bar": 1, "beat": 1, "frame": 701 + 95 * 603 + 1, "time": "0:01.31"})
        self.assertEqual([c["closing_hold"]["tick"] for c in info["channels"]], [9312] * 8)
        self.assertEqual(info["channels"][0]["name"], "lead")
        self.assertTrue(all(c["starts_over"] is None for c in info["channels"]))


class Reading(unittest.TestCase):
    """What cannot be a song is refused with the system's reason, at once."""

    def test_folders_fifos_devices_and_huge_files(self):
        s = Scratch()
        try:
            os.mkfifo(s.path("fifo"))  # no writer: reading it must not wait
            s.write("huge.txt", "r1 " * (2 << 20))
            for path, reason in ((s.dir, "Is a directory"), (s.path("fifo"), "not a regular file"),
                                 ("/dev/zero", "not a regular file"), (s.path("missing.txt"), "No such file or directory"),
                                 (s.path("huge.txt"), "larger than 4 MiB, more than any song")):
                for command in (("check", path), ("asm", path, "-o", s.path("out.bin"))):
                    r = subprocess.run([SONGTOOL, *command], capture_output=True, text=True, timeout=20)
                    self.assertEqual((r.returncode, r.stderr), (1, f"songtool: cannot read {path}: {reason}\n"))
        finally:
            s.cleanup()

    def test_a_failed_standard_output_is_reported(self):
        song = os.path.join(os.path.dirname(__file__), "..", "..", "data", "song.txt")
        for command in (("disasm", song), ("info", song, "--json"), ("check", song, "--json")):
            with open("/dev/full", "w") as full:
                r = subprocess.run([SONGTOOL, *command], stdout=full, stderr=subprocess.PIPE, text=True, timeout=20)
            self.assertEqual((r.returncode, r.stderr),
                             (1, "songtool: cannot write standard output: No space left on device\n"), command)


class WholeFiles(unittest.TestCase):
    """A file is written whole or not at all; a device is written in place; a song is never overwritten."""

    def setUp(self):
        self.s = Scratch()
        self.s.write("song.txt", MIX)

    def tearDown(self):
        self.s.cleanup()

    def leftovers(self):
        return [n for n in os.listdir(self.s.dir) if n.startswith(".")]

    def test_a_failed_write_keeps_the_earlier_file(self):
        embedded = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data", "song.txt")
        for name, command in (("out.bin", ("asm", embedded)), ("out.cpp", ("asm", embedded, "--cpp")),  # 4,993 bytes and more
                              ("out.svg", ("roll", "song.txt")), ("out.wav", ("render", "song.txt"))):
            earlier = b"an earlier file " * 400  # 6,400 bytes, over the 4 KiB limit below
            self.s.write(name, earlier)
            line = " ".join(shlex.quote(a) for a in (SONGTOOL, *command, "-o", self.s.path(name)))
            r = subprocess.run(["bash", "-c", f"ulimit -f 4; {line}"], cwd=self.s.dir, capture_output=True, text=True,
                               timeout=120)
            self.assertEqual(r.returncode, 1, (command, r.stderr))
            self.assertTrue(r.stderr.endswith(f"cannot write {self.s.path(name)}: File too large\n"), r.stderr)
            self.assertEqual(self.s.read(name), earlier, command)
            self.assertEqual(self.leftovers(), [], command)

    def test_devices_are_written_in_place(self):
        for name, device in (("null", os.makedev(1, 3)), ("full", os.makedev(1, 7))):
            os.mknod(self.s.path(name), 0o666 | stat.S_IFCHR, device)
        for command in (("asm", "song.txt"), ("render", "song.txt", "--frames", "1000")):
            r = self.s.tool(*command, "-o", "null")
            self.assertEqual(r.returncode, 0, r.stderr)
            r = self.s.tool(*command, "-o", "full")
            self.assertEqual((r.returncode, r.stderr.splitlines()[-1]),
                             (1, "songtool: cannot write full: No space left on device"))
        self.assertTrue(all(stat.S_ISCHR(os.stat(self.s.path(n)).st_mode) for n in ("null", "full")))

    def test_standard_output_takes_every_format(self):
        for command, name, flags in ((("asm", "song.txt"), "x.bin", ()), (("asm", "song.txt", "--cpp"), "x.cpp", ()),
                                     (("roll", "song.txt"), "x.svg", ()), (("roll", "song.txt"), "x.png", ("--png",)),
                                     (("render", "song.txt", *SHORT), "x.wav", ())):
            self.assertEqual(self.s.tool(*command, "-o", name).returncode, 0, command)
            r = subprocess.run([SONGTOOL, *command, *flags, "-o", "-"], cwd=self.s.dir, capture_output=True,
                               timeout=120)
            self.assertEqual((r.returncode, r.stderr), (0, b""), command)
            self.assertTrue(r.stdout == self.s.read(name), command)
        # A closed pipe ends the command quietly, by the signal.
        p = subprocess.Popen([SONGTOOL, "render", "song.txt", "-o", "-"], cwd=self.s.dir, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        p.stdout.read(100)
        p.stdout.close()
        self.assertEqual((p.wait(timeout=120), p.stderr.read()), (-signal.SIGPIPE, b""))

    def test_binary_data_is_not_written_to_a_terminal(self):
        for command in (("asm", "song.txt"), ("roll", "song.txt", "--png"), ("render", "song.txt", *SHORT)):
            controller, terminal = pty.openpty()
            try:
                r = subprocess.run([SONGTOOL, *command, "-o", "-"], cwd=self.s.dir, stdout=terminal,
                                   stderr=subprocess.PIPE, text=True, timeout=60)
            finally:
                os.close(terminal)
                os.close(controller)
            self.assertEqual((r.returncode, r.stderr), (2, f"songtool: {command[0]}: -o - would write binary data "
                                                            "to the terminal; redirect it\n"))

    @staticmethod
    def fill(path):
        """Fills the file system of `path` to the last byte."""
        with open(path, "wb", buffering=0) as f:
            try:
                while True:
                    f.write(bytes(4096))
            except OSError:
                pass

    def test_the_file_and_its_stems_appear_together(self):
        """The stems' folder is a file system too small for them; the main file fits, but must not appear."""
        earlier = b"an earlier render"
        self.s.write("out.wav", earlier)
        small = tempfile.mkdtemp(prefix="songtool-small-")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", small]).returncode != 0:
            os.rmdir(small)
            self.skipTest("mounting a small file system needs root")
        try:
            r = self.s.tool("render", "song.txt", "-o", "out.wav", "--stems", small, *SHORT)
            self.assertEqual(r.returncode, 1)
            self.assertRegex(r.stderr, rf"^songtool: cannot write {small}/channel-\d\.wav: No space left on device\n$")
            self.assertEqual((self.s.read("out.wav"), self.leftovers(), os.listdir(small)), (earlier, [], []))
            # A full disk under the main file: every command keeps the earlier file.
            for name, command in (("x.bin", ("asm",)), ("x.svg", ("roll",)), ("x.wav", ("render", *SHORT))):
                target = os.path.join(small, name)
                with open(target, "wb") as f:
                    f.write(earlier)
                self.fill(os.path.join(small, "filler"))
                r = self.s.tool(command[0], "song.txt", *command[1:], "-o", target)
                os.remove(os.path.join(small, "filler"))
                self.assertEqual((r.returncode, r.stderr.splitlines()[-1]),
                                 (1, f"songtool: cannot write {target}: No space left on device"), command)
                with open(target, "rb") as f:
                    self.assertEqual(f.read(), earlier)
                self.assertEqual(os.listdir(small), [name])
                os.remove(target)
        finally:
            subprocess.run(["umount", small])
            os.rmdir(small)

    def test_the_song_itself_is_refused_as_output(self):
        for command in ("asm", "roll", "render"):
            r = self.s.tool(command, "song.txt", "-o", "./song.txt")
            self.assertEqual((r.returncode, r.stderr),
                             (2, f"songtool: {command}: -o ./song.txt is the song song.txt itself\n"))
            self.assertEqual(self.s.read("song.txt"), MIX.encode())

    def drafting(self, p):
        """Waits until the process has an unnamed file open in the scratch folder; false if it ended first."""
        while p.poll() is None:
            try:
                links = [os.readlink(f"/proc/{p.pid}/fd/{fd}") for fd in os.listdir(f"/proc/{p.pid}/fd")]
            except OSError:  # it ended, or closed a file meanwhile
                continue
            if any(link.startswith(self.s.dir) and link.endswith("(deleted)") for link in links):
                return True
        return False

    def test_a_signal_while_writing_leaves_no_file(self):
        earlier = b"an earlier render"
        self.s.write("out.wav", earlier)
        os.mkdir(self.s.path("stems"))
        # The stems are written while the song is mixed; the main file only at the end, when a signal may come
        # too late for a run or two.
        for sig, options in ((signal.SIGINT, ("--stems", "stems")), (signal.SIGTERM, ("--stems", "stems")),
                             (signal.SIGHUP, ("--stems", "stems")), (signal.SIGTERM, ())):
            for attempt in range(5):
                p = subprocess.Popen([SONGTOOL, "render", "song.txt", "-o", "out.wav", *options], cwd=self.s.dir,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                caught = self.drafting(p)
                if caught:
                    p.send_signal(sig)
                status = p.wait(timeout=120)
                self.assertEqual((self.leftovers(), os.listdir(self.s.path("stems"))), ([], []))
                if status == -sig:
                    break
                self.assertEqual(status, 0, (sig, options))  # finished before the signal: the whole new file
                self.assertEqual(wav_data(self.s.read("out.wav"))[1], 4 * SONG_FRAMES)
                self.s.write("out.wav", earlier)
            self.assertEqual((status, self.s.read("out.wav")), (-sig, earlier), options)


class Pathological(unittest.TestCase):
    """A valid song of a few hundred bytes at its worst: a tick every frame, a note every tick on every
    channel, loops of 65,536 inside loops of 65,536. Every command finishes within 1 GB and a minute (in the
    optimised build; the sanitized builds, several times slower, render 5 s of it and are not timed)."""

    def test_every_command_is_bounded(self):
        s = Scratch()
        try:
            notes = "".join(f"channel {c}\n  {'t0 ' if c == 0 else ''}o3 v8 [ [ [ c128 d128 ]0 ]0 ]0 {HOLD}\n"
                            for c in range(8))
            s.write("worst.txt", notes + "pattern spare\n  [ [ e128 ]0 ]0\n")
            limit = "" if SANITIZED else "ulimit -v 1000000;"  # the sanitizers reserve more address space
            length = ["--seconds", "5"] if SANITIZED else []
            stderr = {}
            for command in (("check", "worst.txt"), ("info", "worst.txt", "--json"), ("sounds", "worst.txt"),
                            ("disasm", "worst.txt"), ("asm", "worst.txt", "-o", "worst.bin"),
                            ("roll", "worst.txt", "-o", "worst.svg"), ("roll", "worst.txt", "-o", "worst.png"),
                            ("render", "worst.txt", "-o", "worst.wav", *length)):
                line = " ".join(shlex.quote(a) for a in (SONGTOOL, *command))
                start = time.monotonic()
                r = subprocess.run(["bash", "-c", f"{limit} {line} >/dev/null"], cwd=s.dir, capture_output=True,
                                   text=True, timeout=600)
                self.assertEqual(r.returncode, 0, (command, r.stderr[-500:]))
                if not SANITIZED:
                    self.assertLess(time.monotonic() - start, 60, command)
                stderr[command[-1]] = r.stderr
            self.assertIn("songtool: roll: drawn up to tick", stderr["worst.svg"])  # and says it is cut
        finally:
            s.cleanup()

if __name__ == "__main__":
    unittest.main()
