"""Shared by the playback tests: runs the real program with the ALSA
library's whole configuration replaced by a given text."""
import os
import subprocess

SONGRENDER = os.environ["SONGRENDER"]
SONG_FRAMES = 5733000
RUN_TIMEOUT_SECONDS = 1100


def file_pcm(capture_path):
    """A PCM that stores every frame it is given, unchanged, in a file."""
    return ('{ type file slave.pcm { type null } file "%s" format "raw" }'
            % capture_path)


def alsa_env(folder, config_text):
    config = os.path.join(folder, "asound.conf")
    with open(config, "w") as f:
        f.write(config_text + "\n")
    env = dict(os.environ)
    env["ALSA_CONFIG_PATH"] = config
    return env


def run_songrender(folder, config_text):
    """Runs the program in `folder`, where it leaves its output.wav."""
    return subprocess.run([SONGRENDER], cwd=folder,
                          env=alsa_env(folder, config_text),
                          capture_output=True, text=True,
                          timeout=RUN_TIMEOUT_SECONDS)
