"""End to end: songrender's messages, its WAV file as outside readers see
it, and its failures."""
import os
import subprocess
import unittest
import wave

from harness import SANITIZED, SONG_FRAMES, WAV_SIZE, Scratch, mask_time

EXPECTED_UNTIL_PLAYBACK = """Let's build a song!
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

"""


class NormalRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Scratch()
        cls.result = cls.scratch.run(args=("--ignored", "arguments"))
        cls.wav = cls.scratch.path("output.wav")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_exits_zero_with_the_messages_in_order(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertTrue(mask_time(self.result.stdout).startswith(EXPECTED_UNTIL_PLAYBACK),
                        self.result.stdout)

    def test_file_is_the_full_song(self):
        self.assertEqual(os.path.getsize(self.wav), WAV_SIZE)
        with open(self.wav, "rb") as f:
            header = f.read(44)
        self.assertEqual(int.from_bytes(header[4:8], "little"), WAV_SIZE - 8)
        self.assertEqual(int.from_bytes(header[40:44], "little"), WAV_SIZE - 44)

    def test_python_wave_reads_it(self):
        with wave.open(self.wav, "rb") as w:
            self.assertEqual(w.getnchannels(), 2)
            self.assertEqual(w.getframerate(), 44100)
            self.assertEqual(w.getsampwidth(), 2)
            self.assertEqual(w.getnframes(), SONG_FRAMES)
            self.assertEqual(w.getcomptype(), "NONE")

    def test_sox_reads_it(self):
        info = subprocess.run(["soxi", self.wav], capture_output=True, text=True, check=True).stdout
        self.assertRegex(info, r"Channels\s*: 2")
        self.assertRegex(info, r"Sample Rate\s*: 44100")
        self.assertRegex(info, r"Precision\s*: 16-bit")
        self.assertRegex(info, r"Duration\s*: 00:02:10.00 = 5733000 samples")
        self.assertRegex(info, r"Sample Encoding: 16-bit Signed Integer PCM")


class FailedExport(unittest.TestCase):
    def setUp(self):
        self.scratch = Scratch()
        self.old = b"an earlier render" * 1000
        with open(self.scratch.path("output.wav"), "wb") as f:
            f.write(self.old)

    def tearDown(self):
        self.scratch.cleanup()

    def test_disk_full_keeps_the_old_file_and_fails(self):
        # A 10 MB file-size limit stands in for a full disk.
        result = self.scratch.run(shell_prefix="ulimit -f 10000;")
        self.assertEqual(result.returncode, 1)
        self.assertIn("Writing to output file...\nError: could not write ./output.wav: File too large\n",
                      result.stdout)
        self.assertIn("could not write ./output.wav: File too large", result.stderr)
        self.assertNotIn("Successfully written!", result.stdout)
        self.assertIn("It's playback time!", result.stdout)  # playback still goes ahead
        with open(self.scratch.path("output.wav"), "rb") as f:
            self.assertEqual(f.read(), self.old)
        leftovers = [n for n in os.listdir(self.scratch.dir) if n.startswith(".output.wav")]
        self.assertEqual(leftovers, [])

    @unittest.skipIf(SANITIZED, "AddressSanitizer reserves more address space than the limit allows")
    def test_out_of_memory_is_reported_not_crashed(self):
        # Room for the program but not for the whole-song master mix.
        result = self.scratch.run(shell_prefix="ulimit -v 30000;")
        self.assertEqual(result.returncode, 1)
        self.assertIn("Error: out of memory: cannot allocate 45864000 bytes for the master mix", result.stdout)
        self.assertIn("out of memory", result.stderr)
        with open(self.scratch.path("output.wav"), "rb") as f:
            self.assertEqual(f.read(), self.old)

    @unittest.skipIf(SANITIZED, "the sanitizers reserve more address space than the limit allows")
    def test_thread_that_cannot_start_is_reported_not_crashed(self):
        # Room for the master mix but not for the render threads' stacks.
        result = self.scratch.run(shell_prefix="ulimit -v 70000;")
        self.assertEqual(result.returncode, 1)
        self.assertIn("Error: cannot start a render thread: ", result.stdout)
        self.assertIn("songrender: cannot start a render thread: ", result.stderr)
        with open(self.scratch.path("output.wav"), "rb") as f:
            self.assertEqual(f.read(), self.old)

if __name__ == "__main__":
    unittest.main()
