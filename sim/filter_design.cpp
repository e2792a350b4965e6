#include "sim/filter_design.h"

#include <cmath>
#include <numeric>

namespace kavra::sim {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

double BesselI0(double x) noexcept {
    // Power series; converges quickly for the arguments a window uses (|x| < 30).
    const double q = x * x / 4.0;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 200 && term > 1e-17 * sum; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

double KaiserBeta(double attenuation_db) noexcept {
    if (attenuation_db > 50.0) return 0.1102 * (attenuation_db - 8.7);
    if (attenuation_db >= 21.0)
        return 0.5842 * std::pow(attenuation_db - 21.0, 0.4) + 0.07886 * (attenuation_db - 21.0);
    return 0.0;
}

double KaiserWindow(double t, double beta) noexcept {
    if (t < -1.0 || t > 1.0) return 0.0;
    return BesselI0(beta * std::sqrt(1.0 - t * t)) / BesselI0(beta);
}

int KaiserLength(double attenuation_db, double transition) noexcept {
    const int n = static_cast<int>(std::ceil((attenuation_db - 8.0) / (2.285 * 2.0 * kPi * transition))) + 1;
    return n | 1;
}

double Sinc(double x) noexcept {
    if (x == 0.0) return 1.0;
    if (x == std::floor(x)) return 0.0;  // exact zeros, so a whole-sample shift is exact
    return std::sin(kPi * x) / (kPi * x);
}

std::vector<double> KaiserLowpass(int taps, double cutoff, double beta) {
    std::vector<double> h(static_cast<std::size_t>(taps));
    const double centre = (taps - 1) / 2.0;
    for (int k = 0; k < taps; ++k) {
        const double t = k - centre;
        h[static_cast<std::size_t>(k)] =
            2.0 * cutoff * Sinc(2.0 * cutoff * t) * KaiserWindow(centre > 0 ? t / centre : 0.0, beta);
    }
    const double sum = std::accumulate(h.begin(), h.end(), 0.0);
    for (double& v : h) v /= sum;
    return h;
}

}  // namespace kavra::sim
