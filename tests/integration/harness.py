"""Runs the real programs in a scratch folder whose ALSA "default" device
stores every frame, unchanged, in capture.raw."""
import os
import re
import shlex
import shutil
import subprocess
import tempfile

SONGRENDER = os.environ["SONGRENDER"]
SONGTOOL = os.environ.get("SONGTOOL")  # unset where songtool is not built (no cairo)
SONGASM = os.environ["SONGASM"]
SANITIZED = os.environ.get("SANITIZED") == "1"
SONG_FRAMES = 5733000
HOLD = "[ r1 ]255"


def held_channels(first, last):
    """Channels that rest one bar, then hold."""
    return "".join(f"channel {c}\n  r1 {HOLD}\n" for c in range(first, last + 1))


class Scratch:
    def __init__(self, alsa_config=None):
        self.dir = tempfile.mkdtemp(prefix="songrender-")
        self.capture = self.path("capture.raw")
        alsa_config = alsa_config or f'pcm.!default {{ type file slave.pcm {{ type null }} file "{self.capture}" format "raw" }}\n'
        self.env = dict(os.environ, ALSA_CONFIG_PATH=self.write("alsa.conf", alsa_config))

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, content):
        with open(self.path(name), "wb" if isinstance(content, bytes) else "w") as f:
            f.write(content)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def run(self, *args, prefix="", program=SONGRENDER):
        """Runs the program in the folder; prefix runs first in its shell (for ulimit)."""
        command = " ".join(shlex.quote(a) for a in (program, *args))
        return subprocess.run(["bash", "-c", f"{prefix} exec {command}"], cwd=self.dir, env=self.env,
                              capture_output=True, text=True, timeout=1800)

    def tool(self, *args):
        return self.run(*args, program=SONGTOOL)

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)
