#!/usr/bin/env python3
"""Generates data/drum_samples.cpp, the drum channel's ten 8-bit PCM sounds.

The drum channel plays one value every 7 - octave frames, so a sound has no
fixed pitch or length in seconds: the song's octaves 2..5 play 8,820 to
22,050 values per second. The sounds are designed at 11,025 values per second
(octave 3); an octave higher raises pitch and shortens them by a third.

  sample  drum note  values  sound
     0      1, 11      669   kick: sine falling from 175 to 45 Hz, with a click
     1      2, 12       56   rim click: 1.7 kHz + 800 Hz ping with a noise tick
     2      3          918   snare: 185/330 Hz body under a bright noise burst
     3      4          582   clap: three quick noise bursts, then a short tail
     4      5           93   tick: a very tight closed hi-hat
     5      6          895   open hi-hat: metallic squares and noise, long ring
     6      7          255   closed hi-hat: the open hat's metal, choked short
     7      8          406   high tom: 290 -> 200 Hz
     8      9          575   low tom: 170 -> 110 Hz
     9     10          541   mid tom: 220 -> 150 Hz

Every sound starts loud, decays, is scaled so its largest swing reaches full
scale (127, or -128 for a sound whose biggest swing is negative), and fades
to exactly 0 over its last values: the channel holds the last value after a
sound ends, so a sound that stopped elsewhere would leave a DC step. Noise
comes from a fixed-seed linear congruential generator, so the output never
changes between runs.

Usage: tools/drumgen.py > data/drum_samples.cpp
"""
import math

RATE = 11025.0
LENGTHS = [669, 56, 918, 582, 93, 895, 255, 406, 575, 541]
NAMES = ["kick", "rim click", "snare", "clap", "tick (tight closed hi-hat)",
         "open hi-hat", "closed hi-hat", "high tom", "low tom", "mid tom"]
# What fits a drum lane's label in the piano roll.
SHORT_NAMES = ["kick", "rim", "snare", "clap", "tick", "open hat", "closed hat", "high tom", "low tom", "mid tom"]
DRUM_NOTES = ["1, 11", "2, 12", "3", "4", "5", "6", "7", "8", "9", "10"]


class Noise:
    """White noise in -1..1 from a fixed-seed linear congruential generator."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1103515245 + 12345) % 2**31
        return self.state / 2**30 - 1.0


def decay(n, tau):
    """Exponential decay over n values with time constant tau seconds."""
    return [math.exp(-(k / RATE) / tau) for k in range(n)]


def gliding_sine(n, low, high, glide_tau):
    """Sine whose frequency falls from high to low Hz with time constant glide_tau."""
    out, phase = [], 0.0
    for k in range(n):
        freq = low + (high - low) * math.exp(-(k / RATE) / glide_tau)
        out.append(math.sin(phase))
        phase += 2 * math.pi * freq / RATE
    return out


def sine(n, freq):
    return [math.sin(2 * math.pi * freq * k / RATE) for k in range(n)]


def noise(n, seed):
    gen = Noise(seed)
    return [gen.next() for _ in range(n)]


def high_pass(signal, cutoff):
    """One-pole high-pass: keeps what changes faster than cutoff Hz."""
    a = 1.0 / (1.0 + 2 * math.pi * cutoff / RATE)
    out, prev_in, prev_out = [], 0.0, 0.0
    for x in signal:
        prev_out = a * (prev_out + x - prev_in)
        prev_in = x
        out.append(prev_out)
    return out


def low_pass(signal, cutoff):
    """One-pole low-pass: smooths away what changes faster than cutoff Hz."""
    b = 1.0 - math.exp(-2 * math.pi * cutoff / RATE)
    out, state = [], 0.0
    for x in signal:
        state += b * (x - state)
        out.append(state)
    return out


def mix(*parts):
    """Sum of (weight, signal) pairs of equal length."""
    return [sum(w * s[k] for w, s in parts) for k in range(len(parts[0][1]))]


def shaped(signal, envelope):
    return [s * e for s, e in zip(signal, envelope)]


def metal(n):
    """Six detuned square waves: the clangy core of a hi-hat."""
    freqs = [205.3, 304.4, 369.6, 522.7, 540.0, 800.0]
    return [sum(1.0 if math.sin(2 * math.pi * f * k / RATE) >= 0 else -1.0 for f in freqs) / 6
            for k in range(n)]


def kick(n):
    body = gliding_sine(n, 45.0, 175.0, 0.012)
    click = shaped(high_pass(noise(n, 101), 1500.0), decay(n, 0.0015))
    return shaped(mix((-1.0, body), (0.4, click)), decay(n, 0.022))


def rim(n):
    ping = mix((1.0, sine(n, 1700.0)), (0.6, sine(n, 800.0)), (0.5, noise(n, 202)))
    return shaped(ping, decay(n, 0.0018))


def snare(n):
    body = shaped(mix((1.0, sine(n, 185.0)), (0.6, sine(n, 330.0))), decay(n, 0.014))
    rattle = shaped(high_pass(noise(n, 303), 900.0), decay(n, 0.026))
    return mix((0.7, body), (1.0, rattle))


def clap(n):
    hiss = low_pass(high_pass(noise(n, 404), 800.0), 2500.0)
    bursts = [0, 88, 176]
    tail_start = 264
    envelope = []
    for k in range(n):
        level = sum(math.exp(-((k - b) / RATE) / 0.003) for b in bursts if k >= b)
        if k >= tail_start:
            level += 0.8 * math.exp(-((k - tail_start) / RATE) / 0.009)
        envelope.append(level)
    return shaped(hiss, envelope)


def hat(n, tau, seed):
    sizzle = mix((0.6, metal(n)), (1.0, noise(n, seed)))
    return shaped(high_pass(sizzle, 2000.0), decay(n, tau))


def tom(n, low, high):
    return shaped(gliding_sine(n, low, high, 0.02), decay(n, 0.018))


def to_pcm(signal, fade=16):
    """Scales the largest swing to full scale and fades the last values to 0."""
    n = len(signal)
    fade = min(fade, n // 4)
    signal = [s * min(1.0, (n - 1 - k) / fade) for k, s in enumerate(signal)]
    top = max(signal)
    bottom = -min(signal)
    scale = min(127.0 / top if top > 0 else math.inf, 128.0 / bottom if bottom > 0 else math.inf)
    return [max(-128, min(127, round(s * scale))) for s in signal]


def sounds():
    n = LENGTHS
    return [
        kick(n[0]),
        rim(n[1]),
        snare(n[2]),
        clap(n[3]),
        hat(n[4], 0.0025, 505),
        hat(n[5], 0.030, 606),
        hat(n[6], 0.006, 707),
        tom(n[7], 200.0, 290.0),
        tom(n[8], 110.0, 170.0),
        tom(n[9], 150.0, 220.0),
    ]


def main():
    samples = [to_pcm(s) for s in sounds()]
    for s, length in zip(samples, LENGTHS):
        assert len(s) == length and s[-1] == 0
    starts = [sum(LENGTHS[:k]) for k in range(len(LENGTHS) + 1)]

    print("// Generated by tools/drumgen.py: edit the generator, not this file.")
    print("//")
    print("// sample  drum note  values  sound")
    for k, name in enumerate(NAMES):
        print(f"//   {k}     {DRUM_NOTES[k]:<9}  {LENGTHS[k]:4d}   {name}")
    print('#include "tables.h"')
    print()
    print("const int8_t wavetable[DRUM_PCM_LENGTH] = {")
    for k, s in enumerate(samples):
        print(f"    // sample {k}: {NAMES[k]}")
        for row in range(0, len(s), 16):
            print("    " + " ".join(f"{v:4d}," for v in s[row:row + 16]))
    print("};")
    print()
    print("const uint16_t sample_index[DRUM_SAMPLE_COUNT + 1] = {")
    print("    " + ", ".join(str(v) for v in starts) + ",")
    print("};")
    # The lane labels, as characters rather than pointers: read-only data
    # that needs no relocation.
    assert all(len(name) < 16 for name in SHORT_NAMES), "a name outgrows DRUM_NAME_SIZE"
    print()
    print("const char drum_sample_names[DRUM_SAMPLE_COUNT][DRUM_NAME_SIZE] = {")
    for name in SHORT_NAMES:
        print(f'    "{name}",')
    print("};")


if __name__ == "__main__":
    main()
