#!/usr/bin/env python3
"""Writes kavrel's example data: a ring-width file in the Tucson decade format
(thousandths of a millimetre, end marker -9999) and its pith-offset file.

The data are synthetic but shaped like real conifer collections: two cores per
tree, a common year-to-year climate signal, autocorrelated tree-level noise,
a few zero (locally absent) rings, and three growth courses on the cambial-age
axis -- declining (juvenile vigour), rising (suppressed youth, later release)
and humped (release in mid-life, decline after) -- over short and long series,
so that every age/growth class of the program is populated.

Everything comes from one small linear congruential generator with a fixed
seed, so the files are the same on every machine and Python version.

  tools/make_examples.py                    # writes examples/kavrel_example.rwl and .pith
  tools/make_examples.py --series 10000 --length 500 --out big.rwl
                                            # large file for timing runs (no pith file)
"""
import argparse
import math
import os


class Lcg:
    """Park-Miller minimal standard generator (exact in integer arithmetic)."""

    def __init__(self, seed):
        self.state = seed % 2147483647 or 1

    def uniform(self):
        self.state = (self.state * 48271) % 2147483647
        return self.state / 2147483647.0

    def normal(self):
        # Box-Muller, one value per call.
        u1 = max(self.uniform(), 1e-12)
        u2 = self.uniform()
        return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)

    def integer(self, lo, hi):
        return lo + int(self.uniform() * (hi - lo + 1))


def decade_lines(ident, first_year, widths_thousandths):
    """Decade lines: ID in columns 1-8, year in 9-12, up to ten 6-column
    values; the first line runs to the end of its decade; -9999 ends the series."""
    values = list(widths_thousandths) + [-9999]
    lines = []
    year = first_year
    i = 0
    while i < len(values):
        room = 10 - (year % 10)
        chunk = values[i:i + room]
        lines.append("%-8s%4d%s" % (ident, year, "".join("%6d" % v for v in chunk)))
        i += len(chunk)
        year += len(chunk)
    return lines


def growth_curve(course, age, total_age, level):
    """Expected ring width (mm) at cambial age `age` for the given course."""
    x = age / float(total_age)
    if course == "declining":
        return level * (0.35 + 1.6 * math.exp(-age / (0.25 * total_age)))
    if course == "rising":
        return level * (0.35 + 0.9 * (1.0 - math.exp(-3.0 * x)))
    # humped: moderate start, release in the middle third, lower final third
    return level * (0.8 + 0.8 * math.exp(-((x - 0.45) / 0.16) ** 2) - 0.35 * max(0.0, x - 0.62) / 0.38)


def make_series(rng, course, length, pith, end_year, climate, level):
    total = length + pith
    widths = []
    ar = 0.0
    first_year = end_year - length + 1
    for i in range(length):
        age = pith + i + 1
        year = first_year + i
        ar = 0.55 * ar + 0.18 * rng.normal()
        w = growth_curve(course, age, total, level) * math.exp(climate[year] + ar)
        widths.append(w)
    out = []
    for w in widths:
        t = max(int(round(w * 1000.0)), 0)
        # 999 would read back as the end marker of a hundredths file.
        out.append(998 if t == 999 else t)
    return first_year, out


def thirds_class(values, pith):
    """Growth pattern from the medians of the three thirds of the cambial-age
    axis (pith-offset positions count as missing), as the program classes it."""
    series = [None] * pith + [v / 1000.0 for v in values]
    total = len(series)
    t = int(math.floor(total * 0.31415927 + 0.5))
    parts = [series[0:t], series[t:2 * t], series[2 * t:]]

    def median(xs):
        xs = sorted(v for v in xs if v is not None)
        if not xs:
            return None
        n = len(xs)
        return xs[n // 2] if n % 2 else 0.5 * (xs[n // 2 - 1] + xs[n // 2])

    s1, s2, s3 = (median(p) for p in parts)
    if None in (s1, s2, s3):
        return "neither"
    if s1 < s2 and s1 < s3:
        return "high"
    if s1 > s2 and s1 > s3:
        return "low"
    return "neither"


def climate_signal(rng, first, last):
    signal = {}
    prev = 0.0
    for year in range(first, last + 1):
        prev = 0.3 * prev + 0.22 * rng.normal()
        signal[year] = prev
    return signal


def write_example(folder):
    rng = Lcg(20240607)
    climate = climate_signal(rng, 1500, 2030)
    # Six trees of each course, two cores per tree; the first three trees of
    # each course are short-lived, the others old.
    courses = ["declining", "rising", "humped"]
    rwl_lines = []
    pith_lines = []
    summary = []
    tree = 0
    for course in courses:
        for t in range(6):
            tree += 1
            old = t >= 3
            base_len = rng.integer(230, 380) if old else rng.integer(60, 150)
            end_year = 2023 - rng.integer(0, 12)
            level = 0.6 + 1.2 * rng.uniform()
            for core in "AB":
                length = max(40, base_len - rng.integer(0, 25))
                # Short cores come close to the pith; old trees are often cored off-centre.
                pith = rng.integer(0, 45 if old else 12) if rng.uniform() < 0.85 else 0
                for _attempt in range(20):
                    first_year, values = make_series(rng, course, length, pith, end_year,
                                                     climate, level)
                    wanted = {"declining": "low", "rising": "high", "humped": "neither"}[course]
                    if thirds_class(values, pith) == wanted:
                        break
                ident = "KVR%02d%s" % (tree, core)
                if ident in ("KVR05B", "KVR16A"):
                    # A locally absent ring, as real collections have.
                    values[len(values) // 2] = 0
                rwl_lines += decade_lines(ident, first_year, values)
                pith_lines.append("%-8s  %3d" % (ident, pith))
                summary.append((ident, length + pith, thirds_class(values, pith)))
    rwl_path = os.path.join(folder, "kavrel_example.rwl")
    pith_path = os.path.join(folder, "kavrel_example.pith")
    with open(rwl_path, "w", newline="\n") as f:
        f.write("\n".join(rwl_lines) + "\n")
    with open(pith_path, "w", newline="\n") as f:
        f.write("\n".join(pith_lines) + "\n")
    ages = sorted(a for _, a, _ in summary)
    n = len(ages)
    median = ages[n // 2] if n % 2 else 0.5 * (ages[n // 2 - 1] + ages[n // 2])
    mean = sum(ages) / float(n)
    for name, threshold in (("median", median), ("mean", mean)):
        counts = {}
        for _, age, growth in summary:
            key = "med" if growth == "neither" else ("short" if age <= threshold else "long") + growth
            counts[key] = counts.get(key, 0) + 1
        print("classes with the %s age %.1f as threshold: %s" % (name, threshold, sorted(counts.items())))
    print("wrote", rwl_path, "and", pith_path)


def write_large(path, series, length):
    rng = Lcg(987654321)
    climate = climate_signal(rng, 1000, 2030)
    courses = ["declining", "rising", "humped"]
    with open(path, "w", newline="\n") as f:
        for k in range(series):
            course = courses[k % 3]
            first_year, values = make_series(rng, course, length, 0, 2023 - (k % 20),
                                             climate, 0.6 + 1.2 * rng.uniform())
            ident = "B%07d" % (k + 1)
            f.write("\n".join(decade_lines(ident, first_year, values)) + "\n")
    print("wrote", path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--series", type=int, help="number of series of a large timing file")
    p.add_argument("--length", type=int, default=500, help="values per series of a large file")
    p.add_argument("--out", help="path of the large file")
    p.add_argument("--folder", default=os.path.join(here, "..", "examples"),
                   help="folder of the example files")
    a = p.parse_args()
    if a.series:
        write_large(a.out or "large.rwl", a.series, a.length)
    else:
        write_example(os.path.normpath(a.folder))


if __name__ == "__main__":
    main()
