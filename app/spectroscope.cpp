#include "app/spectroscope.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "pipeline/received_data_view.h"

namespace kavra::app {

using Value = audio::SpectrumBuffer::Value;

const std::array<Value, kFftPoints / 2>& Twiddles() {
    static const std::array<Value, kFftPoints / 2> table = [] {
        std::array<Value, kFftPoints / 2> t{};
        for (std::size_t k = 0; k < t.size(); ++k) {
            const double a = 2.0 * std::numbers::pi * static_cast<double>(k) / kFftPoints;
            t[k] = {static_cast<float>(std::cos(a)), static_cast<float>(-std::sin(a))};
        }
        return t;
    }();
    return table;
}

void TransformBitReversed(FftValues& x) {
    const auto& w = Twiddles();
    for (std::size_t span = 2; span <= kFftPoints; span *= 2) {
        const std::size_t half = span / 2;
        const std::size_t step = kFftPoints / span;  // twiddle index stride of this stage
        for (std::size_t block = 0; block < kFftPoints; block += span) {
            for (std::size_t k = 0; k < half; ++k) {
                const Value wk = w[k * step];
                Value& a = x[block + k];
                Value& b = x[block + k + half];
                const float tr = wk.re * b.re - wk.im * b.im;
                const float ti = wk.re * b.im + wk.im * b.re;
                b = {a.re - tr, a.im - ti};
                a = {a.re + tr, a.im + ti};
            }
        }
    }
}

std::array<float, kSpectrumBins> Magnitudes(const FftValues& x) {
    std::array<float, kSpectrumBins> m{};
    for (std::size_t n = 0; n < m.size(); ++n) m[n] = std::sqrt(x[n].re * x[n].re + x[n].im * x[n].im);
    return m;
}

std::array<float, kSpectrumBins> SpectrumOf(const FftValues& bit_reversed) {
    FftValues work = bit_reversed;
    TransformBitReversed(work);
    return Magnitudes(work);
}

int SpectrumLineHeight(float magnitude, int gain) {
    float v = magnitude;
    if (gain > 0) v = v / static_cast<float>(gain);
    if (gain < 0) v = v * static_cast<float>(-gain);
    constexpr std::int32_t kFull = kPictureHeight * 65536;
    const float scaled = v * static_cast<float>(kPictureHeight);
    std::int32_t t = 0;
    if (scaled >= static_cast<float>(kFull)) t = kFull;
    else if (scaled > 0.0f) t = static_cast<std::int32_t>(scaled);  // truncates; NaN stays 0
    return static_cast<int>(t / 65536);
}

int CarrierMarkerX(int rx_carrier_hz) { return rx_carrier_hz * kFftPoints / 4000; }

int FrequencyAtX(int x) { return x * 4000 / kFftPoints; }

Pixel ConstellationPixel(int x, int y) {
    constexpr int kCentre = kConstellationSize / 2;
    return {std::clamp(kCentre - y, 0, kConstellationSize - 1), std::clamp(kCentre - x, 0, kConstellationSize - 1)};
}

int TextRowMaximum(std::uint32_t count) { return static_cast<int>(count / kTextColumns); }

std::vector<std::string> TextViewRows(const pipeline::ReceivedDataView& view, int first_row) {
    const std::uint32_t count = view.Count();
    std::vector<std::string> rows(kTextRows);
    for (int i = 0; i < kTextRows; ++i) {
        for (int j = 0; j < kTextColumns; ++j) {
            const std::int64_t index = static_cast<std::int64_t>(first_row + i) * kTextColumns + j;
            if (index < 0 || index >= static_cast<std::int64_t>(count)) break;
            rows[static_cast<std::size_t>(i)].push_back(static_cast<char>(view.At(static_cast<std::uint32_t>(index))));
        }
    }
    return rows;
}

}  // namespace kavra::app
