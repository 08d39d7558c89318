"""Runs the real songrender in a scratch folder, with ALSA's "default"
device pointed at a file, and reads what it left behind."""
import os
import re
import shlex
import shutil
import subprocess
import tempfile

SONGRENDER = os.environ["SONGRENDER"]
SANITIZED = os.environ.get("SANITIZED") == "1"
SONG_FRAMES = 5733000
WAV_SIZE = 44 + SONG_FRAMES * 4



def file_pcm(capture_path):
    """A PCM that stores every frame it is given, unchanged, in a file, at
    full speed."""
    return 'pcm.!default { type file slave.pcm { type null } file "%s" format "raw" }\n' % capture_path


class Scratch:
    """A temporary folder with an ALSA configuration of its own, which
    replaces the library's whole configuration. By default "default" plays
    into capture.raw in the folder."""

    def __init__(self, alsa_config=None):
        self.dir = tempfile.mkdtemp(prefix="songrender-")
        self.capture = os.path.join(self.dir, "capture.raw")
        self.alsa_conf = os.path.join(self.dir, "alsa.conf")
        self.env = dict(os.environ, ALSA_CONFIG_PATH=self.alsa_conf)
        with open(self.alsa_conf, "w") as f:
            f.write(alsa_config if alsa_config is not None else file_pcm(self.capture))

    def path(self, name):
        return os.path.join(self.dir, name)

    def run(self, shell_prefix="", args=()):
        """Runs songrender in the folder; shell_prefix runs before it in the
        same shell (for ulimit)."""
        command = " ".join(shlex.quote(a) for a in (SONGRENDER, *args))
        return subprocess.run(["bash", "-c", f"{shell_prefix} exec {command}"], cwd=self.dir, env=self.env,
                              capture_output=True, text=True, timeout=1800)

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def mask_time(stdout):
    return re.sub(r"Took \d+\.\d\d seconds", "Took #.## seconds", stdout)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()
