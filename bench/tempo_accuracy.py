#!/usr/bin/env python3
"""Measures the tempo estimators on music of known tempo: the default
estimator of `kestrune-cli tempo`, its `--method onset`, and `aubio tempo`
(Debian package aubio-tools) as a yardstick.

    python3 bench/tempo_accuracy.py MUSIC_DIR [--cli build/cli/kestrune-cli]
                                    [--render COUNT --seed N --seconds S]
                                    [--salience OUT.jsonl]

MUSIC_DIR holds WAV files and a manifest.json (file, bpm, style) as
bench/music/render.py writes them; with --render that script first renders
COUNT songs there. Prints one line per song, then a Markdown table:
Accuracy1 is the share of songs whose answer lies within 4 % of the known
tempo, Accuracy2 the share within 4 % of the tempo or of its double, half,
triple or third. No answer counts as wrong. --salience also writes the onset
estimate's lag table of every song (kestrune-onset-salience, built with the
benchmarks), one JSON line a song, to look at why an answer was picked.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

FACTORS2 = (1.0, 2.0, 0.5, 3.0, 1.0 / 3.0)


def within(estimate, truth, factors=(1.0,)):
    return estimate is not None and any(abs(estimate - truth * f) <= 0.04 * truth * f for f in factors)


def run_cli(cli, path, extra):
    out = subprocess.run([cli, "tempo", path, "--json", "--quiet"] + extra, capture_output=True, text=True)
    if out.returncode != 0:
        return None
    return json.loads(out.stdout)


def run_aubio(path):
    out = subprocess.run(["aubio", "tempo", path], capture_output=True, text=True)
    match = re.search(r"([0-9.]+) bpm", out.stdout)
    return float(match.group(1)) if out.returncode == 0 and match else None


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("music_dir")
    parser.add_argument("--cli", default=os.path.join(root, "build", "cli", "kestrune-cli"))
    parser.add_argument("--render", type=int, default=0, help="render this many songs first")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--salience", help="write the onset lag tables here (JSON lines)")
    args = parser.parse_args()

    if args.render:
        subprocess.run([sys.executable, os.path.join(root, "bench", "music", "render.py"), args.music_dir,
                        "--count", str(args.render), "--seed", str(args.seed), "--seconds", str(args.seconds)],
                       check=True)
    with open(os.path.join(args.music_dir, "manifest.json")) as f:
        songs = json.load(f)
    if args.salience:
        tool = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(args.cli))), "bench",
                            "kestrune-onset-salience")
        with open(args.salience, "w") as out:
            subprocess.run([tool] + [os.path.join(args.music_dir, s["file"]) for s in songs], stdout=out, check=True)
    have_aubio = shutil.which("aubio") is not None
    if not have_aubio:
        print("aubio not found (Debian package aubio-tools): its column is left out", file=sys.stderr)

    names = ["default", "onset"] + (["aubio"] if have_aubio else [])
    hits1 = {n: 0 for n in names}
    hits2 = {n: 0 for n in names}
    missing = {n: 0 for n in names}
    seconds = {n: 0.0 for n in names}
    confident = confident_right = 0
    print("%-36s %7s %8s %8s %6s %8s" % ("song", "tempo", "default", "onset", "conf", "aubio"))
    for song in songs:
        path = os.path.join(args.music_dir, song["file"])
        truth = float(song["bpm"])
        answers = {}
        t = time.perf_counter()
        j = run_cli(args.cli, path, [])
        seconds["default"] += time.perf_counter() - t
        answers["default"] = j["bpm"] if j else None
        t = time.perf_counter()
        j = run_cli(args.cli, path, ["--method", "onset"])
        seconds["onset"] += time.perf_counter() - t
        answers["onset"] = j["bpm"] if j else None
        conf = j["confidence"] if j else None
        if j and not j["uncertain"]:
            confident += 1
            confident_right += within(j["bpm"], truth)
        if have_aubio:
            t = time.perf_counter()
            answers["aubio"] = run_aubio(path)
            seconds["aubio"] += time.perf_counter() - t
        for n in names:
            hits1[n] += within(answers[n], truth)
            hits2[n] += within(answers[n], truth, FACTORS2)
            missing[n] += answers[n] is None

        def show(v):
            return "%8.2f" % v if v is not None else "       -"
        print("%-36s %7.2f %s %s %6s %s" % (song["file"][:36], truth, show(answers["default"]), show(answers["onset"]),
                                            "%.2f" % conf if conf is not None else "-",
                                            show(answers.get("aubio")) if have_aubio else ""))

    count = len(songs)
    print()
    print("%d songs (%s)" % (count, os.path.abspath(args.music_dir)))
    print()
    print("| estimator | Accuracy1 | Accuracy2 | no answer | seconds |")
    print("|---|---|---|---|---|")
    labels = {"default": "`tempo` (default)", "onset": "`tempo --method onset`", "aubio": "`aubio tempo`"}
    for n in names:
        print("| %s | %.0f %% (%d) | %.0f %% (%d) | %d | %.1f |" % (labels[n], 100.0 * hits1[n] / count, hits1[n],
                                                               100.0 * hits2[n] / count, hits2[n], missing[n],
                                                               seconds[n]))
    print()
    print("onset answers not marked uncertain: %d, of which within 4 %%: %d" % (confident, confident_right))


if __name__ == "__main__":
    main()
