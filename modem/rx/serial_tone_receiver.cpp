// Construction and the front end: card-rate converter, mixer, baseband filter, timing
// interpolator, AGC and the BasebandRing.
#include "modem/rx/serial_tone_receiver.h"

#include <algorithm>

#include "modem/decoder/block_decoder.h"

namespace kavra::modem {

namespace {

constexpr float kInterpolatorSpan = 201.0f;   // one input sample in rate-converter / tau units
constexpr float kInterpolatorLimit = 101.0f;  // an output is due while the phase is below this

// Rate-converter step for a capture card running at `hz`: two interpolation points per ring
// sample at 48000 Hz, of which every other one is used.  Computed in double so the nominal
// rate gives exactly 100.5.
float ConverterStep(int hz) {
    const int clamped = std::clamp(hz, kMinCaptureCardRate, kMaxCaptureCardRate);
    return static_cast<float>(static_cast<double>(clamped) * 201.0 / 96000.0);
}

// Row of the LagrangeTable for an interpolator phase in [-101, 101).
int InterpolatorRow(float phase) {
    const float row = phase * 0.5f + 100.0f;
    if (!(row >= 0.0f)) return 0;
    if (row >= 200.0f) return 200;
    return static_cast<int>(row);
}

}  // namespace

SerialToneReceiver::SerialToneReceiver(int modem_type, ReceiverOutput& output)
    : profile_(ReceiverProfileFor(modem_type)),
      output_(output),
      decoder_(std::make_unique<BlockDecoder>()),
      kernels_(&PortableKernels()),
      reference_(std::make_unique<PreambleReference>(sine_, profile_.bank_rotation_step)),
      tables_(std::make_unique<FrameTables>()),
      filter_length_(kBasebandFilterTaps),
      rls_(std::make_unique<RlsState>()) {
    while (filter_length_ > 1 && profile_.baseband_filter[static_cast<std::size_t>(filter_length_ - 1)] == 0.0f)
        --filter_length_;
    normal_table_ = &tables_->Normal(FrameLayout::Known16);
    last_table_ = &tables_->Last(6, 4);
    current_table_ = normal_table_;
    mix_step_ = 0.0f;
    rls_->ResetCovariance();
    ResetTracking();
}

SerialToneReceiver::~SerialToneReceiver() = default;

void SerialToneReceiver::SelectKernels(bool use_simd) noexcept {
    kernels_ = use_simd && SimdKernelsAvailable() ? &SimdKernels() : &PortableKernels();
}

bool SerialToneReceiver::SelectKernels(KernelSet set) noexcept {
    const ReceiverKernels* k = Kernels(set);
    if (k == nullptr) return false;
    kernels_ = k;
    return true;
}

int SerialToneReceiver::MainTap() const noexcept {
    int best = 0;
    float best_mag = -1.0f;
    for (int i = 0; i < kFeedForwardTaps; ++i) {
        const float m = ApproxMagnitude(rls_->w_re[static_cast<std::size_t>(i)], rls_->w_im[static_cast<std::size_t>(i)]);
        if (m > best_mag) {
            best_mag = m;
            best = i;
        }
    }
    return best;
}

void SerialToneReceiver::ResetTracking() noexcept {
    snr_sum_ = 0.0f;
    snr_count_ = 0;
    for (auto& bank : slot_average_) bank.fill(0.0f);
    best_slot_.fill(0);
    chosen_slot_ = 0;
    slot_ = 0;
    rls_->w_re.fill(0.0f);
    rls_->w_im.fill(0.0f);
    rls_->ResetCovariance();
    sparse_ = false;
    phi_fast_ = 0.0f;
    phi_slow_ = 0.0f;
    f_int_ = 0.0f;
}

void SerialToneReceiver::ProcessSample(std::int16_t sample) noexcept {
    const int rate = output_.card_rate.load(std::memory_order_relaxed);
    if (rate != card_rate_hz_) {
        card_rate_hz_ = rate;
        conv_step_ = ConverterStep(rate);
    }
    const float x = sample;
    conv_ring_[static_cast<std::size_t>(conv_pos_)] = x;
    conv_ring_[static_cast<std::size_t>(conv_pos_ + 7)] = x;
    conv_pos_ = conv_pos_ == 6 ? 0 : conv_pos_ + 1;  // now the oldest sample
    while (conv_phase_ < kInterpolatorLimit) {
        if (conv_toggle_ == 0) {
            const auto& w = lagrange_[InterpolatorRow(conv_phase_)];
            const float* h = conv_ring_.data() + conv_pos_;
            float y = 0.0f;
            for (int m = 0; m < LagrangeTable::kPoints; ++m) y += w[static_cast<std::size_t>(m)] * h[m];
            ProcessBasebandSample(y);
        }
        conv_toggle_ ^= 1;
        conv_phase_ += conv_step_;
    }
    conv_phase_ -= kInterpolatorSpan;
}

std::array<Complex, kBasebandRingLength> SerialToneReceiver::BasebandRing() const noexcept {
    std::array<Complex, kBasebandRingLength> ring{};
    for (int k = 0; k < kRingLength; ++k)
        ring[static_cast<std::size_t>(k)] = {ring_re_[static_cast<std::size_t>(ring_pos_ + k)],
                                             ring_im_[static_cast<std::size_t>(ring_pos_ + k)]};
    return ring;
}

void SerialToneReceiver::ProcessBasebandSample(float x) noexcept {
    ++baseband_count_;
    // Mixer: I = x cos, Q = x sin of the carrier phase.
    const int carrier = std::clamp(output_.rx_carrier.load(std::memory_order_relaxed), 0, 3999);
    if (carrier != carrier_hz_) {
        carrier_hz_ = carrier;
        mix_step_ = static_cast<float>(carrier * 4000.0 / static_cast<double>(profile_.baseband_rate()));
    }
    mix_phase_ += mix_step_;
    if (mix_phase_ >= kPhaseCycle) mix_phase_ -= kPhaseCycle;
    const Complex lo = sine_.Rotor(mix_phase_);

    // Baseband filter, oldest sample first.
    const auto fp = static_cast<std::size_t>(filt_pos_);
    filt_re_[fp] = filt_re_[fp + kBasebandFilterTaps] = x * lo.re;
    filt_im_[fp] = filt_im_[fp + kBasebandFilterTaps] = x * lo.im;
    filt_pos_ = filt_pos_ + 1 == kBasebandFilterTaps ? 0 : filt_pos_ + 1;
    const float* hr = filt_re_.data() + filt_pos_;
    const float* hi = filt_im_.data() + filt_pos_;
    float fi = 0.0f;
    float fq = 0.0f;
    for (int i = 0; i < filter_length_; ++i) {
        const float c = profile_.baseband_filter[static_cast<std::size_t>(i)];
        fi += c * hr[i];
        fq += c * hi[i];
    }

    // Timing interpolator: normally one output per sample; tau leaving [-100, 101) skips one
    // or adds one.
    const auto tp = static_cast<std::size_t>(tint_pos_);
    tint_re_[tp] = tint_re_[tp + 7] = fi;
    tint_im_[tp] = tint_im_[tp + 7] = fq;
    tint_pos_ = tint_pos_ == 6 ? 0 : tint_pos_ + 1;
    while (tau_ < kInterpolatorLimit) {
        const auto& w = lagrange_[InterpolatorRow(tau_)];
        const float* zr = tint_re_.data() + tint_pos_;
        const float* zi = tint_im_.data() + tint_pos_;
        float re = 0.0f;
        float im = 0.0f;
        for (int m = 0; m < LagrangeTable::kPoints; ++m) {
            re += w[static_cast<std::size_t>(m)] * zr[m];
            im += w[static_cast<std::size_t>(m)] * zi[m];
        }
        ProcessZ(re, im);
        tau_ += kInterpolatorSpan;
    }
    tau_ -= kInterpolatorSpan;

    output_.freq_offset.store(TruncToInt(Hz(f_pre_ + f_int_)), std::memory_order_relaxed);
}

void SerialToneReceiver::ProcessZ(float re, float im) noexcept {
    // Symbol-rate work sits at sigma = 0.5, the correlator at 0.25 and 0.75.
    if (data_mode_ && quarter_ == 2) DataSymbol();

    const float m = ApproxMagnitude(re, im);
    if (data_mode_) {
        agc_slow_ += (m - agc_slow_) * 0.003f;
    } else {
        agc_fast_ += (m - agc_fast_) * 0.2f;
        if (agc_fast_ <= 2.0f * agc_slow_) agc_slow_ += (m - agc_slow_) * 0.001f;
        else agc_slow_ = agc_fast_;
    }
    // The level is 0 only before the first non-zero sample; such samples are zero already and
    // stay unscaled rather than becoming 0/0.
    if (agc_slow_ > 0.0f) {
        re /= agc_slow_;
        im /= agc_slow_;
    }
    if (!data_mode_ && (quarter_ & 1) != 0) CorrelatorStep();
    if (!data_mode_ && quarter_ == 2 && search_state_ != kSearching && freq_estimated_) TrainingSymbol();

    quarter_ = (quarter_ + 1) & 3;

    const auto rp = static_cast<std::size_t>(ring_pos_);
    ring_re_[rp] = ring_re_[rp + kRingLength] = re;
    ring_im_[rp] = ring_im_[rp + kRingLength] = im;
    ring_pos_ = (ring_pos_ + 1) & (kRingLength - 1);
    if (re == 0.0f && im == 0.0f) {
        if (zero_run_ < kRingLength) ++zero_run_;
    } else {
        zero_run_ = 0;
    }
}

void SerialToneReceiver::PutTrace(Complex point) noexcept {
    const int pos = output_.trace_position.load(std::memory_order_relaxed);
    const auto p = static_cast<std::size_t>(pos & (kConstellationTraceLength - 1));
    output_.trace_i[p].store(TruncToInt(44.0f * point.re), std::memory_order_relaxed);
    output_.trace_q[p].store(TruncToInt(44.0f * point.im), std::memory_order_relaxed);
    output_.trace_position.store((pos + 1) & (kConstellationTraceLength - 1), std::memory_order_release);
}

void SerialToneReceiver::ClearTrace() noexcept {
    for (int p = 0; p < kConstellationTraceLength; ++p) {
        output_.trace_i[static_cast<std::size_t>(p)].store(0, std::memory_order_relaxed);
        output_.trace_q[static_cast<std::size_t>(p)].store(0, std::memory_order_relaxed);
    }
    output_.trace_position.store(0, std::memory_order_release);
}

}  // namespace kavra::modem
