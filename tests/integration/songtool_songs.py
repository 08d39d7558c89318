"""Runs the real songtool in a scratch folder, on small songs in the
notation."""
import os
import shutil
import subprocess
import tempfile

SONGTOOL = os.environ["SONGTOOL"]

HOLD = "[ r1 ]255"


def held_channels(first, last):
    """Channels that rest one bar, then hold."""
    return "".join(f"channel {c}\n  r1 {HOLD}\n" for c in range(first, last + 1))


class Scratch:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="songtool-")

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, content):
        mode = "wb" if isinstance(content, bytes) else "w"
        with open(self.path(name), mode) as f:
            f.write(content)
        return self.path(name)

    def run(self, *args):
        return subprocess.run([SONGTOOL, *args], cwd=self.dir, capture_output=True, text=True,
                              timeout=600)

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)
