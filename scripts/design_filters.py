#!/usr/bin/python3
"""Designs the four transmit FIR filters and writes them to modem/tx/filter_taps.cpp.

Rerun from the repository root:

    /usr/bin/python3 scripts/design_filters.py            # writes modem/tx/filter_taps.cpp
    /usr/bin/python3 scripts/design_filters.py --check    # designs and reports, writes nothing

It needs NumPy and SciPy (`apt-get install python3-scipy`); the build does not, it compiles the
committed table.  The output is deterministic, so rerunning it reproduces the committed file.

Every filter is symmetric (linear phase).  Each design is measured here against the same bounds
that tests/modem/filter_response_test.cpp checks on the committed table, and nothing is written
unless all of them hold.

Shaping filters (one per transmit profile, at the profile's inner rate): Parks-McClellan
equiripple low-pass (scipy.signal.remez) with the band edges and pass:stop weights below, then
scaled so the taps sum to the stated DC gain.  A 128-tap filter at 9600 Hz cannot have both 0.2 dB
passband flatness to 1400 Hz and 60 dB from 1600 Hz with its -3 dB point at exactly 1450 Hz (the
best possible is about 1455 Hz), so the -3 dB points are held to within 10 Hz of nominal.

Output low-pass (after the interpolator, 48000 Hz): a shaped response, 0.85 at DC rising to 1.15
at 2400 Hz, then 0.93 at 3300, 0.59 at 4000, 0.16 at 5000 Hz and at most 0.003 from 6000 Hz.  With
an even length and gains given at points, neither remez nor firls fits it well; it is designed as
a minimax problem solved by linear programming (scipy.optimize.linprog, HiGHS): minimise the peak
stop-band gain from 6000 Hz to 24000 Hz, with the DC gain fixed at the stated tap sum and the gain
at each stated frequency held within +-0.01 of its value.
"""

import argparse
import dataclasses
import os
import sys

import numpy as np
from scipy import optimize, signal


@dataclasses.dataclass(frozen=True)
class ShapingDesign:
    name: str               # C++ table name
    taps: int
    rate_hz: float
    design_pass_edge_hz: float   # remez pass-band edge
    design_stop_edge_hz: float   # remez stop-band edge
    stop_weight: float           # remez weight of the stop band (pass band has weight 1)
    tap_sum: float               # DC gain the taps are scaled to
    # Bounds checked on the result:
    pass_edge_hz: float          # pass band is 0..pass_edge_hz
    ripple_db: float             # pass band lies within +-ripple_db of 0 dB, peak to peak <= ripple_db
    minus3db_hz: float           # nominal -3 dB point (gain 1/sqrt(2))
    minus3db_tolerance_hz: float
    stop_edge_hz: float
    stop_atten_db: float         # gain <= -stop_atten_db from stop_edge_hz to rate/2
    comment: str


SHAPING = [
    ShapingDesign("kShapingTaps2400At48k", 128, 9600.0, 1400.0, 1600.0, 12.0, 1.009416,
                  1400.0, 0.2, 1450.0, 10.0, 1600.0, 60.0,
                  "2400 symbols/s shaping filter at 9600 Hz"),
    ShapingDesign("kShapingTaps2000At48k", 188, 12000.0, 1130.0, 1310.0, 20.0, 0.978277,
                  1130.0, 0.4, 1180.0, 10.0, 1330.0, 59.0,
                  "2000 symbols/s shaping filter at 12000 Hz"),
    ShapingDesign("kShapingTaps2000At8k", 128, 8000.0, 1130.0, 1310.0, 20.0, 0.980300,
                  1130.0, 0.35, 1180.0, 10.0, 1330.0, 59.0,
                  "2000 symbols/s shaping filter at 8000 Hz"),
]


@dataclasses.dataclass(frozen=True)
class OutputLowpassDesign:
    name: str = "kOutputLowpassTaps"
    taps: int = 32
    rate_hz: float = 48000.0
    tap_sum: float = 0.844537                      # DC gain
    # (frequency Hz, gain) the response passes through, within design_tolerance.
    points: tuple = ((2400.0, 1.15), (3300.0, 0.93), (4000.0, 0.59), (5000.0, 0.16))
    design_tolerance: float = 0.01
    stop_edge_hz: float = 6000.0
    stop_grid_points: int = 4000                   # LP grid over stop_edge_hz..rate/2
    # Bounds checked on the result:
    dc_gain: float = 0.85                          # nominal gain at 0 Hz
    gain_tolerance: float = 0.03                   # at DC and at each point
    stop_gain_max: float = 0.003
    peak_gain_max: float = 1.18                    # nowhere above this
    comment: str = "output low-pass after the interpolator at 48000 Hz"


OUTPUT_LOWPASS = OutputLowpassDesign()


def symmetric(h):
    """Exactly symmetric copy: mean of the filter and its reverse."""
    h = np.asarray(h, dtype=np.float64)
    return 0.5 * (h + h[::-1])


def design_shaping(d):
    h = signal.remez(d.taps, [0.0, d.design_pass_edge_hz, d.design_stop_edge_hz, d.rate_hz / 2],
                     [1.0, 0.0], weight=[1.0, d.stop_weight], fs=d.rate_hz, maxiter=500)
    h = symmetric(h)
    return h * (d.tap_sum / h.sum())


def cos_rows(freqs_hz, half, rate_hz):
    """Amplitude response rows of an even-length symmetric filter with half-length `half`:
    A(f) = sum_k 2 c_k cos(2 pi f (k + 1/2) / rate), c_k the taps from the centre outwards."""
    k = np.arange(half) + 0.5
    return 2.0 * np.cos(2.0 * np.pi * np.outer(np.atleast_1d(freqs_hz), k) / rate_hz)


def design_output_lowpass(d):
    half = d.taps // 2
    stop = cos_rows(np.linspace(d.stop_edge_hz, d.rate_hz / 2, d.stop_grid_points), half, d.rate_hz)
    pts = cos_rows([f for f, _ in d.points], half, d.rate_hz)
    gains = np.array([g for _, g in d.points])
    ns, npts = len(stop), len(pts)
    # Variables: c_0..c_{half-1}, s.  Minimise s subject to |A(f)| <= s over the stop band,
    # |A(f_i) - g_i| <= tolerance at the points, A(0) = tap sum.
    a_ub = np.vstack([np.c_[stop, -np.ones(ns)], np.c_[-stop, -np.ones(ns)],
                      np.c_[pts, np.zeros(npts)], np.c_[-pts, np.zeros(npts)]])
    b_ub = np.r_[np.zeros(2 * ns), gains + d.design_tolerance, -(gains - d.design_tolerance)]
    a_eq = np.c_[cos_rows([0.0], half, d.rate_hz), [0.0]]
    cost = np.r_[np.zeros(half), 1.0]
    res = optimize.linprog(cost, A_ub=a_ub, b_ub=b_ub, A_eq=a_eq, b_eq=[d.tap_sum],
                           bounds=[(None, None)] * (half + 1), method="highs")
    if res.status != 0:
        sys.exit(f"{d.name}: linear program failed: {res.message}")
    c = res.x[:half]
    return np.r_[c[::-1], c]


def gain(h, freqs_hz, rate_hz):
    n = np.arange(len(h))
    f = np.atleast_1d(np.asarray(freqs_hz, dtype=np.float64))
    return np.abs(np.exp(-2j * np.pi * np.outer(f, n) / rate_hz) @ h)


def minus3db_point(h, rate_hz):
    f = np.arange(0.0, rate_hz / 2, 1.0)
    a = gain(h, f, rate_hz)
    i = int(np.argmax(a < 1.0 / np.sqrt(2.0)))
    lo, hi = f[i - 1], f[i]
    for _ in range(40):
        mid = 0.5 * (lo + hi)
        if gain(h, [mid], rate_hz)[0] >= 1.0 / np.sqrt(2.0):
            lo = mid
        else:
            hi = mid
    return 0.5 * (lo + hi)


def check_shaping(d, h):
    db = lambda x: 20.0 * np.log10(x)
    pas = db(gain(h, np.arange(0.0, d.pass_edge_hz + 0.5, 1.0), d.rate_hz))
    stop = db(gain(h, np.arange(d.stop_edge_hz, d.rate_hz / 2 + 0.5, 1.0), d.rate_hz)).max()
    f3 = minus3db_point(h, d.rate_hz)
    print(f"{d.name}: {d.taps} taps at {d.rate_hz:g} Hz, sum {h.sum():.6f} (want {d.tap_sum:.6f}), "
          f"pass band {pas.min():+.3f}..{pas.max():+.3f} dB (ripple {pas.max() - pas.min():.3f}, "
          f"limit {d.ripple_db}), -3 dB at {f3:.1f} Hz (want {d.minus3db_hz:g}), "
          f"stop band peak {stop:.2f} dB (limit -{d.stop_atten_db:g})")
    return (abs(h.sum() - d.tap_sum) < 5e-5 and pas.max() <= d.ripple_db and pas.min() >= -d.ripple_db
            and pas.max() - pas.min() <= d.ripple_db
            and abs(f3 - d.minus3db_hz) <= d.minus3db_tolerance_hz and stop <= -d.stop_atten_db)


def check_output_lowpass(d, h):
    pts = [(0.0, d.dc_gain)] + list(d.points)
    got = gain(h, [f for f, _ in pts], d.rate_hz)
    stop = gain(h, np.arange(d.stop_edge_hz, d.rate_hz / 2 + 0.5, 1.0), d.rate_hz).max()
    peak = gain(h, np.arange(0.0, d.rate_hz / 2 + 0.5, 1.0), d.rate_hz).max()
    desc = ", ".join(f"{g:.4f} at {f:g} Hz (want {w:g})" for (f, w), g in zip(pts, got))
    print(f"{d.name}: {d.taps} taps at {d.rate_hz:g} Hz, sum {h.sum():.6f} (want {d.tap_sum:.6f}), "
          f"gain {desc}; peak {peak:.4f}; stop band peak {stop:.5f} (limit {d.stop_gain_max})")
    ok = abs(h.sum() - d.tap_sum) < 5e-5 and stop <= d.stop_gain_max and peak <= d.peak_gain_max
    return ok and all(abs(g - w) <= d.gain_tolerance for (_, w), g in zip(pts, got))


def as_float32(h):
    """Round to single precision, keeping the mirror image exact."""
    f = np.asarray(h, dtype=np.float32)
    n = len(f)
    f[n - (n // 2):] = f[: n // 2][::-1]
    return f


def cpp_array(name, taps, comment):
    lines = [f"// {comment}", f"const std::array<float, {len(taps)}> {name} = {{"]
    literals = [f"{float(t):.9g}f" for t in taps]
    for i in range(0, len(literals), 4):
        lines.append("    " + ", ".join(literals[i:i + 4]) + ",")
    lines.append("};")
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", action="store_true", help="design and report only")
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                  "..", "modem", "tx", "filter_taps.cpp"))
    args = ap.parse_args()

    tables, ok = [], True
    for d in SHAPING:
        h = as_float32(design_shaping(d))
        ok &= check_shaping(d, h.astype(np.float64))
        tables.append(cpp_array(d.name, h, d.comment))
    d = OUTPUT_LOWPASS
    h = as_float32(design_output_lowpass(d))
    ok &= check_output_lowpass(d, h.astype(np.float64))
    tables.append(cpp_array(d.name, h, d.comment))
    if not ok:
        sys.exit("a design misses its bounds; nothing written")
    if args.check:
        return

    text = ("// Generated by scripts/design_filters.py; do not edit.  The design parameters are in\n"
            "// that script; rerun it to regenerate this file.\n"
            "#include \"modem/tx/filter_taps.h\"\n\n"
            "namespace kavra::modem {\n\n" + "\n\n".join(tables) + "\n\n}  // namespace kavra::modem\n")
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(text)
    print(f"wrote {os.path.normpath(args.out)}")


if __name__ == "__main__":
    main()
