#!/usr/bin/env python3
"""Times the click train of `brontide-tone-source ID NAME clicks` in several recordings at once and prints how much
later each one plays it than the first.  Usage: clicks.py SECONDS SOURCE...  where a SOURCE is `monitor:SINK`
(that sink's monitor, through pw-record) or a receiver's NAME.pcm (S16LE stereo 44.1 kHz, appended as it plays,
beside its NAME.conf).
Prints "skew NAME MS JITTER_MS CLICKS" for every source after the first, or "skew NAME none" when its clicks do
not line up with the first's. A recording is timed by when its bytes arrive: the frame count against the
monotonic clock, taken at the earliest arrivals (a writer is never early, only sometimes late)."""
import os
import subprocess
import sys
import threading
import time

import numpy as np


class Recording:
    def __init__(self, source):
        self.name, self.arrivals, self.data = source, [], bytearray()
        if source.startswith("monitor:"):
            self.rate, self.lead = 48000, 0.0
            self.child = subprocess.Popen(
                ["pw-record", "--target", source[8:], "-P", "{ stream.capture.sink = true }", "--rate", "48000",
                 "--channels", "2", "--format", "s16", "--latency", "10ms", "-"], stdout=subprocess.PIPE)
            threading.Thread(target=self.read, daemon=True).start()
        else:
            self.rate, self.child, self.start = 44100, None, os.path.getsize(source) // 4 * 4
            self.name = os.path.basename(source).removesuffix(".pcm")
            self.path = source
            # shairport-sync writes a frame that long before it is due (its backend buffer): plays it then.
            self.lead = 0.0
            with open(source.removesuffix(".pcm") + ".conf") as conf:
                for line in conf:
                    if "audio_backend_buffer_desired_length_in_seconds" in line:
                        self.lead = float(line.split("=")[1].strip(" ;\n"))

    def read(self):
        while chunk := os.read(self.child.stdout.fileno(), 65536):
            self.data += chunk
            self.arrivals.append((time.monotonic(), len(self.data) // 4))

    def poll(self):
        if self.child is None:
            self.arrivals.append((time.monotonic(), (os.path.getsize(self.path) - self.start) // 4))

    def finish(self):
        if self.child is not None:
            self.child.terminate()
            self.child.wait()
        else:
            with open(self.path, "rb") as f:
                f.seek(self.start)
                self.data = f.read(self.arrivals[-1][1] * 4)

    def onsets(self):
        """The monotonic time of each click: its first sample above a quarter of the loudest, after 0.2 s quiet."""
        left = np.abs(np.frombuffer(bytes(self.data[: len(self.data) // 4 * 4]), dtype="<i2")[0::2].astype(float))
        if left.size == 0 or left.max() < 300:
            return np.array([])
        loud = np.flatnonzero(left > left.max() / 4)
        frames = loud[np.diff(loud, prepend=-self.rate) > self.rate // 5]
        times, counts = np.array(self.arrivals).T
        base = times - counts / self.rate
        out = []
        for f in frames:
            near = base[np.abs(counts - f) < 2 * self.rate]
            if near.size:
                out.append(np.percentile(near, 2) + f / self.rate + self.lead)
        return np.array(out)


def skew(reference, other):
    """The lag at which most clicks line up within 20 ms, refined to their median, and the spread about it."""
    lags = (other[None, :] - reference[:, None]).ravel()
    lags = lags[np.abs(lags) < 5]
    if lags.size == 0:
        return None
    best = max(lags, key=lambda lag: np.sum(np.abs(lags - lag) < 0.02))
    matched = lags[np.abs(lags - best) < 0.02]
    if matched.size < 3:
        return None
    median = np.median(matched)
    return median, np.max(np.abs(matched - median)), matched.size


def main():
    seconds, sources = float(sys.argv[1]), sys.argv[2:]
    recordings = [Recording(s) for s in sources]
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for r in recordings:
            r.poll()
        time.sleep(0.001)
    for r in recordings:
        r.finish()
    onsets = [r.onsets() for r in recordings]
    for r, times in zip(recordings[1:], onsets[1:]):
        found = skew(onsets[0], times) if len(onsets[0]) and len(times) else None
        if found is None:
            print(f"skew {r.name} none", flush=True)
        else:
            print(f"skew {r.name} {found[0] * 1000:.1f} {found[1] * 1000:.1f} {found[2]}", flush=True)


if __name__ == "__main__":
    main()
