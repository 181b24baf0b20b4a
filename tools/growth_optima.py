#!/usr/bin/env python3
"""Least-squares optima of the growth curves over their domain, for the tests.

For every series of tests/driver/data/growth_series.txt (one a line: name,
count, values) and each of the models
  3  a*exp(b*t) + k
  7  a*u^c*exp(b*u) + k, u = t + s
  8  a*u*exp(b*u) + k,   u = t + s
(t = 1..n) it finds the least-squares optimum over the domain a >= 0, b <= 0,
k >= 0, 0 <= s <= 10 n, 0 <= c <= 10, independently of the program's search:
a fine grid over b, s and c with a and k solved exactly by non-negative least
squares at every node, then bounded polishing (L-BFGS-B and Powell) from the
best nodes. Output: tests/driver/data/growth_optima.txt, one line per series
and model: name code rss a b c s k.

Regenerate after a change of the class means or of the bank (the test
GrowthDomain.StoredSeriesAreCurrent says when):
  KAVREL_WRITE_GROWTH_SERIES=$PWD/tests/driver/data/growth_series.txt \\
      build/test_driver --gtest_filter=GrowthDomain.WriteSeriesOnRequest
  python3 tools/growth_optima.py        # needs python3-numpy, python3-scipy
Takes a while (an interrupted run resumes; delete the optima file for a fresh one); the test suite only reads the stored optima.
"""
import os
import sys

import numpy as np

np.seterr(over="ignore", under="ignore")
from scipy.optimize import minimize

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "tests", "driver", "data")


def read_series(path):
    series = []
    with open(path) as f:
        tokens = f.read().split()
    i = 0
    while i < len(tokens):
        name, n = tokens[i], int(tokens[i + 1])
        series.append((name, np.array([float(v) for v in tokens[i + 2:i + 2 + n]])))
        i += 2 + n
    return series


def nnls_rss(G, y):
    """Rows of G are regressors g; a, k >= 0 minimising |y - a g - k|^2.
    Returns rss, a (scaled to the row), k, all arrays over the rows."""
    n = y.size
    ybar = y.mean()
    syy = ((y - ybar) ** 2).sum()
    gbar = G.mean(axis=1)
    Gc = G - gbar[:, None]
    sgg = (Gc * Gc).sum(axis=1)
    sgy = Gc @ (y - ybar)
    with np.errstate(divide="ignore", invalid="ignore"):
        a = np.where(sgg > 1e-13 * n * np.maximum(gbar * gbar, 1e-300), sgy / sgg, 0.0)
    k = ybar - a * gbar
    rss = syy - a * sgy
    ok = (a > 0) & (k >= 0)
    # Flat curve.
    kf = max(ybar, 0.0)
    rss_flat = syy + n * (ybar - kf) ** 2
    # k = 0.
    sg2 = (G * G).sum(axis=1)
    sgy_raw = G @ y
    with np.errstate(divide="ignore", invalid="ignore"):
        a0 = np.where(sg2 > 0, np.maximum(sgy_raw / sg2, 0.0), 0.0)
    rss0 = (y * y).sum() - a0 * sgy_raw
    rss_out = np.where(ok, rss, np.minimum(rss_flat, np.where(a0 > 0, rss0, np.inf)))
    use0 = (~ok) & (a0 > 0) & (rss0 < rss_flat)
    a_out = np.where(ok, a, np.where(use0, a0, 0.0))
    k_out = np.where(ok, k, np.where(use0, 0.0, kf))
    return np.maximum(rss_out, 0.0), a_out, k_out


def regressors(t, b, c, s):
    """Rows: log of u^c exp(b u) for each b (array), normalised by the row's max."""
    u = t + s
    L = np.outer(b, u) + (c * np.log(u) if c != 0 else 0.0)
    top = L.max(axis=1)
    return np.exp(L - top[:, None]), top


def profile(y, t, b, c, s):
    G, top = regressors(t, np.array([b]), c, s)
    rss, a, k = nnls_rss(G, y)
    a_true = a[0] * np.exp(-top[0]) if a[0] > 0 else 0.0
    return rss[0], a_true, k[0]


def optimum(y, code):
    n = y.size
    t = np.arange(1, n + 1, dtype=float)
    smax = 10.0 * n
    steepest = 80.0 * n  # -b*n: up to 80 e-folds per value
    declines = np.concatenate(([0.0], np.geomspace(1e-3, steepest, 64)))
    rates = -declines / n
    shifts = np.array([0.0]) if code == 3 else np.concatenate(([0.0], np.geomspace(0.05, smax, 32)))
    exps = (np.array([0.0 if code == 3 else 1.0]) if code != 7 else
            np.concatenate((np.linspace(0.0, 0.2, 11), np.geomspace(0.25, 10.0, 22))))
    grid = np.full((shifts.size, exps.size, rates.size), np.inf)
    for i, s in enumerate(shifts):
        for j, c in enumerate(exps):
            G, _ = regressors(t, rates, c, s)
            grid[i, j, :] = nnls_rss(G, y)[0]

    # Starts: the grid's local minima (no neighbour lower), lowest first.
    starts = []
    for i in range(shifts.size):
        for j in range(exps.size):
            for l in range(rates.size):
                v = grid[i, j, l]
                if not np.isfinite(v):
                    continue
                hood = grid[max(i - 1, 0):i + 2, max(j - 1, 0):j + 2, max(l - 1, 0):l + 2]
                if v <= hood.min():
                    starts.append((v, declines[l], exps[j], shifts[i]))
    starts.sort(key=lambda q: q[0])

    # Polish in x = (ln(1 - b*n), ln(1 + s), c) within the bounds.
    def unpack(x):
        b = -np.expm1(min(max(x[0], 0.0), np.log1p(steepest))) / n
        s = 0.0 if code == 3 else min(np.expm1(min(max(x[1], 0.0), np.log1p(smax))), smax)
        c = 0.0 if code == 3 else (1.0 if code == 8 else min(max(x[2], 0.0), 10.0))
        return b, c, s

    def f(x):
        b, c, s = unpack(x)
        return profile(y, t, b, c, s)[0]

    bounds = [(0.0, np.log1p(steepest)), (0.0, np.log1p(smax)), (0.0, 10.0)]
    best = (np.inf, None)
    for r, d, c, s in starts[:6]:
        x = np.array([np.log1p(d), np.log1p(s), c])
        if r < best[0]:
            best = (r, x)
        for method in ("L-BFGS-B", "Powell"):
            res = minimize(f, x, method=method, bounds=bounds)
            if res.fun < best[0]:
                best = (res.fun, res.x)
    for method in ("Powell", "L-BFGS-B"):
        res = minimize(f, best[1], method=method, bounds=bounds)
        if res.fun < best[0]:
            best = (res.fun, res.x)
    b, c, s = unpack(best[1])
    rss, a, k = profile(y, t, b, c, s)
    if a == 0.0:
        b = c = s = 0.0
    return rss, a, b, c, s, k


def main():
    series = read_series(os.path.join(DATA, "growth_series.txt"))
    out_path = os.path.join(DATA, "growth_optima.txt")
    # An interrupted run goes on where it stopped.
    done = set()
    if os.path.exists(out_path):
        with open(out_path) as f:
            done = {line.split()[0] for line in f if line.strip() and not line.startswith("#")}
    with open(out_path, "a") as out:
        if not done:
            out.write("# name code rss a b c s k  (tools/growth_optima.py)\n")
        for name, y in series:
            if name in done:
                continue
            for code in (3, 7, 8):
                rss, a, b, c, s, k = optimum(y, code)
                out.write(f"{name} {code} {rss:.12g} {a:.10g} {b:.10g} {c:.10g} {s:.10g} {k:.10g}\n")
            out.flush()
            print(name, file=sys.stderr)


if __name__ == "__main__":
    main()
