"""Runs the real songrender in a scratch folder, with ALSA's "default"
device pointed at a file, and reads what it left behind."""
import os
import re
import shutil
import subprocess
import tempfile

SONGRENDER = os.environ["SONGRENDER"]
SANITIZED = os.environ.get("SANITIZED") == "1"
SONG_FRAMES = 5733000
WAV_SIZE = 44 + SONG_FRAMES * 4

# "default" plays at full speed into capture.raw.
ALSA_TO_FILE = """pcm.!default {
    type file
    slave.pcm { type null }
    file "%s"
    format "raw"
}
"""


class Scratch:
    """A temporary folder with an ALSA configuration that captures playback."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="songrender-")
        self.capture = os.path.join(self.dir, "capture.raw")
        self.alsa_conf = os.path.join(self.dir, "alsa.conf")
        with open(self.alsa_conf, "w") as f:
            f.write(ALSA_TO_FILE % self.capture)

    def path(self, name):
        return os.path.join(self.dir, name)

    def run(self, shell_prefix="", args=()):
        """Runs songrender in the folder; shell_prefix runs before it in the
        same shell (for ulimit)."""
        env = dict(os.environ, ALSA_CONFIG_PATH=self.alsa_conf)
        command = " ".join([shlex_quote(SONGRENDER)] + [shlex_quote(a) for a in args])
        return subprocess.run(["bash", "-c", f"{shell_prefix} exec {command}"], cwd=self.dir, env=env,
                              capture_output=True, text=True, timeout=1800)

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def shlex_quote(s):
    import shlex
    return shlex.quote(s)


def mask_time(stdout):
    return re.sub(r"Took \d+\.\d\d seconds", "Took #.## seconds", stdout)


def wav_data(path):
    with open(path, "rb") as f:
        return f.read()[44:]
