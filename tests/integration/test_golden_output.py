"""The real program, with both its threads, writes the output.wav whose
digest tests/test_golden_output.cpp records (a golden value that guards
against change, produced by the straightforward pipeline)."""
import hashlib
import os
import re
import unittest

import harness

GOLDEN_SOURCE = os.path.join(os.path.dirname(__file__), "..", "test_golden_output.cpp")


def recorded_wav_digest():
    with open(GOLDEN_SOURCE) as f:
        return re.search(r'"output\.wav ([0-9a-f]{64})"', f.read()).group(1)


class GoldenOutput(unittest.TestCase):
    def test_output_wav_digest_guards_against_change(self):
        scratch = harness.Scratch()
        try:
            result = scratch.run()
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            digest = hashlib.sha256(harness.read_bytes(scratch.path("output.wav"))).hexdigest()
            self.assertEqual(digest, recorded_wav_digest())
        finally:
            scratch.cleanup()


if __name__ == "__main__":
    unittest.main()
