// Measurements the simulator tests make on its output, written independently of the
// simulator's own filters: a plain radix-2 FFT, the analytic signal by FFT, Welch power
// spectral density and a least-squares tone fit.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <span>
#include <vector>

namespace kavra::sim::testing {

constexpr double kPi = 3.14159265358979323846;
using Complex = std::complex<double>;

inline void Fft(std::vector<Complex>& a, bool inverse) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    std::vector<Complex> twiddle(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k)
        twiddle[k] = std::polar(1.0, (inverse ? 2 : -2) * kPi * static_cast<double>(k) / static_cast<double>(n));
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t stride = n / len;
        for (std::size_t i = 0; i < n; i += len) {
            for (std::size_t k = 0; k < len / 2; ++k) {
                const Complex u = a[i + k];
                const Complex v = a[i + k + len / 2] * twiddle[k * stride];
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
    if (inverse)
        for (auto& v : a) v /= static_cast<double>(n);
}

inline std::size_t NextPowerOfTwo(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

// x + j H{x}: negative frequencies removed, positive ones doubled (zero padded to a power of
// two; the first and last few thousand samples feel the wrap-around).
inline std::vector<Complex> Analytic(std::span<const float> x) {
    const std::size_t n = NextPowerOfTwo(x.size() + 4096);
    std::vector<Complex> a(n);
    for (std::size_t i = 0; i < x.size(); ++i) a[i] = x[i];
    Fft(a, false);
    for (std::size_t k = 1; k < n / 2; ++k) a[k] *= 2.0;
    for (std::size_t k = n / 2 + 1; k < n; ++k) a[k] = 0.0;
    Fft(a, true);
    a.resize(x.size());
    return a;
}

// One-sided power spectral density (units^2 / Hz), Welch with Hann windows of `segment`
// samples overlapping by half; bin k is at k * rate / segment Hz.
inline std::vector<double> Psd(std::span<const float> x, double rate, std::size_t segment = 4096) {
    std::vector<double> window(segment);
    double window_power = 0;
    for (std::size_t i = 0; i < segment; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i) / static_cast<double>(segment));
        window_power += window[i] * window[i];
    }
    std::vector<double> psd(segment / 2 + 1, 0.0);
    int segments = 0;
    std::vector<Complex> a(segment);
    for (std::size_t start = 0; start + segment <= x.size(); start += segment / 2) {
        for (std::size_t i = 0; i < segment; ++i) a[i] = window[i] * x[start + i];
        Fft(a, false);
        for (std::size_t k = 0; k <= segment / 2; ++k) psd[k] += std::norm(a[k]);
        ++segments;
    }
    for (std::size_t k = 0; k <= segment / 2; ++k) {
        psd[k] /= segments * window_power * rate;
        if (k != 0 && k != segment / 2) psd[k] *= 2;
    }
    return psd;
}

// Mean of a PSD over [lo_hz, hi_hz].
inline double MeanPsd(const std::vector<double>& psd, double rate, double lo_hz, double hi_hz) {
    const double bin = rate / (2.0 * static_cast<double>(psd.size() - 1));
    double sum = 0;
    int count = 0;
    for (std::size_t k = 0; k < psd.size(); ++k) {
        const double f = static_cast<double>(k) * bin;
        if (f >= lo_hz && f <= hi_hz) {
            sum += psd[k];
            ++count;
        }
    }
    return sum / count;
}

struct Tone {
    double frequency_hz = 0;
    double amplitude = 0;
};

// Fits a tone near `guess_hz`: mixes it to 0 Hz, averages blocks of `block` samples and
// regresses the unwrapped phase on time.  Exact to well under a millihertz over seconds.
inline Tone FitTone(std::span<const float> y, double rate, double guess_hz, std::size_t block = 400) {
    std::vector<double> t, phase;
    double amplitude = 0;
    double previous = 0;
    for (std::size_t start = 0; start + block <= y.size(); start += block) {
        Complex sum = 0;
        for (std::size_t i = start; i < start + block; ++i)
            sum += static_cast<double>(y[i]) * std::polar(1.0, -2 * kPi * guess_hz * static_cast<double>(i) / rate);
        sum *= 2.0 / static_cast<double>(block);
        amplitude += std::abs(sum);
        double p = std::arg(sum);
        if (!phase.empty()) p = previous + std::remainder(p - previous, 2 * kPi);
        previous = p;
        t.push_back((static_cast<double>(start) + (static_cast<double>(block) - 1) / 2) / rate);
        phase.push_back(p);
    }
    const double n = static_cast<double>(t.size());
    double st = 0, sp = 0, stt = 0, stp = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        st += t[i];
        sp += phase[i];
        stt += t[i] * t[i];
        stp += t[i] * phase[i];
    }
    const double slope = (n * stp - st * sp) / (n * stt - st * st);
    return {guess_hz + slope / (2 * kPi), amplitude / n};
}

inline double MeanSquare(std::span<const float> x) {
    double s = 0;
    for (float v : x) s += static_cast<double>(v) * v;
    return s / static_cast<double>(x.size());
}

inline double Db(double ratio) { return 10 * std::log10(ratio); }

}  // namespace kavra::sim::testing
