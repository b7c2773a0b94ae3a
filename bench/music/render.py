#!/usr/bin/env python3
"""Renders measuring material: songs made as MIDI and played by fluidsynth with
a General MIDI soundfont into 44.1 kHz stereo 16-bit WAV files.

    python3 bench/music/render.py OUT_DIR [--count 40] [--seed 1] [--seconds 60]

Every song has a known tempo, drawn between 80 and 180 BPM (a few just outside
and near the edges), a style (straight, sixteenths, swing, shuffle in
triplets, half-time, four on the floor, bossa, waltz), a drum kit, a bass, a
chord instrument and a chord progression in a random key, sections that repeat
(A A B A), silence at both ends and sometimes a silent break inside. The
songs and OUT_DIR/manifest.json (file, bpm, style, meter, seconds, key, kit)
depend only on the seed, so a measurement can be repeated.

Needs the Debian packages fluidsynth and fluid-soundfont-gm (installed when
missing and this user may).
"""
import argparse
import json
import os
import random
import shutil
import struct
import subprocess
import sys

SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
TPQ = 480  # MIDI ticks per quarter note

STYLES = ["straight", "sixteenths", "swing", "shuffle", "halftime", "four_on_floor", "bossa", "waltz"]
KITS = [0, 8, 16, 24, 25, 32, 40]  # standard, room, power, electronic, analog, jazz, brush
CHORD_PROGRAMS = [0, 2, 4, 5, 16, 19, 24, 25, 27, 29, 48, 50, 61, 81, 88, 89]
BASS_PROGRAMS = [32, 33, 34, 35, 36, 38, 39, 43]
LEAD_PROGRAMS = [11, 13, 56, 65, 66, 71, 73, 80, 108]
PROGRESSIONS = [[0, 5, 3, 4], [0, 3, 4, 4], [5, 3, 0, 4], [0, 4, 5, 3], [1, 4, 0, 0], [0, 6, 5, 4]]
MAJOR = [0, 2, 4, 5, 7, 9, 11]

KICK, SNARE, HAT, OPEN_HAT, RIDE, CLAP, RIM, TOM, SHAKER, COWBELL = 36, 38, 42, 46, 51, 39, 37, 45, 70, 56


def var_len(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


class Track:
    """Absolute-time MIDI events, written out as one format-0 track."""

    def __init__(self):
        self.events = []  # (tick, order, bytes)

    def add(self, tick, data, order=1):
        self.events.append((max(0, int(round(tick))), order, bytes(data)))

    def note(self, tick, length, channel, key, velocity):
        velocity = max(1, min(127, int(velocity)))
        self.add(tick, [0x90 | channel, key, velocity], 2)
        self.add(tick + max(1, length), [0x80 | channel, key, 0], 0)

    def write(self, path):
        body = bytearray()
        last = 0
        for tick, _, data in sorted(self.events, key=lambda e: (e[0], e[1])):
            body += var_len(tick - last) + data
            last = tick
        body += var_len(0) + b"\xFF\x2F\x00"
        with open(path, "wb") as f:
            f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, TPQ))
            f.write(b"MTrk" + struct.pack(">I", len(body)) + body)


def drum_bar(style, beats, swing):
    """(position in quarters, key, velocity) of one bar of drums."""
    hits = []

    def eighth(i):  # the i-th eighth note of the bar, swung or straight
        return i // 2 + (swing if i % 2 else 0.0)

    if style == "waltz":
        hits += [(0, KICK, 110), (1, HAT, 70), (2, HAT, 70), (1, SNARE, 80), (2, SNARE, 75)]
        hits += [(eighth(i), HAT, 55) for i in range(1, 6, 2)]
    elif style == "four_on_floor":
        hits += [(b, KICK, 115) for b in range(beats)]
        hits += [(b + 0.5, OPEN_HAT, 75) for b in range(beats)]
        hits += [(1, CLAP, 95), (3, CLAP, 95)]
        hits += [(b * 0.25, SHAKER, 45) for b in range(beats * 4)]
    elif style == "halftime":
        hits += [(0, KICK, 115), (1.5, KICK, 90), (2, SNARE, 110)]
        hits += [(eighth(i), HAT, 70 if i % 2 == 0 else 50) for i in range(beats * 2)]
    elif style == "sixteenths":
        hits += [(0, KICK, 115), (0.75, KICK, 85), (2.5, KICK, 100), (1, SNARE, 105), (3, SNARE, 105), (3.75, SNARE, 50)]
        hits += [(i * 0.25, HAT, 80 if i % 4 == 0 else 48) for i in range(beats * 4)]
    elif style == "bossa":
        hits += [(0, KICK, 95), (1.5, KICK, 80), (2, KICK, 95), (3.5, KICK, 80)]
        hits += [(p, RIM, 85) for p in (0, 0.75, 1.5, 2.5, 3.25)]
        hits += [(i * 0.5, SHAKER, 50) for i in range(beats * 2)]
    elif style == "swing":
        hits += [(0, KICK, 70), (2, KICK, 65), (1, SNARE, 55), (3, SNARE, 60)]
        hits += [(b, RIDE, 90) for b in range(beats)] + [(1 + swing, RIDE, 70), (3 + swing, RIDE, 70)]
        hits += [(1, HAT, 70), (3, HAT, 70)]
    elif style == "shuffle":
        hits += [(0, KICK, 110), (2, KICK, 105), (1, SNARE, 105), (3, SNARE, 105)]
        hits += [(b + t / 3.0, HAT, 75 if t == 0 else 55) for b in range(beats) for t in (0, 2)]
        hits += [(3 + 1 / 3.0, TOM, 70), (3 + 2 / 3.0, TOM, 80)]
    else:  # straight
        hits += [(0, KICK, 115), (2, KICK, 110), (2.5, KICK, 80), (1, SNARE, 110), (3, SNARE, 110)]
        hits += [(eighth(i), HAT, 80 if i % 2 == 0 else 55) for i in range(beats * 2)]
    return [(p, k, v) for p, k, v in hits if p < beats]


def bass_bar(style, beats, root, swing):
    if style == "waltz":
        return [(0, root, 1.0), (1, root + 7, 0.9), (2, root + 12, 0.9)]
    if style == "bossa":
        return [(0, root, 1.4), (1.5, root + 7, 0.4), (2, root + 7, 1.4), (3.5, root, 0.4)]
    if style == "halftime":
        return [(0, root, 1.8), (2.5, root + 12, 0.5), (3, root + 7, 0.9)]
    if style in ("swing", "shuffle"):  # walking quarters
        steps = [0, 4, 7, 9]
        return [(b, root + steps[b % 4], 0.9) for b in range(beats)]
    if style == "four_on_floor":
        return [(b + 0.5, root + (12 if b % 2 else 0), 0.4) for b in range(beats)]
    return [(i // 2 + (swing if i % 2 else 0), root + (0 if i % 4 != 3 else 7), 0.4) for i in range(beats * 2)]


def chord_bar(style, beats, swing):
    """(position, length) in quarters of the chord hits of a bar."""
    if style in ("four_on_floor", "sixteenths"):
        return [(b + 0.5, 0.35) for b in range(beats)]
    if style == "swing":
        return [(0, 0.6), (1 + swing, 0.3), (2.5 + (swing - 0.5), 0.8)]
    if style == "shuffle":
        return [(b + 2 / 3.0, 0.3) for b in range(beats)]
    if style == "bossa":
        return [(0, 0.4), (0.75, 0.4), (1.5, 0.4), (2.5, 0.4), (3.25, 0.4)]
    if style == "waltz":
        return [(1, 0.8), (2, 0.8)]
    return [(0, beats - 0.1)]


def make_song(rng, index, seconds):
    edge = rng.random()
    if edge < 0.1:
        bpm = rng.uniform(78.0, 84.0)
    elif edge < 0.2:
        bpm = rng.uniform(172.0, 182.0)
    else:
        bpm = 80.0 * (180.0 / 80.0) ** rng.random()
    bpm = round(bpm, 2)
    style = STYLES[index % len(STYLES)] if index < len(STYLES) else rng.choice(STYLES)
    beats = 3 if style == "waltz" else 4
    swing = {"swing": rng.uniform(0.62, 0.68), "shuffle": 2 / 3.0}.get(style, 0.5)
    key = rng.randrange(12)
    kit = 32 if style == "swing" and rng.random() < 0.5 else rng.choice(KITS)
    chord_program = rng.choice(CHORD_PROGRAMS)
    bass_program = rng.choice(BASS_PROGRAMS)
    lead_program = rng.choice(LEAD_PROGRAMS) if rng.random() < 0.6 else None
    prog_a = rng.choice(PROGRESSIONS)
    prog_b = rng.choice(PROGRESSIONS)

    track = Track()
    track.add(0, [0xFF, 0x51, 0x03] + list(int(round(60e6 / bpm)).to_bytes(3, "big")), 0)
    track.add(0, [0xC0, chord_program])
    track.add(0, [0xC1, bass_program])
    if lead_program is not None:
        track.add(0, [0xC2, lead_program])
    track.add(0, [0xB9, 0, 0])
    track.add(0, [0xC9, kit])
    for ch, pan in ((0, 40), (1, 64), (2, 90)):
        track.add(0, [0xB0 | ch, 10, pan])

    lead_in = rng.uniform(0.3, 2.5)  # seconds of silence before the music
    start = lead_in * bpm / 60.0  # in quarters
    bars = max(4, int((seconds - lead_in - 1.5) * bpm / 60.0 / beats))
    break_bar = rng.randrange(8, bars - 2) if bars > 12 and rng.random() < 0.3 else -1
    form = "AABA"
    melody = [rng.choice(MAJOR) + 12 * rng.randrange(0, 2) for _ in range(8)]
    for bar in range(bars):
        if bar == break_bar:
            continue  # a bar of silence inside the song
        section = form[(bar // 4) % len(form)]
        prog = prog_a if section == "A" else prog_b
        degree = prog[bar % 4]
        root = 36 + key + MAJOR[degree]
        t0 = start + bar * beats
        fill = bar % 8 == 7
        for p, k, v in drum_bar(style, beats, swing):
            if fill and p >= beats - 1 and k in (HAT, RIDE, SHAKER):
                continue
            track.note((t0 + p) * TPQ + rng.gauss(0, 4), TPQ // 8, 9, k, v + rng.randint(-8, 8))
        if fill:
            for i in range(4):
                track.note((t0 + beats - 1 + i * 0.25) * TPQ, TPQ // 8, 9, [TOM, 47, 48, 50][i], 100)
        for p, n, length in bass_bar(style, beats, root, swing):
            track.note((t0 + p) * TPQ, int(length * TPQ), 1, n, 95 + rng.randint(-6, 6))
        chord = [60 + key + MAJOR[(degree + s) % 7] + (12 if degree + s >= 7 else 0) for s in (0, 2, 4)]
        for p, length in chord_bar(style, beats, swing):
            for n in chord:
                track.note((t0 + p) * TPQ, int(length * TPQ), 0, n, 70 + rng.randint(-5, 5))
        if lead_program is not None and section == "B":
            for i in range(beats):
                n = 72 + key + MAJOR[melody[(bar * beats + i) % 8] % 7] + 12 * (melody[(bar * beats + i) % 8] // 7)
                track.note((t0 + i) * TPQ, int(0.9 * TPQ), 2, n, 85)
    return track, {"bpm": bpm, "style": style, "meter": f"{beats}/4", "key": key, "kit": kit,
                   "lead_in_seconds": round(lead_in, 3), "break_bar": break_bar}


def ensure_tools():
    if shutil.which("fluidsynth") and os.path.exists(SOUNDFONT):
        return
    if os.geteuid() == 0 and shutil.which("apt-get"):
        subprocess.run(["apt-get", "-o", "DPkg::Lock::Timeout=600", "install", "-y", "-qq",
                        "--no-install-recommends", "fluidsynth",
                        "fluid-soundfont-gm"], check=False, stdout=subprocess.DEVNULL)
    if not (shutil.which("fluidsynth") and os.path.exists(SOUNDFONT)):
        sys.exit("render.py: needs the Debian packages fluidsynth and fluid-soundfont-gm")


def render(midi, wav, seconds):
    subprocess.run(["fluidsynth", "-ni", "-q", "-g", "0.5", "-r", "44100", "-O", "s16", "-T", "wav",
                    "-F", wav, SOUNDFONT, midi], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out_dir")
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--seconds", type=float, default=60.0)
    args = parser.parse_args()
    ensure_tools()
    os.makedirs(args.out_dir, exist_ok=True)
    manifest = []
    for i in range(args.count):
        rng = random.Random(args.seed * 100003 + i)
        track, info = make_song(rng, i, args.seconds)
        name = f"song_{i:03d}_{info['style']}_{info['bpm']:.2f}"
        midi = os.path.join(args.out_dir, name + ".mid")
        wav = os.path.join(args.out_dir, name + ".wav")
        track.write(midi)
        if not os.path.exists(wav):
            render(midi, wav, args.seconds)
        info["file"] = name + ".wav"
        manifest.append(info)
        print(f"{name}.wav", file=sys.stderr)
    with open(os.path.join(args.out_dir, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)


if __name__ == "__main__":
    main()
