"""Sound for the desktop tests: a two-tone WAV file to play, and a recorder of the null sink's monitor
that tells whether, when and what was played."""

import array
import math
import os
import subprocess
import wave

RATE = 48000
CHANNELS = 2
BLOCK = RATE // 100  # frames per 10 ms block
LOUD = 1000  # peak sample value that counts as sound rather than silence


def write_two_tone_wav(path, first_hz=440, second_hz=1760, seconds=0.6):
    """A mono 16-bit WAV whose first half is one tone and second half another, so that a recording
    shows whether the start or the end of the sound was cut off."""
    rate = 44100
    frames = int(rate * seconds)
    samples = array.array("h")
    for i in range(frames):
        hz = first_hz if i < frames // 2 else second_hz
        samples.append(int(12000 * math.sin(2 * math.pi * hz * i / rate)))
    with wave.open(path, "wb") as wav:
        wav.setnchannels(1)
        wav.setsampwidth(2)
        wav.setframerate(rate)
        wav.writeframes(samples.tobytes())


class Recording:
    """Left-channel samples of a raw s16le stereo recording at 48 kHz."""

    def __init__(self, raw):
        samples = array.array("h")
        samples.frombytes(raw[: len(raw) // 4 * 4])
        self.left = samples[0::2]

    def loud_spans(self):
        """[(start, end)] in seconds of the stretches that are not silent (gaps under 50 ms join)."""
        spans = []
        for start in range(0, len(self.left), BLOCK):
            block = self.left[start : start + BLOCK]
            if block and max(abs(min(block)), max(block)) >= LOUD:
                begin, end = start / RATE, (start + len(block)) / RATE
                if spans and begin - spans[-1][1] < 0.05:
                    spans[-1] = (spans[-1][0], end)
                else:
                    spans.append((begin, end))
        return spans

    def frequency(self, start, seconds=0.04):
        """The tone's frequency over a short stretch, from its zero crossings."""
        first = int(start * RATE)
        part = self.left[first : first + int(seconds * RATE)]
        crossings = sum(1 for a, b in zip(part, part[1:]) if (a < 0) != (b < 0))
        return crossings / 2 / seconds

    def tones(self):
        """[(frequency at the start, frequency at the end, length)] of every loud span."""
        return [(self.frequency(begin + 0.01), self.frequency(end - 0.05), end - begin)
                for begin, end in self.loud_spans()]


class SoundRecorder:
    """Records the monitor of the session's null sink into a raw file while running."""

    def __init__(self, session, path):
        self.session, self.path = session, path
        self.process = None

    def start(self):
        with open(self.path, "wb") as raw:
            self.process = self.session.spawn(
                ["parec", "-d", "rig.monitor", "--raw", "--format=s16le", f"--rate={RATE}",
                 f"--channels={CHANNELS}", "--latency-msec=20"], stdout=raw)
        # The monitor delivers only while something plays: be connected before the sound starts.
        self.session.wait_until_recording()
        return self

    def recording(self):
        with open(self.path, "rb") as raw:
            return Recording(raw.read())

    def heard(self):
        return bool(self.recording().loud_spans())

    def stop(self):
        if self.process is not None:
            self.session.end_process(self.process)
            self.process = None
        return self.recording() if os.path.exists(self.path) else Recording(b"")


def play(session, path):
    """Plays a file through the session's sound server and waits for it to end."""
    subprocess.run(["paplay", path], env=session.env, check=True, timeout=30)
