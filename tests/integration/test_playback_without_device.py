"""On a machine whose ALSA configuration has no "default" device the run
says why it cannot play, still leaves the whole WAV file and ends normally."""
import os
import unittest
import wave

from harness import SONG_FRAMES, Scratch


class PlaybackWithoutDefaultDevice(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Scratch(alsa_config="pcm.other { type null }\n")
        cls.result = cls.scratch.run()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_failure_line_names_the_device_and_alsas_reason(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertEqual(self.result.stdout.splitlines()[-3:],
                         ["It's playback time!", "",
                          'Error: ALSA device "default": cannot be opened '
                          "for playback: No such file or directory"])

    def test_wav_file_is_still_written_whole(self):
        path = self.scratch.path("output.wav")
        self.assertEqual(os.path.getsize(path), 44 + SONG_FRAMES * 4)
        with wave.open(path, "rb") as w:
            self.assertEqual(w.getnframes(), SONG_FRAMES)


if __name__ == "__main__":
    unittest.main()
