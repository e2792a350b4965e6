#include "sim/hf_channel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "sim/filter_design.h"
#include "sim/gaussian_source.h"

namespace kavra::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::uint64_t kNoiseStream = 3;

// The radio's pass band around the 2000 Hz centre: flat to +-1750 Hz, 70 dB down from
// +-2250 Hz.  The same edges keep the two sides of the real signal apart when the analytic
// signal is formed, and bound the noise.
constexpr double kPassHalfWidthHz = 1750.0;
constexpr double kStopHalfWidthHz = 2250.0;
constexpr double kStopAttenuationDb = 70.0;

// SNR is quoted in this bandwidth.
constexpr double kNoiseBandwidthHz = 3000.0;

bool IsSupportedRate(int rate) { return rate == 8000 || rate == 48000; }
bool InRange(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

// Taps of the low-pass that keeps the baseband at `rate`, with a centre delay that is a whole
// number of `decimation` steps, so that baseband samples fall on input instants.
std::vector<double> BandLowpass(double rate, int decimation) {
    int taps = KaiserLength(kStopAttenuationDb, (kStopHalfWidthHz - kPassHalfWidthHz) / rate);
    const int half = (taps - 1) / 2;
    taps = 2 * ((half + decimation - 1) / decimation * decimation) + 1;
    const double cutoff = (kPassHalfWidthHz + kStopHalfWidthHz) / 2.0 / rate;
    return KaiserLowpass(taps, cutoff, KaiserBeta(kStopAttenuationDb));
}

}  // namespace

std::optional<std::string> CheckSettings(const HfChannelSettings& s) {
    if (!IsSupportedRate(s.input_rate_hz)) return "input rate must be 8000 or 48000 Hz";
    if (!IsSupportedRate(s.output_rate_hz)) return "output rate must be 8000 or 48000 Hz";
    if (s.snr_db) {
        if (!InRange(*s.snr_db, -50.0, 100.0)) return "SNR must be -50..100 dB";
        if (!(std::isfinite(s.signal_power) && s.signal_power > 0.0))
            return "the signal power must be known (above 0) to set the noise from an SNR";
    }
    if (s.fading) {
        if (!InRange(s.fading->delay_ms, 0.0, 10.0)) return "fading delay must be 0..10 ms";
        if (!InRange(s.fading->spread_hz, 0.01, 50.0)) return "Doppler spread must be 0.01..50 Hz";
    }
    if (!InRange(s.freq_offset_hz, -500.0, 500.0)) return "frequency offset must be -500..500 Hz";
    if (!InRange(s.clock_offset_ppm, -50000.0, 50000.0)) return "clock offset must be -50000..50000 ppm";
    if (!(std::isfinite(s.output_gain) && s.output_gain > 0.0)) return "output gain must be above 0";
    return std::nullopt;
}

std::optional<FadingSettings> FindFadingPreset(std::string_view name) {
    for (const auto& preset : kFadingPresets)
        if (preset.name == name) return preset.fading;
    return std::nullopt;
}

namespace {
template <typename T>
double SignalPower(std::span<const T> samples) noexcept {
    double peak = 0.0;
    for (T v : samples) peak = std::max(peak, std::abs(static_cast<double>(v)));
    if (peak == 0.0) return 0.0;
    const double threshold = 0.01 * peak;
    std::size_t first = 0;
    while (std::abs(static_cast<double>(samples[first])) < threshold) ++first;
    std::size_t last = samples.size() - 1;
    while (std::abs(static_cast<double>(samples[last])) < threshold) --last;
    double sum = 0.0;
    for (std::size_t i = first; i <= last; ++i) sum += static_cast<double>(samples[i]) * static_cast<double>(samples[i]);
    return sum / static_cast<double>(last - first + 1);
}
}  // namespace

double MeasureSignalPower(std::span<const float> samples) noexcept { return SignalPower(samples); }
double MeasureSignalPower(std::span<const std::int16_t> samples) noexcept { return SignalPower(samples); }

std::size_t ToPcm16(std::span<const float> in, std::span<std::int16_t> out) noexcept {
    std::size_t clipped = 0;
    const std::size_t n = std::min(in.size(), out.size());
    for (std::size_t i = 0; i < n; ++i) {
        const float t = std::trunc(in[i]);
        if (t > 32767.0f) {
            out[i] = 32767;
            ++clipped;
        } else if (t < -32768.0f) {
            out[i] = -32768;
            ++clipped;
        } else if (t == t) {
            out[i] = static_cast<std::int16_t>(t);
        } else {
            out[i] = 0;  // not a number: cannot happen with valid settings
            ++clipped;
        }
    }
    return clipped;
}

struct HfChannel::Parts {
    explicit Parts(const HfChannelSettings& s, int decimation, double clock_factor, double noise_sigma)
        : input(1), noise(s.seed, kNoiseStream), noise_re(1), noise_im(1), baseband_re(64), baseband_im(64),
          upmix(HfChannel::kCentreHz * clock_factor / s.output_rate_hz) {
        // Analytic band-pass: the real low-pass shifted up to the centre frequency, doubled so
        // that the one side kept carries the whole signal.
        const double rate = s.input_rate_hz;
        const std::vector<double> h = BandLowpass(rate, decimation);
        const std::size_t taps = h.size();
        analytic_re.resize(taps);
        analytic_im.resize(taps);
        const double w = 2.0 * kPi * HfChannel::kCentreHz / rate;
        for (std::size_t k = 0; k < taps; ++k) {
            // Stored oldest-sample-first: position j of the window meets tap taps - 1 - j.
            const std::size_t j = taps - 1 - k;
            analytic_re[j] = static_cast<float>(2.0 * h[k] * std::cos(w * static_cast<double>(k)));
            analytic_im[j] = static_cast<float>(2.0 * h[k] * std::sin(w * static_cast<double>(k)));
        }
        input = History(taps);
        group_delay = static_cast<int>((taps - 1) / 2);

        const double baseband_rate = HfChannel::kBasebandRate * clock_factor;  // real time
        if (s.fading) fader = std::make_unique<WattersonFader>(*s.fading, baseband_rate, s.seed);
        if (s.freq_offset_hz != 0.0) offset.emplace(s.freq_offset_hz / baseband_rate);
        if (noise_sigma > 0.0) {
            const std::vector<double> g = BandLowpass(HfChannel::kBasebandRate, 1);
            noise_taps.assign(g.begin(), g.end());
            noise_re = History(g.size());
            noise_im = History(g.size());
        }
    }

    std::vector<float> analytic_re;  // complex analytic band-pass taps, oldest sample first
    std::vector<float> analytic_im;
    History input;
    int group_delay = 0;  // input samples
    std::unique_ptr<WattersonFader> fader;
    std::optional<Oscillator> offset;
    GaussianSource noise;
    std::vector<float> noise_taps;  // symmetric, so their order does not matter
    History noise_re;
    History noise_im;
    History baseband_re;
    History baseband_im;
    SincInterpolator interpolator;
    Oscillator upmix;
};

HfChannel::HfChannel(const HfChannelSettings& settings) : settings_(settings) {
    if (auto problem = CheckSettings(settings_)) throw std::invalid_argument(*problem);
    Build();
}

HfChannel::~HfChannel() = default;

void HfChannel::Build() {
    const auto& s = settings_;
    decimation_ = s.input_rate_hz / kBasebandRate;
    clock_factor_ = 1.0 + s.clock_offset_ppm * 1e-6;
    input_per_output_ = clock_factor_ * s.input_rate_hz / s.output_rate_hz;
    baseband_per_output_ = input_per_output_ / decimation_;
    gain_ = static_cast<float>(s.output_gain);
    noise_sigma_ = 0.0;
    if (s.snr_db) {
        // Complex noise of variance 2 sigma^2 at the baseband rate B (real time) has a one-sided
        // density sigma^2 / B in the real output, so 3000 Hz of it holds 3000 sigma^2 / B.
        const double noise_power = s.signal_power / std::pow(10.0, *s.snr_db / 10.0);
        noise_sigma_ = std::sqrt(noise_power * kBasebandRate * clock_factor_ / kNoiseBandwidthHz);
    }
    parts_ = std::make_unique<Parts>(s, decimation_, clock_factor_, noise_sigma_);
    first_position_ = static_cast<double>(parts_->group_delay) / decimation_ +
                      (s.fading ? WattersonFader::kLatency : 0);
    inputs_ = 0;
    phase_ = 0;
    baseband_count_ = 0;
    next_output_ = 0;
    output_limit_ = -1;
    dropped_ = 0;
}

void HfChannel::Reset() { Build(); }

std::size_t HfChannel::MaxOutput(std::size_t input_count) const noexcept {
    const double baseband = static_cast<double>(input_count) / decimation_ + 1.0;
    return static_cast<std::size_t>(std::ceil(baseband / baseband_per_output_)) + 2;
}

std::size_t HfChannel::MaxFlushOutput() const noexcept {
    const double pending = first_position_ + SincInterpolator::kAfter + 2.0;
    return static_cast<std::size_t>(std::ceil(pending / baseband_per_output_)) + 2;
}

void HfChannel::PushInput(float x, float*& out, const float* end) noexcept {
    parts_->input.Push(x);
    if (phase_ == 0) ProduceBaseband(out, end);
    if (++phase_ == decimation_) phase_ = 0;
}

void HfChannel::ProduceBaseband(float*& out, const float* end) noexcept {
    Parts& p = *parts_;
    const std::size_t taps = p.analytic_re.size();
    const float* window = p.input.Last(taps);
    float re0 = 0, re1 = 0, im0 = 0, im1 = 0;
    std::size_t k = 0;
    for (; k + 1 < taps; k += 2) {
        re0 += p.analytic_re[k] * window[k];
        im0 += p.analytic_im[k] * window[k];
        re1 += p.analytic_re[k + 1] * window[k + 1];
        im1 += p.analytic_im[k + 1] * window[k + 1];
    }
    for (; k < taps; ++k) {
        re0 += p.analytic_re[k] * window[k];
        im0 += p.analytic_im[k] * window[k];
    }
    const float re = re0 + re1;
    const float im = im0 + im1;
    // Down to the centre frequency: (-j)^m, a quarter cycle per baseband sample.
    std::complex<float> s;
    switch (baseband_count_ & 3) {
        case 0: s = {re, im}; break;
        case 1: s = {im, -re}; break;
        case 2: s = {-re, -im}; break;
        default: s = {-im, re}; break;
    }
    if (p.fader) s = p.fader->Process(s);
    if (p.offset) s *= p.offset->Next();
    if (noise_sigma_ > 0.0) {
        const std::complex<double> w = p.noise.NextComplex();
        // NextComplex has E|w|^2 = 1; each component needs variance sigma^2.
        constexpr double kRootTwo = 1.41421356237309504880;
        p.noise_re.Push(static_cast<float>(w.real() * kRootTwo * noise_sigma_));
        p.noise_im.Push(static_cast<float>(w.imag() * kRootTwo * noise_sigma_));
        const std::size_t n = p.noise_taps.size();
        const float* nr = p.noise_re.Last(n);
        const float* ni = p.noise_im.Last(n);
        float a = 0, b = 0;
        for (std::size_t j = 0; j < n; ++j) {
            a += p.noise_taps[j] * nr[j];
            b += p.noise_taps[j] * ni[j];
        }
        s += std::complex<float>(a, b);
    }
    p.baseband_re.Push(s.real());
    p.baseband_im.Push(s.imag());
    ++baseband_count_;
    EmitOutputs(out, end);
}

void HfChannel::EmitOutputs(float*& out, const float* end) noexcept {
    Parts& p = *parts_;
    const std::int64_t newest = baseband_count_ - 1;
    while (output_limit_ < 0 || next_output_ < output_limit_) {
        const double position = first_position_ + static_cast<double>(next_output_) * baseband_per_output_;
        const double whole = std::floor(position);
        const auto i = static_cast<std::int64_t>(whole);
        if (i + SincInterpolator::kAfter > newest) return;
        const std::int64_t start = i - SincInterpolator::kBefore;
        const std::complex<float> v =
            p.interpolator.At(p.baseband_re.Window(start), p.baseband_im.Window(start), position - whole);
        const std::complex<float> carrier = p.upmix.Next();
        const float y = (v.real() * carrier.real() - v.imag() * carrier.imag()) * gain_;
        if (out != end) {
            *out++ = y;
        } else {
            ++dropped_;
        }
        ++next_output_;
    }
}

std::size_t HfChannel::Process(std::span<const float> in, std::span<float> out) noexcept {
    float* cursor = out.data();
    const float* end = out.data() + out.size();
    if (output_limit_ >= 0) return 0;  // flushed: only Reset continues
    for (float x : in) {
        ++inputs_;
        PushInput(x, cursor, end);
    }
    return static_cast<std::size_t>(cursor - out.data());
}

void HfChannel::Process(std::span<const float> in, std::vector<float>& out) {
    const std::size_t before = out.size();
    out.resize(before + MaxOutput(in.size()));
    const std::size_t n = Process(in, std::span<float>(out).subspan(before));
    out.resize(before + n);
}

std::size_t HfChannel::Flush(std::span<float> out) noexcept {
    float* cursor = out.data();
    const float* end = out.data() + out.size();
    if (output_limit_ < 0) {
        // Output k samples the input at k * input_per_output_; it exists while that is inside.
        const double inputs = static_cast<double>(inputs_);
        auto limit = static_cast<std::int64_t>(std::ceil(inputs / input_per_output_));
        while (limit > 0 && static_cast<double>(limit - 1) * input_per_output_ >= inputs) --limit;
        while (static_cast<double>(limit) * input_per_output_ < inputs) ++limit;
        output_limit_ = std::max(limit, next_output_);
    }
    while (next_output_ < output_limit_) PushInput(0.0f, cursor, end);
    return static_cast<std::size_t>(cursor - out.data());
}

void HfChannel::Flush(std::vector<float>& out) {
    const std::size_t before = out.size();
    out.resize(before + MaxFlushOutput());
    const std::size_t n = Flush(std::span<float>(out).subspan(before));
    out.resize(before + n);
}

std::vector<float> ApplyChannel(const HfChannelSettings& settings, std::span<const float> input) {
    HfChannel channel(settings);
    std::vector<float> out;
    out.reserve(channel.MaxOutput(input.size()) + channel.MaxFlushOutput());
    channel.Process(input, out);
    channel.Flush(out);
    return out;
}

}  // namespace kavra::sim
