#!/usr/bin/env python3
# Writes packaging/notify.wav, the new-message chime: python3 notify-wav.py
# Two soft bell tones with decaying partials: the new-message chime.
import math, os, struct, wave
rate = 22050
dur = 0.62
n = int(rate * dur)
notes = [(0.00, 1318.5), (0.14, 1760.0)]  # E6, then A6
out = []
for i in range(n):
    t = i / rate
    s = 0.0
    for start, f in notes:
        if t < start:
            continue
        u = t - start
        env = math.exp(-u * 7.0) * min(1.0, u / 0.004)
        s += env * (math.sin(2 * math.pi * f * u) + 0.35 * math.sin(2 * math.pi * 2 * f * u) * math.exp(-u * 6))
    fade = min(1.0, (n - i) / (0.03 * rate))
    out.append(int(max(-1.0, min(1.0, 0.32 * s * fade)) * 32767))
with wave.open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "notify.wav"), "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(rate)
    w.writeframes(b"".join(struct.pack("<h", v) for v in out))
