#!/usr/bin/python3
"""Synthesises the game's seven sound effects as 8-bit mono 32 kHz WAV files.

Everything is built from oscillators, seeded hash noise, envelopes and a few
simple filters, so the output is byte-for-byte the same on every run.

Usage: sounds.py [OUTDIR]   (default: resources/sounds next to this tool)
"""

import os
import sys
import wave

import numpy as np

RATE = 32000
SEED = 0x5EED_0A17

# ---------------------------------------------------------------- primitives


def hash_noise(n, seed):
    """Uniform noise in [-1, 1) from a counter-based integer hash (splitmix64).

    Deterministic across platforms and numpy versions, unlike library RNGs.
    """
    with np.errstate(over="ignore"):
        z = np.arange(n, dtype=np.uint64) + np.uint64(seed) * np.uint64(0x9E3779B97F4A7C15)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        z = z ^ (z >> np.uint64(31))
    return (z >> np.uint64(11)).astype(np.float64) / float(1 << 53) * 2.0 - 1.0


def times(seconds):
    return np.arange(int(round(seconds * RATE))) / RATE


def phase_of(freq):
    """Running phase (radians) of an oscillator whose frequency varies per sample."""
    return 2.0 * np.pi * np.cumsum(np.asarray(freq, dtype=np.float64)) / RATE


def glide(f0, f1, t, duration):
    """Exponential glide from f0 to f1 over `duration`, then holding f1."""
    u = np.clip(t / duration, 0.0, 1.0)
    return f0 * (f1 / f0) ** u


def onepole_lowpass(x, cutoff):
    """One-pole low-pass; cutoff may be a scalar or a per-sample array."""
    a = 1.0 - np.exp(-2.0 * np.pi * np.broadcast_to(cutoff, x.shape) / RATE)
    y = np.empty_like(x)
    s = 0.0
    for i in range(len(x)):
        s += a[i] * (x[i] - s)
        y[i] = s
    return y


def svf(x, cutoff, q=0.7071):
    """Trapezoidal state-variable filter; returns (lowpass, bandpass, highpass).

    Stays stable while the cutoff sweeps, which the launch and swell rely on.
    """
    fc = np.clip(np.broadcast_to(cutoff, x.shape), 10.0, RATE * 0.45)
    g = np.tan(np.pi * fc / RATE)
    k = 1.0 / q
    a1 = 1.0 / (1.0 + g * (g + k))
    lp = np.empty_like(x)
    bp = np.empty_like(x)
    hp = np.empty_like(x)
    ic1 = ic2 = 0.0
    for i in range(len(x)):
        gi = g[i]
        v1 = a1[i] * (ic1 + gi * (x[i] - ic2))
        v2 = ic2 + gi * v1
        ic1 = 2.0 * v1 - ic1
        ic2 = 2.0 * v2 - ic2
        lp[i] = v2
        bp[i] = v1
        hp[i] = x[i] - k * v1 - v2
    return lp, bp, hp


def decay(t, tau, start=0.0):
    """Exponential decay beginning at `start`, zero before it."""
    return np.where(t >= start, np.exp(-(t - start) / tau), 0.0)


def attack(t, length, start=0.0):
    """Raised-cosine ramp from 0 to 1 over `length` seconds from `start`."""
    u = np.clip((t - start) / length, 0.0, 1.0)
    return 0.5 - 0.5 * np.cos(np.pi * u)


def delayed(x, seconds):
    d = int(round(seconds * RATE))
    y = np.zeros_like(x)
    if d < len(x):
        y[d:] = x[: len(x) - d]
    return y


def saturate(x, drive):
    """Soft clipper: rounds off peaks instead of hard clipping them."""
    return np.tanh(drive * x) / np.tanh(drive)


def slow_noise(n, seed, rate_hz):
    """Smooth random control signal in about [-1, 1] changing at `rate_hz`."""
    step = max(1, int(RATE / rate_hz))
    knots = hash_noise(n // step + 3, seed)
    pos = np.arange(n) / step
    i = pos.astype(int)
    f = pos - i
    f = f * f * (3.0 - 2.0 * f)
    return knots[i] * (1.0 - f) + knots[i + 1] * f


# ------------------------------------------------------------------- sounds


def sfx_click():
    t = times(0.2)
    n = len(t)
    _, crack, _ = svf(hash_noise(n, SEED + 1) * decay(t, 0.0012), 3500.0, q=1.2)
    tick = np.sin(2 * np.pi * 1900 * t) * decay(t, 0.004)
    body = 0.6 * np.sin(2 * np.pi * 430 * t) * decay(t, 0.011)
    return 1.4 * crack + tick + body, 0.70


def sfx_greyout():
    t = times(0.3)
    f = glide(880.0, 200.0, t, 0.26)
    ph = phase_of(f)
    tone = np.sin(ph) + 0.28 * np.sin(3 * ph) + 0.12 * np.sin(2 * ph)
    tone = onepole_lowpass(tone, 3000.0)
    env = attack(t, 0.004) * decay(t, 0.11) * (1.0 - attack(t, 0.05, 0.25))
    return tone * env, 0.50


def chirp(t, start, f0, f1, length):
    """A short upward sweep starting at `start`, with a soft bell envelope."""
    local = t - start
    inside = (local >= 0) & (local < length + 0.06)
    f = glide(f0, f1, np.clip(local, 0, None), length)
    ph = phase_of(np.where(inside, f, 0.0))
    env = attack(local, 0.003) * decay(local, length * 0.55) * (1.0 - attack(local, 0.04, length + 0.02))
    return (np.sin(ph) + 0.2 * np.sin(2 * ph)) * env


def sfx_cursor():
    t = times(0.7)
    dry = chirp(t, 0.0, 720.0, 1500.0, 0.055) + 0.8 * chirp(t, 0.07, 1080.0, 2200.0, 0.05)
    wet = np.zeros_like(dry)
    for k, gain in enumerate((0.42, 0.2, 0.09, 0.04), start=1):
        wet += gain * delayed(dry, 0.13 * k)
    wet = onepole_lowpass(wet, 2600.0)
    return dry + wet, 0.60


def crackles(t, seed, count, spread, tau):
    """Sparse decaying pops scattered over the first `spread` seconds."""
    n = len(t)
    r = hash_noise(count * 2, seed)
    out = np.zeros(n)
    for k in range(count):
        when = 0.03 + spread * ((r[2 * k] + 1.0) * 0.5) ** 1.7
        i = int(when * RATE)
        length = int(0.004 * RATE)
        if i + length >= n:
            continue
        pop = hash_noise(length, seed + 100 + k) * decay(np.arange(length) / RATE, 0.0012)
        out[i : i + length] += pop * (0.5 + 0.5 * abs(r[2 * k + 1])) * np.exp(-when / tau)
    return out


def sfx_hit():
    t = times(1.0)
    n = len(t)
    noise = hash_noise(n, SEED + 20)
    blast, _, _ = svf(noise, glide(7000.0, 260.0, t, 0.45), q=0.9)
    blast *= attack(t, 0.0015) * decay(t, 0.17)
    f = glide(170.0, 42.0, t, 0.18)
    thump = np.sin(phase_of(f)) * attack(t, 0.002) * decay(t, 0.11)
    _, crack, _ = svf(crackles(t, SEED + 21, 40, 0.45, 0.2), 2500.0, q=0.8)
    tail, _, _ = svf(noise, 500.0)
    tail *= decay(t, 0.35) * attack(t, 0.05)
    x = 1.3 * blast + 0.9 * thump + 0.8 * crack + 0.6 * tail
    return saturate(x / np.max(np.abs(x)), 1.6), 0.90


def sfx_boom():
    t = times(2.1)
    n = len(t)
    f = glide(95.0, 27.0, t, 0.55)
    thump = np.sin(phase_of(f)) * attack(t, 0.004) * decay(t, 0.33)
    noise = hash_noise(n, SEED + 30)
    crunch, _, _ = svf(noise, glide(2600.0, 140.0, t, 1.3), q=0.8)
    crunch *= attack(t, 0.006) * decay(t, 0.45)
    brown = onepole_lowpass(hash_noise(n, SEED + 31), 90.0)
    brown /= np.max(np.abs(brown))
    flutter = 0.6 + 0.4 * slow_noise(n, SEED + 32, 7.0)
    rumble = brown * flutter * attack(t, 0.08) * decay(t, 0.75)
    _, crack, _ = svf(crackles(t, SEED + 33, 70, 1.2, 0.5), 1500.0, q=0.7)
    x = 1.0 * thump + 0.9 * crunch + 1.1 * rumble + 0.5 * crack
    x *= 1.0 - attack(t, 0.45, 2.1 - 0.45)
    return saturate(x / np.max(np.abs(x)), 1.8), 0.92


def sfx_missilelaunch():
    t = times(2.3)
    n = len(t)
    noise = hash_noise(n, SEED + 40)
    # Ignition: a short bright burst before the motor settles.
    ignite, _, _ = svf(noise, 5000.0)
    ignite *= attack(t, 0.002) * decay(t, 0.05)
    # Roar: low-passed noise opening up as the motor comes to full thrust,
    # closing again at the end as the missile climbs away.
    cut = glide(350.0, 2400.0, t, 1.3) * (1.0 - 0.6 * attack(t, 0.9, 1.4))
    roar, hiss, _ = svf(noise, cut, q=1.1)
    # Rumble: a buzzy low tone rising in pitch, shaken by a random flutter.
    f = glide(36.0, 78.0, t, 2.0)
    ph = phase_of(f)
    buzz = sum(np.sin(h * ph) / h for h in range(1, 7))
    buzz = onepole_lowpass(buzz, 260.0)
    flutter = 0.75 + 0.25 * slow_noise(n, SEED + 41, 18.0)
    rumble = buzz * flutter
    env = attack(t, 0.5) * (1.0 - attack(t, 0.8, 1.5))
    x = 0.9 * ignite + env * (1.0 * roar + 0.5 * hiss + 0.7 * rumble)
    return saturate(x / np.max(np.abs(x)), 1.4), 0.82


def sfx_appearing():
    t = times(6.1)
    n = len(t)
    # Chord voices glide up half an octave into A major while the swell builds.
    rise = attack(t, 4.3)
    chord = (110.0, 164.81, 220.0, 277.18, 329.63, 440.0)
    pad = np.zeros(n)
    for v, base in enumerate(chord):
        for detune in (-0.0035, 0.0, 0.0041):
            f = base * (1.0 + detune) * 2.0 ** (-0.5 * (1.0 - rise))
            ph = phase_of(f) + v * 1.3 + detune * 400
            pad += (np.sin(ph) + 0.35 * np.sin(2 * ph) + 0.12 * np.sin(3 * ph)) / (1.0 + 0.25 * v)
    pad = onepole_lowpass(pad, glide(300.0, 2400.0, t, 4.4))
    pad /= np.max(np.abs(pad))
    sub = np.sin(phase_of(55.0 * 2.0 ** (-0.5 * (1.0 - rise))))
    # Wind: band-passed noise sweeping upwards with the chord.
    _, wind, _ = svf(hash_noise(n, SEED + 50), glide(180.0, 3200.0, t, 4.4), q=2.5)
    wind /= np.max(np.abs(wind))
    # Audible from the start, so that the start control is answered at once, then building up.
    swell = attack(t, 0.04) * (0.3 + 0.7 * attack(t, 4.4) ** 1.2)
    release = 1.0 - attack(t, 1.5, 4.6)
    # Arrival: a bell-like shimmer where the swell peaks.
    bell = np.zeros(n)
    for f, g, tau in ((880.0, 1.0, 0.9), (1318.5, 0.6, 0.7), (1760.0, 0.45, 0.6), (2217.5, 0.3, 0.45)):
        bell += g * np.sin(2 * np.pi * f * t) * decay(t, tau, 4.35) * attack(t, 0.01, 4.35)
    x = swell * release * (0.8 * pad + 0.35 * sub + 0.3 * wind) + 0.28 * bell
    return saturate(x / np.max(np.abs(x)), 1.2), 0.85


SOUNDS = {
    "SFXAppearing": (sfx_appearing, 6.1),
    "SFXMissilelaunch": (sfx_missilelaunch, 2.3),
    "SFXBoom": (sfx_boom, 2.1),
    "SFXHit": (sfx_hit, 1.0),
    "SFXGreyout": (sfx_greyout, 0.3),
    "SFXCursor": (sfx_cursor, 0.7),
    "SFXClick": (sfx_click, 0.2),
}

# --------------------------------------------------------------- finishing


def finish(x, peak, seed):
    """DC-block, normalise, fade both ends and quantise to unsigned 8 bit."""
    # One-pole DC blocker (about 15 Hz).
    r = 1.0 - 2.0 * np.pi * 15.0 / RATE
    y = np.empty_like(x)
    prev_x = prev_y = 0.0
    for i in range(len(x)):
        prev_y = x[i] - prev_x + r * prev_y
        prev_x = x[i]
        y[i] = prev_y
    y *= peak / np.max(np.abs(y))
    n = len(y)
    fade_in = min(16, n // 4)
    fade_out = min(int(0.012 * RATE), n // 4)
    y[:fade_in] *= np.linspace(0.0, 1.0, fade_in, endpoint=False)
    y[n - fade_out :] *= np.linspace(1.0, 0.0, fade_out) ** 2
    scaled = y * 127.0
    # Triangular dither only where there is signal, so silence stays at 128.
    level = np.convolve(np.abs(scaled), np.ones(320) / 320.0, mode="same")
    gate = np.clip(level * 2.0, 0.0, 1.0)
    dither = (hash_noise(n, seed) + hash_noise(n, seed + 7)) * 0.5 * gate
    q = np.round(scaled + dither)
    q[0] = q[-1] = 0.0
    return (np.clip(q, -127, 127) + 128).astype(np.uint8)


def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(1)
        w.setframerate(RATE)
        w.writeframes(samples.tobytes())


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = argv[1] if len(argv) > 1 else os.path.join(here, "..", "..", "resources", "sounds")
    os.makedirs(outdir, exist_ok=True)
    for index, (name, (make, seconds)) in enumerate(SOUNDS.items()):
        signal, peak = make()
        expected = int(round(seconds * RATE))
        assert len(signal) == expected, (name, len(signal), expected)
        samples = finish(signal, peak, SEED + 1000 + index)
        write_wav(os.path.join(outdir, name + ".wav"), samples)
        print(f"{name}.wav  {seconds:.1f} s  {len(samples)} samples")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
