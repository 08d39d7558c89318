"""Checks that a cross-built songrender writes the same output.wav, byte for
byte, as the native build of the same tree, each rendering in an empty folder
of its own. When they differ, names the first differing sample and its time.

usage: same_output.py NATIVE_SONGRENDER [EMULATOR [ARGS...]] CROSS_SONGRENDER
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import time

RATE = 44100


def render(command, folder):
    """Runs one songrender in `folder`; returns its output.wav's bytes and the seconds taken."""
    # Playback goes to ALSA's null device, so a sound card stays quiet and both runs do the same work.
    config = os.path.join(folder, "alsa-null.conf")
    with open(config, "w") as f:
        f.write("pcm.!default { type null }\n")
    started = time.monotonic()
    try:
        run = subprocess.run(command, cwd=folder, env=dict(os.environ, ALSA_CONFIG_PATH=config),
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except OSError as error:
        sys.exit(f"FAIL: cannot run {' '.join(command)}: {error}")
    seconds = time.monotonic() - started
    output = os.path.join(folder, "output.wav")
    if run.returncode != 0 or not os.path.exists(output):
        sys.exit(f"FAIL: {' '.join(command)} exited {run.returncode} after {seconds:.1f} s without a complete "
                 "output.wav:\n" + run.stdout.decode(errors="replace")[-2000:])
    with open(output, "rb") as f:
        return f.read(), seconds


def describe_difference(a, b):
    offset = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    where = f"first differing byte at offset {offset}"
    samples = [i for i in range(44, min(len(a), len(b)) - 1, 2) if a[i:i + 2] != b[i:i + 2]]
    if not samples:
        return f"{where}, in the header or the length"
    frame, side = divmod((samples[0] - 44) // 2, 2)
    value = lambda data: int.from_bytes(data[samples[0]:samples[0] + 2], "little", signed=True)
    return (f"{where}; {len(samples)} samples differ, the first at frame {frame} ({frame / RATE:.3f} s), "
            f"{'left right'.split()[side]} side: native {value(a)}, cross {value(b)}")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    native_program, cross_command = sys.argv[1], sys.argv[2:]
    if not os.access(native_program, os.X_OK):
        sys.exit(f"FAIL: no native songrender at {native_program}: build the release preset first")
    with tempfile.TemporaryDirectory(prefix="songrender-native-") as native_dir, \
         tempfile.TemporaryDirectory(prefix="songrender-cross-") as cross_dir:
        native, native_seconds = render([native_program], native_dir)
        cross, cross_seconds = render(cross_command, cross_dir)
        native_hash, cross_hash = hashlib.sha256(native).hexdigest(), hashlib.sha256(cross).hexdigest()
        print(f"native {native_hash}  {native_seconds:6.1f} s  {native_program}")
        print(f"cross  {cross_hash}  {cross_seconds:6.1f} s  {' '.join(cross_command)}")
        if native_hash != cross_hash:
            sys.exit("FAIL: the builds wrote different output.wav files: " + describe_difference(native, cross))
    print("same output.wav on both builds")


if __name__ == "__main__":
    main()
