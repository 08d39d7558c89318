"""The real program plays its song through libasound into a file: the bytes
that reach the device are exactly the samples of output.wav, and aplay, an
outside client, plays output.wav into the very same bytes."""
import shutil
import subprocess
import unittest
import wave

from harness import SONG_FRAMES, Scratch, read_bytes


class PlaybackIntoFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Scratch()
        cls.capture = cls.scratch.capture
        cls.wav = cls.scratch.path("output.wav")
        cls.result = cls.scratch.run()
        with wave.open(cls.wav, "rb") as w:
            cls.wav_frames = w.getnframes()
            cls.wav_data = w.readframes(w.getnframes())

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_run_ends_with_the_frame_total_and_completion(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertEqual(self.result.stdout.splitlines()[-4:],
                         ["It's playback time!", "",
                          "Total processed frames: 5733000",
                          "Playback complete. Bye!"])

    def test_device_receives_exactly_the_wav_samples(self):
        self.assertEqual(self.wav_frames, SONG_FRAMES)
        captured = read_bytes(self.capture)
        self.assertEqual(len(captured), SONG_FRAMES * 4)
        self.assertTrue(captured == self.wav_data,
                        "the device got other bytes than output.wav holds")

    def test_aplay_plays_the_wav_into_the_same_bytes(self):
        aplay = shutil.which("aplay")
        self.assertIsNotNone(aplay, "aplay is missing: run scripts/setup")
        aplay_scratch = Scratch()
        self.addCleanup(aplay_scratch.cleanup)
        capture = aplay_scratch.capture
        env = aplay_scratch.env
        # aplay pads its last period with silence; a period of 1000 frames
        # divides the song's length, so there is nothing to pad.
        done = subprocess.run(
            [aplay, "-q", "-D", "default", "--period-size=1000",
             "--buffer-size=8000", self.wav],
            env=env, capture_output=True, text=True, timeout=600)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(read_bytes(capture) == read_bytes(self.capture),
                        "aplay and songrender sent different bytes")


if __name__ == "__main__":
    unittest.main()
