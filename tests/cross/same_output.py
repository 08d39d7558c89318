"""Checks that a cross-built songrender writes the same output.wav, byte for
byte, as the native build of the same tree. Each program renders the song in
an empty folder of its own; the two files must have the same SHA-256. When
they differ, names the first differing sample and its time in the song, the
place to start looking for the operation that rounds differently.

usage: same_output.py NATIVE_SONGRENDER [EMULATOR [ARGS...]] CROSS_SONGRENDER
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import time
import wave

RATE = 44100


def render(command, folder):
    """Runs one songrender in `folder`; returns the path of its output.wav."""
    # Playback goes to ALSA's null device, so a machine with a sound card
    # stays quiet and both runs do the same work.
    config = os.path.join(folder, "alsa-null.conf")
    with open(config, "w") as f:
        f.write("pcm.!default { type null }\n")
    env = dict(os.environ, ALSA_CONFIG_PATH=config)
    started = time.monotonic()
    try:
        run = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except OSError as error:
        sys.exit(f"FAIL: cannot run {' '.join(command)}: {error}")
    seconds = time.monotonic() - started
    output = os.path.join(folder, "output.wav")
    if run.returncode != 0 or not os.path.exists(output):
        sys.exit(f"FAIL: {' '.join(command)} exited {run.returncode} "
                 f"after {seconds:.1f} s without a complete output.wav:\n"
                 + run.stdout.decode(errors="replace")[-2000:])
    return output, seconds


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def first_difference(a, b):
    """Byte offset of the first difference, reading both files in step."""
    offset = 0
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            block_a, block_b = fa.read(1 << 20), fb.read(1 << 20)
            if block_a != block_b:
                for i, (x, y) in enumerate(zip(block_a, block_b)):
                    if x != y:
                        return offset + i
                return offset + min(len(block_a), len(block_b))
            if not block_a:
                return None
            offset += len(block_a)


def describe_difference(native, cross):
    offset = first_difference(native, cross)
    where = f"first differing byte at offset {offset}"
    try:
        with wave.open(native) as wa, wave.open(cross) as wb:
            frames_a = wa.readframes(wa.getnframes())
            frames_b = wb.readframes(wb.getnframes())
    except (wave.Error, EOFError) as error:
        return f"{where} (not comparable as WAV: {error})"
    samples = [i for i in range(0, min(len(frames_a), len(frames_b)), 2)
               if frames_a[i:i + 2] != frames_b[i:i + 2]]
    if not samples:
        return f"{where}, in the header or the length"
    i = samples[0]
    frame, side = divmod(i // 2, 2)
    value = lambda data: int.from_bytes(data[i:i + 2], "little", signed=True)
    return (f"{where}; {len(samples)} samples differ, the first at frame {frame} "
            f"({frame / RATE:.3f} s), {'left right'.split()[side]} side: "
            f"native {value(frames_a)}, cross {value(frames_b)}")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    native_program, cross_command = sys.argv[1], sys.argv[2:]
    if not os.access(native_program, os.X_OK):
        sys.exit(f"FAIL: no native songrender at {native_program}: "
                 "build the release preset first")
    with tempfile.TemporaryDirectory(prefix="songrender-native-") as native_dir, \
         tempfile.TemporaryDirectory(prefix="songrender-cross-") as cross_dir:
        native, native_seconds = render([native_program], native_dir)
        cross, cross_seconds = render(cross_command, cross_dir)
        native_hash, cross_hash = sha256_of(native), sha256_of(cross)
        print(f"native {native_hash}  {native_seconds:6.1f} s  {native_program}")
        print(f"cross  {cross_hash}  {cross_seconds:6.1f} s  {' '.join(cross_command)}")
        if native_hash != cross_hash:
            sys.exit("FAIL: the builds wrote different output.wav files: "
                     + describe_difference(native, cross))
    print("same output.wav on both builds")


if __name__ == "__main__":
    main()
