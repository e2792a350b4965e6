// Kaiser-window filter design, used once at construction by the channel's filters.
#pragma once

#include <vector>

namespace kavra::sim {

// Modified Bessel function of the first kind, order 0.
double BesselI0(double x) noexcept;

// Kaiser window shape parameter for a stop band `attenuation_db` down (dB, > 0).
double KaiserBeta(double attenuation_db) noexcept;

// Kaiser window value at t in [-1, 1] (0 outside).
double KaiserWindow(double t, double beta) noexcept;

// Taps (odd count) a Kaiser low-pass needs for `attenuation_db` with a transition band
// `transition` wide (cycles per sample).
int KaiserLength(double attenuation_db, double transition) noexcept;

// Linear-phase low-pass: windowed sinc with cut-off `cutoff` (cycles per sample, 0..0.5),
// `taps` long, normalised to a gain of exactly 1 at 0 Hz.
std::vector<double> KaiserLowpass(int taps, double cutoff, double beta);

// sin(pi x) / (pi x).
double Sinc(double x) noexcept;

}  // namespace kavra::sim
