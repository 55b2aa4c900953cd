#!/usr/bin/env python3
"""The sample mission's mixed sound, as --audio-out wrote it, against the game's sounds.

  mission_sound_check.py <wav> <log>
  mission_sound_check.py seam <looped sound>

sox reads the file's format (48 kHz, two channels, 16 bits) and its extremes on its own;
numpy measures the content over 100 ms windows of both channels mixed: the shot's tone
(880 +- 10 Hz, at least -30 dBFS) in at least one window, the explosion's (80 +- 5 Hz, at
least -40 dBFS) in at least one when the log shows a destroyed tower, the wind's band
(300 to 3,000 Hz, at least -45 dBFS) in at least half the windows after the first that
sounds, and no sample at full scale. Levels are of a full-scale sine's amplitude (a tone)
or of the full scale's square (a band's mean power).

A run whose log says its output was stepped (--step-time) mixed the game's steps: then the
file holds at least the mission's steps (1/15 s each, from the result line) and at most
that and the result's wait, and each destroyed tower's explosion begins within 50 ms of
its step's time (the step from the log's "Tower ... destroyed at step N": N/15 s), its
onset where the explosion's band (60 to 100 Hz) first reaches half its peak. On the
real clock the game may run faster than the mixer, and only the content is checked.

seam: a sound that loops (the wind), decoded by sox, runs from its last sample into its
first as it runs within itself: neither the step across the seam (first difference) nor
its change of slope (second difference) is larger than the largest within the sound.
"""
import re
import subprocess
import sys
import wave

import numpy as np

RATE, CHANNELS, BITS = 48000, 2, 16
WINDOW = RATE // 10
FULL = 32768.0
SHOT = (880.0, 10.0, -30.0)       # Hz, +- Hz, dBFS at least
EXPLOSION = (80.0, 5.0, -40.0)  # a tower far from the listener sounds softer
WIND = (300.0, 3000.0, -45.0)     # band and its level at least
WIND_SHARE = 0.5
SOUNDING = -60.0                  # a window louder than this (mean power, dBFS) sounds
STEP = 1.0 / 15                   # seconds of game time per step
STEPPED = "Sound output: stepped"  # the log's line of a run whose output mixed the game's steps
ONSET_BAND = (60.0, 100.0)        # Hz: the explosion's band, clear of the wind's
ONSET_TOLERANCE = 0.05            # seconds
RESULT_WAIT = 60.0                # seconds the run may go on after the mission's last step
# A tone is a peak: its band's highest bin stands this far (dB) above the median bin of
# the SURROUNDINGS Hz either side of the band; digital silence counts as SILENCE dBFS.
PEAK_ABOVE, SURROUNDINGS, SILENCE = 12.0, 200.0, -200.0
failures = []


def sox_format(path):
    """(rate, channels, bits) as sox --i reads them."""
    def info(flag):
        return subprocess.run(["sox", "--i", flag, path], check=True, capture_output=True, text=True).stdout.strip()
    return int(info("-r")), int(info("-c")), int(info("-b"))


def sox_extremes(path):
    """(maximum, minimum) amplitude by sox's stat, full scale 1."""
    text = subprocess.run(["sox", path, "-n", "stat"], check=True, capture_output=True, text=True).stderr
    value = lambda name: float(re.search(name + r" amplitude:\s+(-?[0-9.]+)", text).group(1))
    return value("Maximum"), value("Minimum")


def samples(path):
    with wave.open(path, "rb") as w:
        frames = w.readframes(w.getnframes())
        return np.frombuffer(frames, "<i2").reshape(-1, w.getnchannels())


def spectra(mono):
    """Per 100 ms window: frequencies, the amplitude of each bin as a sine's (dBFS), and
    the window's mean power (dBFS)."""
    count = len(mono) // WINDOW
    w = np.hanning(WINDOW)
    blocks = mono[:count * WINDOW].reshape(count, WINDOW) * w
    x = np.fft.rfft(blocks, axis=1)
    freqs = np.fft.rfftfreq(WINDOW, 1.0 / RATE)
    with np.errstate(divide="ignore"):
        tone = 20 * np.log10(2 * np.abs(x) / w.sum() / FULL)
        power = 2 * np.abs(x) ** 2 / (WINDOW * np.sum(w * w))
        total = 10 * np.log10(power.sum(axis=1) / FULL ** 2)
    return freqs, tone, power, total


def tone_windows(freqs, tone, spec):
    """Windows where the spectrum peaks within the tone's band, at its level and above
    its surroundings (a loud broad noise is no tone)."""
    centre, reach, level = spec
    band = (freqs >= centre - reach) & (freqs <= centre + reach)
    around = ~band & (np.abs(freqs - centre) <= reach + SURROUNDINGS)
    floored = np.maximum(tone, SILENCE)
    peak = floored[:, band].max(axis=1)
    return np.nonzero((peak >= level) & (peak - np.median(floored[:, around], axis=1) >= PEAK_ABOVE))[0]


def band_levels(freqs, power, spec):
    low, high, _ = spec
    band = (freqs >= low) & (freqs <= high)
    with np.errstate(divide="ignore"):
        return 10 * np.log10(power[:, band].sum(axis=1) / FULL ** 2)


def onset(mono, at):
    """When the explosion's band first reaches half its peak within a second around
    `at` (seconds), or None when nothing sounds there."""
    low, high = max(0, int((at - 0.5) * RATE)), min(len(mono), int((at + 0.6) * RATE))
    segment = mono[low:high]
    if len(segment) < RATE // 10:
        return None
    spectrum = np.fft.rfft(segment)
    freqs = np.fft.rfftfreq(len(segment), 1.0 / RATE)
    spectrum[(freqs < ONSET_BAND[0]) | (freqs > ONSET_BAND[1])] = 0
    band = np.fft.irfft(spectrum, len(segment))
    window = RATE // 100
    envelope = np.sqrt(np.convolve(band ** 2, np.ones(window) / window, mode="same"))
    if envelope.max() <= 0:
        return None
    return (low + int(np.argmax(envelope >= 0.5 * envelope.max()))) / RATE


def check_game_clock(mono, text):
    """The stepped output's file against the log's steps."""
    seconds = len(mono) / RATE
    result = re.search(r"Mission M01 finished: .* steps (\d+)", text)
    if result is None:
        failures.append("the log holds no result line: the file's length is not checked")
    else:
        played = int(result.group(1)) * STEP
        print("%.2f s of sound for %.2f s of the mission's steps" % (seconds, played))
        if not played <= seconds <= played + RESULT_WAIT:
            failures.append("%.2f s of sound for a mission of %.2f s" % (seconds, played))
    for name, step in re.findall(r"Tower (\w+) destroyed at step (\d+)", text):
        expected = int(step) * STEP
        began = onset(mono, expected)
        print("%s destroyed at step %s (%.3f s): explosion at %s" % (name, step, expected,
                                                                     "none" if began is None else "%.3f s" % began))
        if began is None or abs(began - expected) > ONSET_TOLERANCE:
            failures.append("the explosion of %s (step %s, %.3f s) begins at %s" % (
                name, step, expected, "no time" if began is None else "%.3f s" % began))


def check(wav, log):
    fmt = sox_format(wav)
    if fmt != (RATE, CHANNELS, BITS):
        failures.append("format %s, not %s" % (fmt, (RATE, CHANNELS, BITS)))
        return
    highest, lowest = sox_extremes(wav)
    data = samples(wav)
    if highest >= 1.0 or lowest <= -1.0 or data.max() >= 32767 or data.min() <= -32768:
        failures.append("a sample at full scale (sox: %.4f %.4f)" % (highest, lowest))
    with open(log, encoding="utf-8", errors="replace") as f:
        text = f.read()
    mono = data.astype(float).mean(axis=1)
    if STEPPED in text:
        check_game_clock(mono, text)
    freqs, tone, power, total = spectra(mono)
    shots = tone_windows(freqs, tone, SHOT)
    print("shot in %d windows" % len(shots))
    if len(shots) == 0:
        failures.append("no window holds the shot's %g Hz at %g dBFS" % (SHOT[0], SHOT[2]))
    destroyed = re.search(r"Tower \w+ destroyed at step", text) is not None
    if destroyed:
        blasts = tone_windows(freqs, tone, EXPLOSION)
        print("explosion in %d windows" % len(blasts))
        if len(blasts) == 0:
            failures.append("a tower was destroyed but no window holds the explosion's %g Hz" % EXPLOSION[0])
    sounding = np.nonzero(total > SOUNDING)[0]
    if len(sounding) == 0:
        failures.append("no window sounds")
        return
    wind = band_levels(freqs, power, WIND)[sounding[0]:]
    share = np.mean(wind >= WIND[2])
    print("wind in %.0f %% of %d windows" % (100 * share, len(wind)))
    if share < WIND_SHARE:
        failures.append("the wind's band at %g dBFS in %.0f %% of the windows" % (WIND[2], 100 * share))


def check_seam(path):
    raw = subprocess.run(["sox", path, "-t", "raw", "-e", "signed", "-b", "16", "-L", "-c", "1", "-"], check=True,
                         capture_output=True).stdout
    x = np.frombuffer(raw, "<i2").astype(float)
    if len(x) < 16:
        failures.append("%s holds no sound" % path)
        return
    across = np.concatenate([x[-3:], x[:3]])
    for order in (1, 2):
        own = np.abs(np.diff(x, order)).max()
        seam = np.abs(np.diff(across, order)).max()
        print("difference %d: %.0f across the seam, %.0f at most within" % (order, seam, own))
        if seam > own:
            failures.append("the seam's difference %d is %.0f, the sound's own at most %.0f" % (order, seam, own))


def main(argv):
    if len(argv) == 3 and argv[1] == "seam":
        check_seam(argv[2])
    elif len(argv) == 3:
        check(argv[1], argv[2])
    else:
        sys.stderr.write(__doc__)
        return 2
    for f in failures:
        print("FAIL:", f)
    print("sound: %d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
