#include "sim/sinc_interpolator.h"

#include <cmath>

#include "sim/filter_design.h"

namespace kavra::sim {

namespace {
// Stop band about 100 dB down; with 16 taps the transition is centred on half the rate and
// about 0.43 of the rate wide.
constexpr double kBeta = 10.0;
}  // namespace

SincInterpolator::SincInterpolator() {
    const double half_span = kTaps / 2.0;
    for (int phase = 0; phase <= kPhases; ++phase) {
        const double mu = static_cast<double>(phase) / kPhases;
        std::array<double, kTaps> row{};
        double sum = 0.0;
        for (int j = 0; j < kTaps; ++j) {
            const double t = mu + kBefore - j;  // distance from sample j to the point
            row[static_cast<std::size_t>(j)] = Sinc(t) * KaiserWindow(t / half_span, kBeta);
            sum += row[static_cast<std::size_t>(j)];
        }
        // Unit gain at 0 Hz for every position.
        for (int j = 0; j < kTaps; ++j)
            table_[static_cast<std::size_t>(phase)][static_cast<std::size_t>(j)] =
                static_cast<float>(row[static_cast<std::size_t>(j)] / sum);
    }
}

void SincInterpolator::Weights(double mu, std::array<float, kTaps>& weights) const noexcept {
    const double position = mu * kPhases;
    auto phase = static_cast<int>(position);
    if (phase < 0) phase = 0;
    if (phase >= kPhases) phase = kPhases - 1;
    const auto a = static_cast<float>(position - phase);
    const auto& lo = table_[static_cast<std::size_t>(phase)];
    const auto& hi = table_[static_cast<std::size_t>(phase) + 1];
    for (std::size_t j = 0; j < static_cast<std::size_t>(kTaps); ++j) weights[j] = lo[j] + a * (hi[j] - lo[j]);
}

}  // namespace kavra::sim
