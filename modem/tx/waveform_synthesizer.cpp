#include "modem/tx/waveform_synthesizer.h"

#include <algorithm>
#include <cmath>

#include "modem/common/symbols.h"
#include "modem/tx/filter_taps.h"

namespace kavra::modem {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr float kTwoPiFloat = 6.2831855f;
constexpr float kOutputScale = 20000.0f;

// 9-point Lagrange weights at fractional position t between h[4] and h[5] (nodes -4..+4).
std::array<float, 9> InterpolationWeights(double t) {
    std::array<float, 9> w{};
    for (int i = 0; i < 9; ++i) {
        double num = 1.0;
        double den = 1.0;
        for (int m = 0; m < 9; ++m) {
            if (m == i) continue;
            num *= t - (m - 4);
            den *= i - m;
        }
        w[static_cast<std::size_t>(i)] = static_cast<float>(num / den);
    }
    return w;
}

std::int16_t ToSample(float v) noexcept {
    // Truncation toward zero; the chain peaks near 29000, saturate rather than wrap should a
    // future filter ever overshoot.
    const float t = std::trunc(v);
    return static_cast<std::int16_t>(std::clamp(t, -32768.0f, 32767.0f));
}

}  // namespace

WaveformSynthesizer::WaveformSynthesizer(TransmitProfile profile)
    : info_(ProfileInfo(profile)),
      history_i_(info_.shaping_taps.size()),
      history_q_(info_.shaping_taps.size()),
      carrier_hz_(static_cast<float>(info_.carrier_hz)),
      step_(info_.initial_step),
      lowpass_(kLowpassTaps) {
    const int factor = info_.interpolation;
    for (int k = 1; k < factor; ++k)
        interp_weights_[static_cast<std::size_t>(k - 1)] = InterpolationWeights(static_cast<double>(k) / factor);
}

void WaveformSynthesizer::SetUp(int carrier_hz, int card_rate_hz, std::span<std::int16_t> output) noexcept {
    carrier_hz_ = static_cast<float>(carrier_hz);
    phase_step_ = kTwoPi * static_cast<double>(carrier_hz_) / info_.inner_rate_hz;
    const double nominal = info_.nominal_rate_hz;
    const double rate = std::clamp(static_cast<double>(card_rate_hz), nominal * (1.0 - kCardRateTolerance),
                                   nominal * (1.0 + kCardRateTolerance));
    step_ = static_cast<float>(info_.step_constant / rate);
    history_i_.Reset();
    history_q_.Reset();
    interp_history_.fill(0.0f);
    lowpass_.Reset();
    output_ = output;
    count_ = 0;
    produced_ = 0;
}

void WaveformSynthesizer::SendSymbol(int symbol) noexcept {
    const SymbolPoint point = kSymbolPoints[static_cast<std::size_t>(symbol) & 7u];
    for (int n = 0; n < info_.samples_per_symbol; ++n) {
        history_i_.Push(point.i);
        history_q_.Push(point.q);
        const float y_i = history_i_.Filter(info_.shaping_taps);
        const float y_q = history_q_.Filter(info_.shaping_taps);
        phase_ = static_cast<float>(phase_ + phase_step_);
        if (phase_ >= kTwoPi) phase_ -= kTwoPiFloat;
        Resample(std::cos(phase_) * y_q + std::sin(phase_) * y_i);
    }
}

void WaveformSynthesizer::Resample(float s) noexcept {
    std::copy(resampler_history_.begin() + 1, resampler_history_.end(), resampler_history_.begin());
    resampler_history_[6] = s;
    while (position_ < 101.0f) {
        const int row = std::clamp(static_cast<int>(position_ * 0.5f + 100.0f), 0, LagrangeTable::kRows - 1);
        const auto& w = lagrange_[row];
        float y = 0.0f;
        for (std::size_t d = 0; d < 7; ++d) y += w[d] * resampler_history_[d];
        if (!info_.emit_every_second || !toggle_) EmitPoint(y);
        if (info_.emit_every_second) toggle_ = !toggle_;
        position_ += step_;
    }
    position_ -= 201.0f;
}

void WaveformSynthesizer::EmitPoint(float y) noexcept {
    const float v = y * kOutputScale;
    if (info_.interpolation == 1) {
        Store(v);
        return;
    }
    std::copy(interp_history_.begin() + 1, interp_history_.end(), interp_history_.begin());
    interp_history_[8] = v;
    lowpass_.Push(interp_history_[4]);
    Store(lowpass_.Filter(kOutputLowpassTaps));
    for (int k = 0; k + 1 < info_.interpolation; ++k) {
        const auto& w = interp_weights_[static_cast<std::size_t>(k)];
        float x = 0.0f;
        for (std::size_t i = 0; i < 9; ++i) x += w[i] * interp_history_[i];
        lowpass_.Push(x);
        Store(lowpass_.Filter(kOutputLowpassTaps));
    }
}

void WaveformSynthesizer::Store(float v) noexcept {
    ++produced_;
    if (count_ < output_.size()) output_[count_++] = ToSample(v);
}

}  // namespace kavra::modem
