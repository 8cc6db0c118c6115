#!/usr/bin/env python3
"""Pronunciation of the built-in voice against espeak-ng's own Portuguese rules.

Both read every paragraph of bench/data/koral-corpus.txt with the same MBROLA
voice (br4): `koral --pho` and `espeak-ng -v mb-br4 --pho`. The phoneme names
of each (pauses "_" left out) are aligned with the Levenshtein distance; the
agreement is the share of aligned places where both have the same phoneme.
Prints the figure and the most frequent disagreements (ours -> espeak-ng).

    bench/koral_pronunciation.py [BUILD_DIR]    (default build/release)
"""
import collections
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def phonemes(lines):
    out = []
    for line in lines.splitlines():
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        name = line.split()[0]
        if name != "_":
            out.append(name)
    return out


def align(a, b):
    """Levenshtein alignment: a list of (x, y) with None for a gap."""
    n, m = len(a), len(b)
    d = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n + 1):
        d[i][0] = i
    for j in range(m + 1):
        d[0][j] = j
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (0 if a[i - 1] == b[j - 1] else 1))
    pairs = []
    i, j = n, m
    while i > 0 or j > 0:
        if i > 0 and j > 0 and d[i][j] == d[i - 1][j - 1] + (0 if a[i - 1] == b[j - 1] else 1):
            pairs.append((a[i - 1], b[j - 1]))
            i, j = i - 1, j - 1
        elif i > 0 and d[i][j] == d[i - 1][j] + 1:
            pairs.append((a[i - 1], None))
            i -= 1
        else:
            pairs.append((None, b[j - 1]))
            j -= 1
    return pairs[::-1]


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "release")
    koral = os.path.join(build, "koral")
    corpus = os.path.join(HERE, "data", "koral-corpus.txt")
    with open(corpus, encoding="utf-8") as f:
        paragraphs = [l.strip() for l in f if l.strip() and not l.startswith(";")]
    words = sum(len(p.split()) for p in paragraphs)
    same = total = 0
    diffs = collections.Counter()
    examples = {}
    for p in paragraphs:
        ours = phonemes(subprocess.run([koral, "--pho", p], capture_output=True, text=True,
                                       check=True).stdout)
        theirs = phonemes(subprocess.run(["espeak-ng", "-q", "-v", "mb-br4", "--pho", p],
                                         capture_output=True, text=True, check=True).stdout)
        for x, y in align(ours, theirs):
            total += 1
            if x == y:
                same += 1
            else:
                key = (x or "-", y or "-")
                diffs[key] += 1
                examples.setdefault(key, p[:60])
    print(f"corpus: {len(paragraphs)} paragraphs, {words} words")
    print(f"phonemes aligned: {total}, the same: {same} ({100.0 * same / max(total, 1):.1f} %)")
    print("most frequent disagreements (koral -> espeak-ng, '-' a gap):")
    for (x, y), n in diffs.most_common(25):
        print(f"  {x:>3} -> {y:<3} {n:5d}   e.g. {examples[(x, y)]}")


if __name__ == "__main__":
    main()
