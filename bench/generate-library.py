#!/usr/bin/env python3
"""Writes a synthetic ripped-music library of CUE sheets for the benchmarks.

Artist/album folders (or one flat folder with --flat), 10 to 25 tracks a sheet, about half
of the sheets with pregaps, LF and CR LF line ends, some titles in Latin-1.
"""
import argparse
import os
import random

WORDS = ["amour", "nuit", "soleil", "route", "ville", "mer", "ciel", "temps", "coeur", "feu",
         "jardin", "hiver", "lune", "vent", "danse", "silence", "ombre", "reve", "voix", "or"]
ACCENTED = ["été", "café", "rêverie", "déjà", "crème", "à la fenêtre", "où", "noël"]


def title(rng):
    words = [rng.choice(WORDS) for _ in range(rng.randint(1, 4))]
    if rng.random() < 0.3:
        words.append(rng.choice(ACCENTED))
    return " ".join(words).capitalize()


def sheet(rng, artist, album, with_pregaps):
    lines = [f'REM GENRE "Chanson"', f'REM DATE {rng.randint(1950, 2025)}',
             f'PERFORMER "{artist}"', f'TITLE "{album}"', f'FILE "{album}.flac" WAVE']
    seconds = 0
    for track in range(1, rng.randint(10, 25) + 1):
        lines += [f"  TRACK {track:02d} AUDIO", f'    TITLE "{title(rng)}"',
                  f'    PERFORMER "{artist}"']
        if track > 1 and with_pregaps:
            lines.append(f"    INDEX 00 {seconds // 60:02d}:{seconds % 60:02d}:00")
            seconds += 2
        lines.append(f"    INDEX 01 {seconds // 60:02d}:{seconds % 60:02d}:00")
        seconds += rng.randint(120, 420)
    ending = "\r\n" if rng.random() < 0.5 else "\n"
    encoding = "latin-1" if rng.random() < 0.3 else "utf-8"
    return (ending.join(lines) + ending).encode(encoding)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder")
    parser.add_argument("--sheets", type=int, default=10000)
    parser.add_argument("--flat", action="store_true", help="all sheets in one folder")
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    artists = [f"{title(rng)} {number:04d}" for number in range(args.sheets // 8 + 1)]
    for number in range(args.sheets):
        artist = artists[number // 8]
        album = f"{title(rng)} {number:05d}"
        folder = args.folder if args.flat else os.path.join(args.folder, artist, album)
        os.makedirs(folder, exist_ok=True)
        name = f"{album}.cue" if args.flat else "album.cue"
        with open(os.path.join(folder, name), "wb") as out:
            out.write(sheet(rng, artist, album, rng.random() < 0.5))


if __name__ == "__main__":
    main()
