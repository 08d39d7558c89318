"""End to end: one run of songrender gives its messages, a WAV file that
outside readers take, the same frames on the device, and the file songtool
renders from the song's source; then its failures."""
import hashlib
import os
import re
import shutil
import signal
import subprocess
import unittest
import wave

from harness import SANITIZED, SONG_FRAMES, SONGRENDER, SONGTOOL, Scratch

HERE = os.path.dirname(os.path.abspath(__file__))
NO_DEVICE = 'Error: ALSA device "default": cannot be opened for playback: No such file or directory\n'
EXPECTED_STDOUT = """Let's build a song!
Total samples: 11466000

Starting synthesis (this can take a little time)...

Processing channel 0: delay | reverb
Processing channel 1: delay | reverb
Processing channel 2: delay | reverb
Processing channel 3: delay | reverb
Processing channel 4: 
Processing channel 5: delay | reverb
Processing channel 6: delay | reverb
Processing channel 7: reverb

Processing master EQ...
Normalising track...

Done! Took #.## seconds to complete.

Building wave file...
Writing to output file...
Successfully written! (Maybe, there's no error checking.)
It's playback time!

Total processed frames: 5733000
Playback complete. Bye!
"""


def recorded_digest():
    with open(os.path.join(HERE, "..", "test_golden_output.cpp")) as f:
        return re.search(r'"output\.wav ([0-9a-f]{64})"', f.read()).group(1)


class NormalRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = Scratch()
        cls.result = cls.s.run("--ignored", "arguments")
        cls.wav = cls.s.path("output.wav")

    @classmethod
    def tearDownClass(cls):
        cls.s.cleanup()

    def test_exits_zero_with_the_messages_in_order(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertEqual(re.sub(r"Took \d+\.\d\d seconds", "Took #.## seconds", self.result.stdout), EXPECTED_STDOUT)

    def test_outside_readers_take_the_full_song(self):
        self.assertEqual(os.path.getsize(self.wav), 44 + SONG_FRAMES * 4)
        with wave.open(self.wav, "rb") as w:
            self.assertEqual((w.getnchannels(), w.getframerate(), w.getsampwidth(), w.getnframes(),
                              w.getcomptype()), (2, 44100, 2, SONG_FRAMES, "NONE"))
        info = subprocess.run(["soxi", self.wav], capture_output=True, text=True, check=True).stdout
        self.assertRegex(info, r"Duration\s*: 00:02:10.00 = 5733000 samples")
        self.assertIn("Sample Encoding: 16-bit Signed Integer PCM", info)

    def test_output_wav_digest_guards_against_change(self):
        self.assertEqual(hashlib.sha256(self.s.read("output.wav")).hexdigest(), recorded_digest())

    def test_device_and_aplay_get_exactly_the_wav_data(self):
        with wave.open(self.wav, "rb") as w:
            data = w.readframes(w.getnframes())
        captured = self.s.read("capture.raw")
        self.assertEqual(len(captured), SONG_FRAMES * 4)
        self.assertTrue(captured == data, "the device got other bytes than output.wav holds")
        aplay = shutil.which("aplay") or self.fail("aplay is missing: run scripts/setup")
        other = Scratch()
        self.addCleanup(other.cleanup)
        # A period of 1000 frames divides the song, so aplay pads nothing.
        done = subprocess.run([aplay, "-q", "-D", "default", "--period-size=1000", "--buffer-size=8000", self.wav],
                              env=other.env, capture_output=True, text=True, timeout=600)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(other.read("capture.raw") == captured, "aplay and songrender sent different bytes")

    @unittest.skipUnless(SONGTOOL, "songtool is not built here (cairo not found)")
    def test_songtool_renders_the_source_into_the_same_file(self):
        r = self.s.tool("render", os.path.join(HERE, "..", "..", "data", "song.txt"), "-o", "tool.wav")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "", ""))
        self.assertTrue(self.s.read("tool.wav") == self.s.read("output.wav"), "songtool render and songrender differ")


class Failures(unittest.TestCase):
    """Each run starts over an earlier output.wav, on a machine without a "default" device."""

    def setUp(self):
        self.s = Scratch(alsa_config="pcm.other { type null }\n")
        self.old = self.s.write("output.wav", b"an earlier render" * 1000)

    def tearDown(self):
        self.s.cleanup()

    def assert_old_file_kept(self):
        self.assertEqual(self.s.read("output.wav"), b"an earlier render" * 1000)
        self.assertEqual([n for n in os.listdir(self.s.dir) if n.startswith(".output.wav")], [])

    def test_disk_full_keeps_the_old_file_and_still_tries_playback(self):
        r = self.s.run(prefix="ulimit -f 10000;")  # a 10 MB file-size limit stands in for a full disk
        self.assertEqual(r.returncode, 1)
        self.assertIn("Writing to output file...\nError: could not write ./output.wav: File too large\n", r.stdout)
        self.assertIn("could not write ./output.wav: File too large", r.stderr)
        self.assertNotIn("Successfully written!", r.stdout)  # a failure never reported as success
        self.assertTrue(r.stdout.endswith("It's playback time!\n\n" + NO_DEVICE), r.stdout)
        self.assertNotIn("ALSA lib", r.stderr)  # the missing device is said once, in songrender's words
        self.assert_old_file_kept()

    def test_a_signal_while_writing_keeps_the_old_file(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for attempt in range(5):  # the write may finish before the signal lands
                p = subprocess.Popen([SONGRENDER], cwd=self.s.dir, env=self.s.env, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
                for line in p.stdout:
                    if line == "Writing to output file...\n":
                        p.send_signal(sig)
                        break
                p.stdout.close()
                status = p.wait(timeout=600)
                if status == -sig:
                    break
                self.assertEqual(status, 0)  # the whole file was written; without a device, nothing played
                self.s.write("output.wav", b"an earlier render" * 1000)
            self.assertEqual(status, -sig)
            self.assert_old_file_kept()

    @unittest.skipIf(SANITIZED, "the sanitizers reserve more address space than the limit allows")
    def test_a_memory_limit_is_reported_not_crashed(self):
        r = self.s.run(prefix="ulimit -v 30000;")
        self.assertEqual(r.returncode, 1)
        self.assertIn("Error: out of memory: cannot allocate 45864000 bytes for the master mix", r.stdout)
        self.assertIn("songrender: out of memory", r.stderr)
        self.assert_old_file_kept()

    @unittest.skipIf(SANITIZED, "the sanitizers reserve more address space than the limit allows")
    def test_a_limit_too_tight_for_more_threads_still_makes_the_song(self):
        # Room for the buffers but not for a second thread's stack and heap.
        r = self.s.run(prefix="ulimit -v 70000;")
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual(hashlib.sha256(self.s.read("output.wav")).hexdigest(), recorded_digest())


if __name__ == "__main__":
    unittest.main()
