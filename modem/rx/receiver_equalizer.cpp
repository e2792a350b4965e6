// Equaliser training on the preamble, data demodulation with carrier and timing tracking,
// decisions, S/N and frame statistics, soft values, end of frame and the decoder hand-off.
#include <algorithm>
#include <cmath>
#include <complex>

#include "modem/decoder/block_decoder.h"
#include "modem/rx/serial_tone_receiver.h"

namespace kavra::modem {

namespace {

// The 37 feed-forward inputs start this many samples after the oldest ring sample.  With 2,
// the centre input (18) holds the symbol being trained or decided: training runs 22 symbols
// behind the correlator, i.e. 36 to 39 samples into the ring.
constexpr int kEqualizerInputOffset = 2;
constexpr int kTrainingResetAfter = 800;
constexpr int kTrainingRun = 32;  // preamble symbols per channel snapshot
// A steady channel (AWGN, or fading far slower than a second) is equalised with slower
// forgetting (kGainKnownSteady, kGainUnknownSteady): 44 taps that forget within about 100
// symbols pay misadjustment noise at the decision point (AWGN "2400 short" at 8.5 dB: 57 -> 19
// errors in 10^6 bits).  Slower still
// (1.003 / 1.002) gained more on AWGN but lost on the poor channel whenever it read steady.
// Steady: the Doppler reading under kSteadyBelowHz and the channel snapshots of runs 32 apart
// correlated at least kSteadyRatio as much as those 16 apart, once kSteadyRuns runs have been
// seen.  Since runs are compared on the strong inputs only, 48 runs will do (type 1's "2000 long"
// on AWGN at 8 dB: 40 -> 25 errors in 3e6 bits against 96 runs); with every input compared the
// 4800 bit/s signal on 2 ms / 0.5 Hz read steady now and then that early.
constexpr float kSteadyBelowHz = 1.0f;
constexpr float kSteadyRatio = 0.97f;
constexpr int kSteadyRuns = 48;
constexpr int kSteadySmoothingSpans = 8;
// The full equaliser's taps after a known run stand for the channel about 100 symbols earlier,
// the centre of its forgetting window (a gain of 1.01 on the known symbols).  The block's second
// pass has the whole block, so it decides each span with the taps of the spans that far after
// it, averaged over 2 spans on either side (8 on a steady channel).  On the poor channel the
// decision-point S/N rose by 0.9 to 1.6 dB ("2400 long" at 16 dB: 84 -> 11 errors in 10^6 bits).
constexpr float kTrackingLagSymbols = 100.0f;
constexpr int kTrackingSmoothingSpans = 2;
// Fast fading, measured by the Doppler spread of the known runs: above 2.5 Hz (for 2 runs in a
// row, see EndKnownRun) the equaliser goes sparse.  Only the 5 feed-forward taps where the
// channel's delay profile is strongest stay in use, with the 7 feedback taps, so that the
// memory of a few tens of symbols that fading at 5 Hz needs still holds several times as many
// symbols as there are taps; the known-symbol gain is then 1 + 0.03 per Hz (at most 1.15), the
// unknown symbols taking 0.7 of its rise (their decisions may be wrong).  The taps are chosen
// again every 32 known runs; below 2 Hz all taps come back.  Otherwise the fixed pair above
// holds, which suits AWGN and the slow channels: a faster full-span equaliser between 2 and
// 2.5 Hz lost on the poor channel, which reads over 2 Hz now and then.
constexpr float kUnknownShare = 0.7f;
constexpr float kSparseAboveHz = 2.5f;
constexpr float kWideBelowHz = 2.0f;
constexpr int kSparseTaps = 5;
constexpr float kSparseGainPerHz = 0.03f;
constexpr float kSparseGainMax = 1.15f;
constexpr int kRunsPerChoice = 32;
constexpr int kSparseRuns = 2;
constexpr int kSparseRunsFourApart = 16;
// The preamble's own reading (runs 3 and 15 apart, fewer of them) reads fast fading low: 1.2 to
// 3.4 Hz on 2 ms / 5 Hz and flutter, 0.4 to 1.5 Hz on the poor channel, and a clean signal with a
// carrier offset high now and then.  Above this figure the data's first reading comes after 3
// runs and one reading above kSparseAboveHz takes the sparse set.
constexpr float kPreambleSparseAboveHz = 1.75f;
constexpr float kPreambleProfileWeight = 0.25f;
constexpr float kProfileAverage = 1.0f / 32.0f;
// Snapshot lag products are averaged over about 64 runs; the first figure comes after 6 runs
// (0.12 s at 2400 bit/s) where runs one and two apart are compared, after 10 where runs four and
// eight apart are (the longer lag must have been seen).
constexpr float kDopplerAverage = 1.0f / 64.0f;
constexpr int kDopplerFirstFigure = 6;
constexpr int kDopplerFirstFigureAfterFastPreamble = 3;
constexpr int kDopplerFirstFigureFourApart = 10;
constexpr int kMinRunLength = 8;
// Runs are compared on the inputs whose averaged delay-profile power is at least this share of
// the strongest (see EndKnownRun).
constexpr float kSnapshotProfileShare = 0.2f;
// Ratio of the correlations four runs and one run apart below which the runs four and eight
// apart are taken as decorrelated (0.5: about 4 Hz at 1200 bit/s).
constexpr float kDecorrelated = 0.5f;
// With the sparse set the covariance restarts every 70 memory lengths (at most every 1000
// symbols): directions the input hardly excites grow by the gain each symbol.
constexpr float kSparseResetMemories = 70.0f;
// The taps after a known run stand for the channel this many symbols before its end (a memory of
// a few tens of symbols at most); the span's taps are interpolated between those two instants.
constexpr float kSpanTapLag = 4.0f;
// A span's window: the known run before it, the span, the run after and the feedback inputs
// before them.
constexpr int kSpanWindow = 80;
constexpr int kDataStartIndex = 320;  // training index of the first data symbol
constexpr int kSnrWindow = 800;
// Soft values are weighted by the inverse of the noise power on the known symbols around them:
// a window closes at the end of the first run of known symbols that brings it to at least 16
// (one run of a frame at 2400 to 600 bit/s), and the unknown symbols before it take the mean of
// this window and the previous one.  Windows are a frame long, short against HF fading.  The
// weight is 1 at the reference noise (kNoiseReference, an S/N of 13 dB at the decision point)
// and at most 10.
constexpr int kNoiseWindow = 16;
constexpr float kNoiseFloor = 0.005f;
// A block ending part-way through a window weights its last symbols by the part seen, if any.
constexpr int kNoiseWindowPart = 8;
// On a steady channel the weight comes from the windows averaged over about 8 of them: the noise
// does not change there, and two windows' estimate scatters by about 19 % from run to run
// (type 1 "2000 long" on AWGN at 7.8 dB: 38 -> 26 errors in 3e6 bits; the AWGN modes together
// 426 -> 381 errors at their 1e-5 points).
constexpr float kSteadyNoiseAverage = 0.125f;

inline float Clip(float v, float limit) noexcept { return v > limit ? limit : (v < -limit ? -limit : v); }
// Im(conj(v) e): the phase detector's cross product v_re e_im - v_im e_re.
inline float Cross(Complex v, Complex e) noexcept { return v.re * e.im - v.im * e.re; }

}  // namespace

void SerialToneReceiver::FormEqualizerInput() noexcept {
    const float* re = ring_re_.data() + ring_pos_ + kEqualizerInputOffset;
    const float* im = ring_im_.data() + ring_pos_ + kEqualizerInputOffset;
    // Taps out of use see zero input: they stay at zero and out of the updates.
    for (int i = 0; i < kFeedForwardTaps; ++i) {
        const auto n = static_cast<std::size_t>(i);
        const bool used = !sparse_ || tap_used_[n] != 0;
        rls_->x_re[n] = used ? re[2 * i] : 0.0f;
        rls_->x_im[n] = used ? im[2 * i] : 0.0f;
    }
}

Complex SerialToneReceiver::EqualizerOutput() const noexcept { return rls_->Output(); }

void SerialToneReceiver::RlsUpdate(Complex error, Complex reference, float g, int reset_after) noexcept {
    RlsState& st = *rls_;
    if (eq_counter_ > reset_after) {
        st.ResetCovariance();
        eq_counter_ = 0;
    }
    kernels_->gain(st);
    kernels_->row(st);
    kernels_->covariance(st, g);
    kernels_->tap(st, error);
    // Decision feedback: the newest reference symbol enters at 43.
    for (int i = kFeedForwardTaps; i + 1 < kEqualizerTaps; ++i) {
        st.x_re[static_cast<std::size_t>(i)] = st.x_re[static_cast<std::size_t>(i + 1)];
        st.x_im[static_cast<std::size_t>(i)] = st.x_im[static_cast<std::size_t>(i + 1)];
    }
    st.x_re[kEqualizerTaps - 1] = reference.re;
    st.x_im[kEqualizerTaps - 1] = reference.im;
}

void SerialToneReceiver::TimingStep() noexcept {
    const int main = MainTap();
    if (main < kCentreTap) tau_ -= 1.0f;
    else if (main > kCentreTap) tau_ += 1.0f;
}

void SerialToneReceiver::WeightSoftSymbols() noexcept {
    // The symbols waiting for a weight lie between the last closed window and this one.
    float noise = kNoiseReference;  // nothing measured: weight 1
    if (noise_count_ >= kNoiseWindowPart) {
        const float current = noise_sum_ / static_cast<float>(noise_count_);
        noise = noise_previous_ >= 0.0f ? 0.5f * (current + noise_previous_) : current;
        noise_previous_ = current;
        noise_average_ = noise_average_ >= 0.0f ? noise_average_ + (current - noise_average_) * kSteadyNoiseAverage : current;
        noise_sum_ = 0.0f;
        noise_count_ = 0;
    } else if (noise_previous_ >= 0.0f) {
        noise = noise_previous_;
    }
    // A steady channel takes the long average (set with the first window closed, as the last).
    if (steady_ && !sparse_ && noise_average_ >= 0.0f) noise = noise_average_;
    // Without a code only the values' signs count, and the block is equalised again on them as
    // they stand (TwoWayBlock): they keep weight 1.
    const float weight = mode_index_ == kMode4800 ? 1.0f : kNoiseReference / (noise > kNoiseFloor ? noise : kNoiseFloor);
    const int count = output_.soft_symbol_count < kMaxSoftSymbols ? output_.soft_symbol_count : kMaxSoftSymbols;
    for (int k = weighted_count_ < 0 ? 0 : weighted_count_; k < count; ++k) {
        SoftSymbol& s = output_.soft_symbols[static_cast<std::size_t>(k)];
        s.i *= weight;
        s.q *= weight;
        soft_weight_[static_cast<std::size_t>(k)] = weight;
    }
    weighted_count_ = count;
}

void SerialToneReceiver::ResetDoppler() noexcept {
    ResetDopplerLags();
    profile_sum_ = {};
    profile_power_ = {};
    runs_since_choice_ = 0;
    sparse_runs_ = 0;
    spread_hz_ = -1.0f;
    rls_gain_ = kGainKnown;
    steady_ = false;
}

void SerialToneReceiver::ResetDopplerLags() noexcept {
    run_sum_ = {};
    run_previous_ = {};
    run_pattern_ = 0;
    run_pattern_previous_ = {};
    runs_seen_ = 0;
    run_length_ = 0;
    run_spacing_ = 0;
    lag_ = {};
    lag_weight_ = {};
}

void SerialToneReceiver::EndKnownRun() noexcept {
    const int length = run_length_;
    const int spacing = run_spacing_;
    run_length_ = 0;
    run_spacing_ = 0;
    if (length < kMinRunLength) {
        run_sum_ = {};
        profile_sum_ = {};
        return;
    }
    for (int i = 0; i < kFeedForwardTaps; ++i) {
        const auto n = static_cast<std::size_t>(i);
        const float power = profile_sum_[n].re * profile_sum_[n].re + profile_sum_[n].im * profile_sum_[n].im;
        profile_power_[n] += (power - profile_power_[n]) * kProfileAverage;
    }
    profile_sum_ = {};
    ++runs_since_choice_;
    // A run's snapshot holds, besides the channel, its known symbols' own correlation with
    // their neighbours, spread over every input, and that differs from run to run with the
    // scrambler: over all 37 inputs runs one apart compared about 15 % lower than runs two
    // apart on a clean signal.  Only the inputs where the delay profile is strong are compared.
    const float compared_above = kSnapshotProfileShare * *std::max_element(profile_power_.begin(), profile_power_.end());
    auto inner = [&](const std::array<Complex, kFeedForwardTaps>& a, const std::array<Complex, kFeedForwardTaps>& b) {
        Complex c{};
        for (int i = 0; i < kFeedForwardTaps; ++i) {
            const auto n = static_cast<std::size_t>(i);
            if (profile_power_[n] < compared_above) continue;
            c.re += a[n].re * b[n].re + a[n].im * b[n].im;
            c.im += a[n].im * b[n].re - a[n].re * b[n].im;
        }
        return c;
    };
    // In the preamble only runs that carried the same symbols are compared (their snapshots
    // share the pattern's own correlation): three runs apart (the segment's common part repeats
    // its patterns three blocks on) and 15 (the same block of the next segment).
    static constexpr int kDataLagRuns[kLags] = {1, 2, 4, 8, 16, 32};
    static constexpr int kPreambleLagRuns[kLags] = {3, 15, 0, 0, 0, 0};
    const int* lag_runs = data_mode_ ? kDataLagRuns : kPreambleLagRuns;
    for (int l = 0; l < kLags; ++l) {
        if (lag_runs[l] == 0 || runs_seen_ < lag_runs[l]) break;
        const auto back = static_cast<std::size_t>(lag_runs[l] - 1);
        if (run_pattern_previous_[back] != run_pattern_) continue;
        const Complex c = inner(run_sum_, run_previous_[back]);
        Complex& avg = lag_[static_cast<std::size_t>(l)];
        avg.re += (c.re - avg.re) * kDopplerAverage;
        avg.im += (c.im - avg.im) * kDopplerAverage;
        float& weight = lag_weight_[static_cast<std::size_t>(l)];
        weight += (1.0f - weight) * kDopplerAverage;
    }
    for (int k = kSnapshots - 1; k > 0; --k) {
        run_previous_[static_cast<std::size_t>(k)] = run_previous_[static_cast<std::size_t>(k - 1)];
        run_pattern_previous_[static_cast<std::size_t>(k)] = run_pattern_previous_[static_cast<std::size_t>(k - 1)];
    }
    run_previous_[0] = run_sum_;
    run_pattern_previous_[0] = run_pattern_;
    run_pattern_ = 0;
    run_sum_ = {};
    const int first_figure = doppler_first_lag_ != 0 ? kDopplerFirstFigureFourApart : preamble_fast_ ? kDopplerFirstFigureAfterFastPreamble : kDopplerFirstFigure;
    if (++runs_seen_ < first_figure || spacing <= 0) return;
    auto magnitude = [](Complex c) { return std::sqrt(c.re * c.re + c.im * c.im); };
    // Gaussian Doppler spectrum: rho(T) = exp(-2 (pi sigma T)^2), so rho(2T) / rho(T) = exp(-6 (pi sigma T)^2).
    // Runs 1 and 2 apart resolve fast fading; 4 and 8 apart slow fading, where the short lags
    // hardly decorrelate; in the preamble runs 3 and 15 apart.
    // Lags l and l + 1 of lag_runs: rho(kT) / rho(T) = exp(-2 (k^2 - 1) (pi sigma T)^2), k their ratio.
    auto sigma_from = [&](int l) {
        // Each average over the products it has had so far (the longer lag has had fewer).
        const float m1 = magnitude(lag_[static_cast<std::size_t>(l)]) / lag_weight_[static_cast<std::size_t>(l)];
        const float m2 = magnitude(lag_[static_cast<std::size_t>(l + 1)]) / lag_weight_[static_cast<std::size_t>(l + 1)];
        if (!(m1 > 0.0f) || !(lag_weight_[static_cast<std::size_t>(l + 1)] > 0.0f)) return -1.0f;
        float r = m2 / m1;
        r = r > 1.0f ? 1.0f : (r < 0.001f ? 0.001f : r);
        const int lag = lag_runs[l];
        const int k = lag_runs[l + 1] / lag;
        const float tau = static_cast<float>(lag * spacing) / profile_.symbol_rate;
        return std::sqrt(-std::log(r) / static_cast<float>(2 * (k * k - 1))) / (3.14159265f * tau);
    };
    float sigma = !data_mode_ || doppler_first_lag_ == 0 ? sigma_from(0) : -1.0f;
    if (data_mode_ && sigma < 1.0f) sigma = sigma_from(2);
    if (doppler_first_lag_ != 0) {
        // Where runs four apart are the shortest lag trusted, fast fading decorrelates both it
        // and twice it down to the noise, and their ratio says nothing.  Runs one and four apart
        // then bound the spread: rho(4T) / rho(T) = exp(-30 (pi sigma T)^2).  The patterns of
        // runs one apart differ, which lowers that lag a little and only lowers the bound.
        const float m1 = magnitude(lag_[0]) / lag_weight_[0];
        const float m4 = magnitude(lag_[2]) / lag_weight_[2];
        const float r = m1 > 0.0f ? m4 / m1 : 1.0f;
        if (r < kDecorrelated) {
            const float tau = static_cast<float>(spacing) / profile_.symbol_rate;
            const float bound = std::sqrt(-std::log(r > 0.001f ? r : 0.001f) / 30.0f) / (3.14159265f * tau);
            if (bound > sigma) sigma = bound;
        }
    }
    if (sigma < 0.0f) return;
    spread_hz_ = 2.0f * sigma;
    // Steady: runs 32 apart about as alike as runs 16 apart.  After 48 runs AWGN reads 0.92 to
    // 1.01 here, the moderate channel (0.5 Hz) 0.73 to 1, the 4800 bit/s signal on 2 ms / 0.5 Hz
    // 0.47 to 0.97 and the poor channel (1 Hz) 0.6 to 1.9, its spread then mostly over 1 Hz;
    // after 96 runs AWGN 0.95 to 1.01, the others at most 0.97.
    if (data_mode_ && runs_seen_ >= kSteadyRuns) {
        const float m16 = magnitude(lag_[4]) / lag_weight_[4];
        const float m32 = magnitude(lag_[5]) / lag_weight_[5];
        steady_ = spread_hz_ < kSteadyBelowHz && m16 > 0.0f && m32 > kSteadyRatio * m16;
    }
    // The slow channels read a few Hz now and then: the sparse set is taken only after 2 runs in
    // a row above its threshold, 16 where runs four and eight apart are compared (the poor
    // channel reads over 2.5 Hz in streaks of up to about 15 runs there).  Where runs one and two
    // apart are compared, waiting for 6 runs in a row (and a first figure after 10) left the
    // first second of a frame on 2 ms / 5 Hz to the full equaliser: a third of the short
    // interleaver's errors; the poor channel, which then goes sparse for a few runs now and then,
    // loses 3 errors more in 10^6 bits at 18 dB.
    sparse_runs_ = spread_hz_ > kSparseAboveHz ? sparse_runs_ + 1 : 0;
    // In the preamble the figure is only kept for the switch to data.
    if (!data_mode_) return;
    const int runs_needed = doppler_first_lag_ != 0 ? kSparseRunsFourApart : preamble_fast_ ? 1 : kSparseRuns;
    if (spread_hz_ > kSparseAboveHz && (sparse_ || sparse_runs_ >= runs_needed)) {
        const float g = 1.0f + kSparseGainPerHz * spread_hz_;
        rls_gain_ = g < kSparseGainMax ? g : kSparseGainMax;
        if (!sparse_ || runs_since_choice_ >= kRunsPerChoice) ChooseSparseTaps();
    } else {
        rls_gain_ = kGainKnown;
        if (sparse_ && spread_hz_ < kWideBelowHz) UseAllTaps();
    }
}

int SerialToneReceiver::feed_forward_taps_in_use() const noexcept {
    if (!sparse_) return kFeedForwardTaps;
    int n = 0;
    for (const std::uint8_t used : tap_used_) n += used;
    return n;
}

void SerialToneReceiver::ChooseSparseTaps() noexcept {
    runs_since_choice_ = 0;
    std::array<std::uint8_t, kFeedForwardTaps> used{};
    for (int k = 0; k < kSparseTaps; ++k) {
        int best = -1;
        for (int i = 0; i < kFeedForwardTaps; ++i) {
            const auto n = static_cast<std::size_t>(i);
            if (used[n] == 0 && (best < 0 || profile_power_[n] > profile_power_[static_cast<std::size_t>(best)])) best = i;
        }
        used[static_cast<std::size_t>(best)] = 1;
    }
    if (sparse_ && used == tap_used_) return;
    sparse_ = true;
    tap_used_ = used;
    ApplyTapMask();
}

void SerialToneReceiver::UseAllTaps() noexcept {
    sparse_ = false;
    ApplyTapMask();
}

void SerialToneReceiver::ApplyTapMask() noexcept {
    // Taps leaving use are cleared; the covariance starts afresh so that none of them keeps a
    // coupling to the others.
    for (int i = 0; i < kFeedForwardTaps; ++i) {
        const auto n = static_cast<std::size_t>(i);
        if (!sparse_ || tap_used_[n] != 0) continue;
        rls_->w_re[n] = 0.0f;
        rls_->w_im[n] = 0.0f;
    }
    rls_->ResetCovariance();
    eq_counter_ = 0;
    mask_serial_ = data_serial_;
}

void SerialToneReceiver::StoreSymbol(int scramble, bool known, int decision) noexcept {
    StoredSymbol& s = Stored(data_serial_);
    const RlsState& st = *rls_;
    for (int i = 0; i < kFeedForwardTaps; ++i) {
        s.re[static_cast<std::size_t>(i)] = st.x_re[static_cast<std::size_t>(i)];
        s.im[static_cast<std::size_t>(i)] = st.x_im[static_cast<std::size_t>(i)];
    }
    s.serial = data_serial_;
    s.psi = psi_;
    s.step = f_pre_ + f_int_;
    s.scramble = scramble;
    s.decision = decision;
    s.known = known;
    s.soft_index = !known && output_.soft_symbol_count >= 0 && output_.soft_symbol_count < kMaxSoftSymbols
                       ? output_.soft_symbol_count
                       : -1;
}

namespace {

// The decision-set index of the symbol that carries code bits `word` (the first bit highest),
// per decision set (8, 4 and 2 points): the point whose soft values have those signs.
using SymbolOfBits = std::array<std::array<int, 8>, 3>;
SymbolOfBits BuildSymbolOfBits() {
    SymbolOfBits table{};
    for (int m = 0; m < 8; ++m) {
        const std::array<float, 3> bits = EightPskSoftBits(kDecisionSet8.re[static_cast<std::size_t>(m)], kDecisionSet8.im[static_cast<std::size_t>(m)]);
        const int word = (bits[0] < 0.0f ? 4 : 0) | (bits[1] < 0.0f ? 2 : 0) | (bits[2] < 0.0f ? 1 : 0);
        table[0][static_cast<std::size_t>(word)] = m;
    }
    for (int m = 0; m < 4; ++m) {
        const int word = (kDecisionSet4.re[static_cast<std::size_t>(m)] < 0.0f ? 2 : 0) | (kDecisionSet4.im[static_cast<std::size_t>(m)] < 0.0f ? 1 : 0);
        table[1][static_cast<std::size_t>(word)] = m;
    }
    table[2][0] = 0;
    table[2][1] = 1;
    return table;
}
const SymbolOfBits kSymbolOfBits = BuildSymbolOfBits();

float PhaseInCycle(float p) noexcept {
    p = std::fmod(p, kPhaseCycle);
    return p < 0.0f ? p + kPhaseCycle : p;
}

// Solves (G + delta I) w = p for Hermitian positive G of size n (row-major), in place in p.
bool SolveHermitian(std::complex<double>* g, std::complex<double>* p, int n) noexcept {
    double trace = 0.0;
    for (int i = 0; i < n; ++i) trace += g[i * n + i].real();
    const double delta = 1e-3 * trace / n + 1e-9;
    for (int i = 0; i < n; ++i) g[i * n + i] += delta;
    // Cholesky: G = L L^H, L in the lower triangle.
    for (int j = 0; j < n; ++j) {
        double d = g[j * n + j].real();
        for (int k = 0; k < j; ++k) d -= std::norm(g[j * n + k]);
        if (!(d > 0.0)) return false;
        d = std::sqrt(d);
        g[j * n + j] = d;
        for (int i = j + 1; i < n; ++i) {
            std::complex<double> v = g[i * n + j];
            for (int k = 0; k < j; ++k) v -= g[i * n + k] * std::conj(g[j * n + k]);
            g[i * n + j] = v / d;
        }
    }
    for (int i = 0; i < n; ++i) {
        std::complex<double> v = p[i];
        for (int k = 0; k < i; ++k) v -= g[i * n + k] * p[k];
        p[i] = v / g[i * n + i].real();
    }
    for (int i = n - 1; i >= 0; --i) {
        std::complex<double> v = p[i];
        for (int k = i + 1; k < n; ++k) v -= std::conj(g[k * n + i]) * p[k];
        p[i] = v / g[i * n + i].real();
    }
    return true;
}

}  // namespace

void SerialToneReceiver::DecideSpan(long long first, const float* theta, const Complex* taps, const Complex* slope,
                                    bool keep_decisions) noexcept {
    // theta[k] is the phase of symbol first - 7 + k; so is ref[k] its reference in the frame of
    // the equaliser's output, kept up to date with the new decisions.
    constexpr int kBefore = kEqualizerTaps - kFeedForwardTaps;
    const DecisionFrame frame = FrameOf(decisions_);
    long long last = first;
    while (last - first < kMaxSpan && Stored(last).serial == last && !Stored(last).known) ++last;
    std::array<Complex, kMaxSpan + kBefore> ref{};
    SpanReferences(first - kBefore, last - 1, theta, ref.data());
    for (long long serial = first; serial < last; ++serial) {
        StoredSymbol& s = Stored(serial);
        const auto at = static_cast<std::size_t>(serial - first + kBefore);
        const auto j = static_cast<float>(serial - first);
        Complex y{};
        for (int i = 0; i < kFeedForwardTaps; ++i) {
            const auto n = static_cast<std::size_t>(i);
            const float wr = taps[n].re + j * slope[n].re;
            const float wi = taps[n].im + j * slope[n].im;
            y.re += wr * s.re[n] + wi * s.im[n];
            y.im += wr * s.im[n] - wi * s.re[n];
        }
        for (int i = kFeedForwardTaps; i < kEqualizerTaps; ++i) {
            const auto n = static_cast<std::size_t>(i);
            const float wr = taps[n].re + j * slope[n].re;
            const float wi = taps[n].im + j * slope[n].im;
            const Complex x = ref[at - kEqualizerTaps + n];
            y.re += wr * x.re + wi * x.im;
            y.im += wr * x.im - wi * x.re;
        }
        const Complex yp = Mul(y, sine_.Rotor(PhaseInCycle(theta[at])));
        const Complex v = frame.Into(Mul(yp, ScrambleRotor(s.scramble)));
        if (!keep_decisions) {
            s.decision = Decide8Psk(v.re, v.im) >> frame.shift;
            SpanReferences(serial, serial, theta + at, &ref[at]);
        }
        if (s.soft_index < 0 || (keep_decisions && serial < block_first_serial_)) continue;
        const auto k = static_cast<std::size_t>(s.soft_index);
        SoftSymbol soft = SoftValueOf(v);
        if (keep_decisions) {
            soft.i *= soft_weight_[k];
            soft.q *= soft_weight_[k];
        }
        output_.soft_symbols[k] = soft;
    }
}

void SerialToneReceiver::SpanReferences(long long from, long long to, const float* theta, Complex* ref) noexcept {
    const DecisionFrame frame = FrameOf(decisions_);
    for (long long serial = from; serial <= to; ++serial) {
        const StoredSymbol& r = Stored(serial);
        const auto k = static_cast<std::size_t>(serial - from);
        const Complex point{frame.set->re[static_cast<std::size_t>(r.decision)], frame.set->im[static_cast<std::size_t>(r.decision)]};
        const Complex back = Conj(sine_.Rotor(PhaseInCycle(theta[k])));
        ref[k] = Mul(Mul(Mul(point, Conj(ScrambleRotor(r.scramble))), frame.from), back);
    }
}

void SerialToneReceiver::SpanPhases(long long base, long long first, long long end, float* theta) noexcept {
    const int length = static_cast<int>(end - base) + 1;
    const int at_first = static_cast<int>(first - base);
    theta[at_first] = Stored(first).psi;
    for (int k = at_first + 1; k < length; ++k) theta[k] = theta[k - 1] + Stored(base + k - 1).step;
    for (int k = at_first - 1; k >= 0; --k) theta[k] = theta[k + 1] - Stored(base + k).step;
}

bool SerialToneReceiver::FitSpan(const SpanRecord& span, const float* theta, Complex* taps, Complex* slope) noexcept {
    constexpr int kBefore = kEqualizerTaps - kFeedForwardTaps;
    const int used = span.fit_inputs;
    const int n = 2 * used;
    if (used <= 0 || n > kMaxFitSize) return false;
    const long long first = span.first;
    const long long lo = first - span.known_before;
    const long long end = first + span.count + span.known_after - 1;
    const long long base = lo - kBefore;
    std::array<Complex, kSpanWindow> ref{};
    SpanReferences(base, end, theta, ref.data());
    auto reference = [&](long long serial) { return ref[static_cast<std::size_t>(serial - base)]; };
    const double middle = 0.5 * static_cast<double>(lo + end);
    std::fill(fit_matrix_.begin(), fit_matrix_.end(), std::complex<double>{});
    std::fill(fit_vector_.begin(), fit_vector_.end(), std::complex<double>{});
    std::array<std::complex<double>, kMaxFitSize> u{};
    for (long long k = lo; k <= end; ++k) {
        const StoredSymbol& s = Stored(k);
        const double t = (static_cast<double>(k) - middle) / 32.0;
        for (int q = 0; q < used; ++q) {
            const int i = span.inputs[static_cast<std::size_t>(q)];
            Complex x;
            if (i < kFeedForwardTaps) x = {s.re[static_cast<std::size_t>(i)], s.im[static_cast<std::size_t>(i)]};
            else x = reference(k - kEqualizerTaps + i);
            u[static_cast<std::size_t>(q)] = {x.re, x.im};
            u[static_cast<std::size_t>(q + used)] = t * u[static_cast<std::size_t>(q)];
        }
        const Complex d = reference(k);
        // u conj(d) and u u^H, written out (the library's complex product checks for NaN on
        // every call; these sums are most of the fit's time).
        const double dr = d.re;
        const double di = d.im;
        for (int r = 0; r < n; ++r) {
            const double ar = u[static_cast<std::size_t>(r)].real();
            const double ai = u[static_cast<std::size_t>(r)].imag();
            std::complex<double>& v = fit_vector_[static_cast<std::size_t>(r)];
            v = {v.real() + (ar * dr + ai * di), v.imag() + (ai * dr - ar * di)};
            std::complex<double>* row = fit_matrix_.data() + r * n;
            for (int c = 0; c <= r; ++c) {
                const double br = u[static_cast<std::size_t>(c)].real();
                const double bi = u[static_cast<std::size_t>(c)].imag();
                row[c] = {row[c].real() + (ar * br + ai * bi), row[c].imag() + (ai * br - ar * bi)};
            }
        }
    }
    for (int r = 0; r < n; ++r)
        for (int c = r + 1; c < n; ++c) fit_matrix_[static_cast<std::size_t>(r * n + c)] = std::conj(fit_matrix_[static_cast<std::size_t>(c * n + r)]);
    if (!SolveHermitian(fit_matrix_.data(), fit_vector_.data(), n)) return false;
    // y = W^H u; the taps hold conj-weights in the same sense (y = sum conj(w) x).
    std::fill(taps, taps + kEqualizerTaps, Complex{});
    std::fill(slope, slope + kEqualizerTaps, Complex{});
    const double t_first = (static_cast<double>(first) - middle) / 32.0;
    for (int q = 0; q < used; ++q) {
        const auto i = static_cast<std::size_t>(span.inputs[static_cast<std::size_t>(q)]);
        const std::complex<double> w0 = fit_vector_[static_cast<std::size_t>(q)];
        const std::complex<double> w1 = fit_vector_[static_cast<std::size_t>(q + used)];
        const std::complex<double> at_first_symbol = w0 + t_first * w1;
        taps[i] = {static_cast<float>(at_first_symbol.real()), static_cast<float>(at_first_symbol.imag())};
        slope[i] = {static_cast<float>(w1.real() / 32.0), static_cast<float>(w1.imag() / 32.0)};
    }
    return true;
}

void SerialToneReceiver::ReequalizeSpan(int known) noexcept {
    const int count = span_count_;
    span_count_ = -1;
    if (count <= 0 || count > kMaxSpan) return;
    const long long end = data_serial_;
    const long long first = end - known - count + 1;
    constexpr int kBefore = kEqualizerTaps - kFeedForwardTaps;  // feedback inputs before a symbol
    // The fit spans the run before, the span and the run after, when all of it was stored with
    // the taps in use now (a fit across a change of the sparse set lost more than it gained:
    // 2400 long at 24 dB on 2 ms / 5 Hz, 88 errors against 7).
    const int known_a = last_run_length_;
    const long long lo = first - known_a;
    if (first - kBefore < 1) return;
    for (long long k = first - kBefore; k <= end; ++k)
        if (Stored(k).serial != k) return;
    bool fit = known_a >= kMinRunLength && lo - kBefore >= 1 && lo > mask_serial_ && end - lo + 1 + kBefore <= kSpanWindow;
    for (long long k = lo - kBefore; fit && k < first - kBefore; ++k) fit = Stored(k).serial == k;
    const long long base = (fit ? lo : first) - kBefore;
    if (end - base + 1 > kSpanWindow) return;
    std::array<float, kSpanWindow> theta{};
    SpanPhases(base, first, end, theta.data());
    const float* span_theta = theta.data() + (first - kBefore - base);

    // First pass: the taps before the span and after the run, interpolated.  The run's taps are
    // taken into the span's carrier frame: conj(W) R(theta) = conj(w) R(psi).
    const int length = static_cast<int>(end - base) + 1;
    const Complex turn = sine_.Rotor(PhaseInCycle(theta[static_cast<std::size_t>(length - 1)] - psi_));
    const RlsState& st = *rls_;
    const float a = -1.0f - kSpanTapLag;
    const float b = static_cast<float>(count + known - 1) - kSpanTapLag;
    SpanRecord record;
    record.first = first;
    record.count = count;
    record.known_before = known_a;
    record.known_after = known;
    for (int i = 0; i < kEqualizerTaps; ++i) {
        const auto n = static_cast<std::size_t>(i);
        const Complex wa = span_taps_[n];
        const Complex wb = Mul(Complex{st.w_re[n], st.w_im[n]}, turn);
        record.slope[n] = {(wb.re - wa.re) / (b - a), (wb.im - wa.im) / (b - a)};
        record.taps[n] = {wa.re - a * record.slope[n].re, wa.im - a * record.slope[n].im};
    }
    DecideSpan(first, span_theta, record.taps.data(), record.slope.data(), false);
    // The fit needs few inputs: the sparse set only.
    if (fit && sparse_) {
        for (int i = 0; i < kFeedForwardTaps; ++i)
            if (tap_used_[static_cast<std::size_t>(i)] != 0 && record.fit_inputs < kSparseFitInputs)
                record.inputs[static_cast<std::size_t>(record.fit_inputs++)] = static_cast<std::uint8_t>(i);
        for (int i = kFeedForwardTaps; i < kEqualizerTaps; ++i) record.inputs[static_cast<std::size_t>(record.fit_inputs++)] = static_cast<std::uint8_t>(i);
        std::array<Complex, kEqualizerTaps> taps{};
        std::array<Complex, kEqualizerTaps> slope{};
        if (FitSpan(record, theta.data(), taps.data(), slope.data())) DecideSpan(first, span_theta, taps.data(), slope.data(), false);
    }
    if (span_records_ < kMaxSpansPerBlock && first >= block_first_serial_) spans_[static_cast<std::size_t>(span_records_++)] = record;
}

void SerialToneReceiver::RefitBlock() noexcept {
    // Without a code (4800 bit/s) the spans are decided again on their own decisions.
    const bool uncoded = mode_index_ == kMode4800;
    const DecoderReferences references = uncoded ? DecoderReferences{} : TakeDecoderReferences();
    if (!uncoded && !references.taken) return;
    constexpr int kBefore = kEqualizerTaps - kFeedForwardTaps;
    std::array<float, kSpanWindow> theta{};
    std::array<Complex, kEqualizerTaps> taps{};
    std::array<Complex, kEqualizerTaps> slope{};
    // On the full equaliser each span takes the averaged taps of the spans around the instant its
    // own taps stand for; on a steady channel, where that lag does not matter, many spans around
    // it (8 on either side, about 0.35 s at 2400 bit/s: AWGN "2400 short" at 8.5 dB 19 -> 3
    // errors in 10^6 bits, "1200 long" at 4.2 dB 21 -> 4).  Fast fading keeps each span's own
    // taps or fit.
    const int smooth = sparse_ ? -1 : steady_ ? kSteadySmoothingSpans : kTrackingSmoothingSpans;
    const float lag = steady_ ? 0.0f : kTrackingLagSymbols;
    for (int r = 0; r < span_records_; ++r) {
        const SpanRecord& span = spans_[static_cast<std::size_t>(r)];
        const long long end = span.first + span.count + span.known_after - 1;
        const long long base = (span.fit_inputs > 0 ? span.first - span.known_before : span.first) - kBefore;
        if (end - base + 1 > kSpanWindow || data_serial_ - base >= kStoreLength) continue;
        SpanPhases(base, span.first, end, theta.data());
        const float* span_theta = theta.data() + (span.first - kBefore - base);
        if (span.fit_inputs > 0 && FitSpan(span, theta.data(), taps.data(), slope.data()))
            DecideSpan(span.first, span_theta, taps.data(), slope.data(), !uncoded);
        else if (smooth >= 0 && SmoothedTaps(r, smooth, lag, taps.data(), slope.data()))
            DecideSpan(span.first, span_theta, taps.data(), slope.data(), !uncoded);
        else if (!uncoded)
            DecideSpan(span.first, span_theta, span.taps.data(), span.slope.data(), true);
    }
    if (uncoded) TwoWayBlock();
    else CancelOnDecoderReferences(references);
}

SerialToneReceiver::DecoderReferences SerialToneReceiver::TakeDecoderReferences() noexcept {
    DecoderReferences references;
    const int bits = decoder_->BlockCodeBits(output_, first_block_, code_bits_);
    if (bits <= 0) return references;
    const DecisionFrame frame = FrameOf(decisions_);
    const int per_symbol = frame.bits_per_symbol();
    for (long long serial = block_first_serial_; serial <= data_serial_; ++serial) {
        StoredSymbol& s = Stored(serial);
        if (s.serial != serial || s.known || s.soft_index < 0 || (s.soft_index + 1) * per_symbol > bits) continue;
        int word = 0;
        for (int b = 0; b < per_symbol; ++b)
            word = (word << 1) | code_bits_[static_cast<std::size_t>(s.soft_index * per_symbol + b)];
        const int decision = kSymbolOfBits[static_cast<std::size_t>(frame.shift)][static_cast<std::size_t>(word)];
        references.changed = references.changed || decision != s.decision;
        s.decision = decision;
    }
    references.taken = true;
    references.all = output_.soft_symbol_count * per_symbol <= bits;
    return references;
}

bool SerialToneReceiver::SmoothedTaps(int r, int reach, float lag_symbols, Complex* taps, Complex* slope) noexcept {
    const SpanRecord& span = spans_[static_cast<std::size_t>(r)];
    // The spans around the one whose taps stand for this span's channel; at the end of the
    // block, where the later spans are still to come, the last ones.
    const int lag = TruncToInt(lag_symbols / static_cast<float>(span.count + span.known_after) + 0.5f);
    const int to = std::min(r + lag + reach, span_records_ - 1);
    const int from = std::max(0, std::min(r + lag - reach, to));
    std::array<Complex, kEqualizerTaps> mid{};
    std::array<Complex, kEqualizerTaps> rise{};
    int n = 0;
    for (int j = from; j <= to; ++j) {
        const SpanRecord& other = spans_[static_cast<std::size_t>(j)];
        if (other.fit_inputs > 0) continue;
        // The other span's frame turned into this one's at this span's first symbol: the two
        // frames differ by the carrier loop's corrections between their first symbols.
        float delta = 0.0f;
        if (j != r) {
            const long long lo = std::min(other.first, span.first);
            const long long hi = std::max(other.first, span.first);
            float steps = 0.0f;
            for (long long k = lo; k < hi; ++k) steps += Stored(k).step;
            const float other_at = Stored(other.first).psi + (other.first < span.first ? steps : -steps);
            delta = Stored(span.first).psi - other_at;
        }
        const Complex turn = sine_.Rotor(PhaseInCycle(delta));
        const float half = 0.5f * static_cast<float>(other.count - 1);
        for (int i = 0; i < kEqualizerTaps; ++i) {
            const auto q = static_cast<std::size_t>(i);
            const Complex m{other.taps[q].re + half * other.slope[q].re, other.taps[q].im + half * other.slope[q].im};
            const Complex mt = Mul(m, turn);
            const Complex st = Mul(other.slope[q], turn);
            mid[q].re += mt.re;
            mid[q].im += mt.im;
            rise[q].re += st.re;
            rise[q].im += st.im;
        }
        ++n;
    }
    if (n == 0) return false;
    const float inv = 1.0f / static_cast<float>(n);
    const float half = 0.5f * static_cast<float>(span.count - 1);
    for (int i = 0; i < kEqualizerTaps; ++i) {
        const auto q = static_cast<std::size_t>(i);
        slope[q] = {rise[q].re * inv, rise[q].im * inv};
        taps[q] = {mid[q].re * inv - half * slope[q].re, mid[q].im * inv - half * slope[q].im};
    }
    return true;
}

void SerialToneReceiver::AddToSnapshot(Complex ref_p) noexcept {
    // The delay profile: the full feed-forward input against the known channel symbol.
    const float* re = ring_re_.data() + ring_pos_ + kEqualizerInputOffset;
    const float* im = ring_im_.data() + ring_pos_ + kEqualizerInputOffset;
    for (int i = 0; i < kFeedForwardTaps; ++i) {
        Complex& h = profile_sum_[static_cast<std::size_t>(i)];
        h.re += re[2 * i] * ref_p.re + im[2 * i] * ref_p.im;
        h.im += im[2 * i] * ref_p.re - re[2 * i] * ref_p.im;
    }
    // Channel snapshot: the feed-forward input of the span in use against the known channel
    // symbol.
    for (int i = 0; i < kFeedForwardTaps; ++i) {
        const Complex x{rls_->x_re[static_cast<std::size_t>(i)], rls_->x_im[static_cast<std::size_t>(i)]};
        Complex& h = run_sum_[static_cast<std::size_t>(i)];
        h.re += x.re * ref_p.re + x.im * ref_p.im;
        h.im += x.im * ref_p.re - x.re * ref_p.im;
    }
    ++run_length_;
}

void SerialToneReceiver::TrainingSymbol() noexcept {
    ++eq_counter_;
    FormEqualizerInput();
    const Complex carrier = sine_.Rotor(psi_);
    const Complex yp = Mul(EqualizerOutput(), carrier);
    int m = Decide8Psk(yp.re, yp.im);
    const int expected = tables_->preamble[static_cast<std::size_t>(training_index_)];
    if (expected >= 0) m = expected;
    training_index_ = training_index_ + 1 == kFrameLength ? 0 : training_index_ + 1;

    const Complex ref{kDecisionSet8.re[static_cast<std::size_t>(m)], kDecisionSet8.im[static_cast<std::size_t>(m)]};
    const Complex e{ref.re - yp.re, ref.im - yp.im};
    const float p = Clip(-45.0f * Cross(yp, e), 4000.0f);
    phi_fast_ += (p - phi_fast_) * 0.3f;

    // The preamble's known symbols measure the Doppler spread and the delay profile as the
    // data frames' known runs do, a run every 32 symbols, so that the data can take the sparse
    // set sooner in fast fading.
    // The input is not turned by the carrier phase, so the reference is turned back into its
    // frame: over a run of 32 symbols a carrier offset of 75 Hz turns the input a whole cycle.
    const Complex back = Conj(carrier);
    if (expected >= 0) AddToSnapshot(Mul(ref, back));
    run_pattern_ = run_pattern_ * 31u + static_cast<std::uint32_t>(expected + 2);
    ++run_spacing_;
    if (training_index_ % kTrainingRun == 0) EndKnownRun();
    RlsUpdate(Mul(e, back), Mul(ref, back), kGainKnown, kTrainingResetAfter);
    PutTrace(yp);
    psi_ = WrapPhase(psi_ - phi_fast_);
    psi_ = WrapPhase(psi_ + f_pre_);

    if (search_state_ == kLastSegmentPassed && training_index_ == kDataStartIndex) StartData();
}

void SerialToneReceiver::StartData() noexcept {
    search_state_ = kSearching;
    segment_n_ = 0;
    data_mode_ = true;
    output_.receiving.store(1, std::memory_order_relaxed);
    quality_ = 1.0f;
    frame_position_ = 0;
    noise_sum_ = 0.0f;
    noise_count_ = 0;
    noise_previous_ = -1.0f;
    noise_average_ = -1.0f;
    weighted_count_ = 0;
    // The data frames' runs lie further apart than the preamble's: their lags are measured
    // afresh, while the spread and the delay profile carry on until the first figure of the
    // data, which comes sooner when the preamble read fast fading.
    ResetDopplerLags();
    // The preamble's delay profile seeds the first choice of the sparse set at a quarter of its
    // weight, so that the data's own runs soon outweigh it (at full weight it held a frame with
    // an 80 Hz carrier offset on 2 ms / 5 Hz on the wrong taps until it ended).
    for (float& p : profile_power_) p *= kPreambleProfileWeight;
    preamble_fast_ = spread_hz_ > kPreambleSparseAboveHz;
    span_count_ = -1;
    first_block_ = true;
    wrong_known_ = 0;
    previous_known_ = false;
    run_start_ = {};
}

void SerialToneReceiver::DataSymbol() noexcept {
    const int t = (*current_table_)[static_cast<std::size_t>(frame_position_)];
    const int c = t & 7;
    ++eq_counter_;
    ++data_serial_;
    if (frame_position_ == 0 && frame_counter_ == 0) {
        output_.mode.store(mode_index_, std::memory_order_relaxed);
        output_.soft_symbol_count = 0;
        weighted_count_ = 0;
        block_first_serial_ = data_serial_;
        span_records_ = 0;
    }

    FormEqualizerInput();
    if (eq_counter_ % 8 == 0) TimingStep();
    const Complex carrier = sine_.Rotor(psi_);
    const Complex yp = Mul(EqualizerOutput(), carrier);

    // Descramble (times e^{j(22.5 + 45 c)}) and turn into the decision set.
    const Complex scramble = ScrambleRotor(c);
    const DecisionFrame frame = FrameOf(decisions_);
    const DecisionSet* set = frame.set;
    const Complex v = frame.Into(Mul(yp, scramble));
    PutTrace(v);
    const int m = Decide8Psk(v.re, v.im) >> frame.shift;

    Complex ref;
    Complex e;
    float g;
    bool frame_ends = false;
    if (t < kUnknownSymbol) {
        // Known symbol: expected at R[0] after descrambling.
        ref = {set->re[0], set->im[0]};
        e = {ref.re - v.re, ref.im - v.im};
        const float a = ApproxMagnitude(e.re, e.im);

        if (!previous_known_) {
            // A known run starts: remember the window as it stood (see EndFrame).
            run_start_[0] = run_start_[1];
            run_start_[1] = {snr_sum_, snr_count_};
        }
        snr_sum_ += a;
        if (++snr_count_ == kSnrWindow) {
            frame_error_sum_ += snr_sum_;
            frame_symbol_count_ += kSnrWindow;
            const int snr = TruncToInt(snr_map_.SnrFromError(snr_sum_ * 0.00125f));
            output_.snr.store(snr, std::memory_order_relaxed);
            const auto s = static_cast<float>(snr);
            if (s < frame_min_) frame_min_ = s;
            if (s > frame_max_) frame_max_ = s;
            snr_sum_ = 0.0f;
            snr_count_ = 0;
        }

        noise_sum_ += e.re * e.re + e.im * e.im;
        ++noise_count_;

        const float p = Clip(-30.0f * Cross(v, e), 4000.0f);
        phi_fast_ += (p - phi_fast_) * 0.3f;
        phi_slow_ += (p - phi_slow_) / 64.0f;
        f_int_ = Clip(f_int_ - 0.005f * phi_slow_, 64.0f);

        // The decided channel symbol equals the known one exactly when the decision is 0.  A
        // ring of exact zeros (digital silence) holds no symbol at all: the decision there
        // comes from the equaliser's own fed-back decisions and counts as wrong.
        const float beta = decisions_ == Modulation::Psk8 || decisions_ == Modulation::Uncoded8 ? 0.004f : 0.005f;
        if (m == 0 && zero_run_ < kRingLength) {
            quality_ += (1.0f - quality_) * beta;
        } else {
            quality_ -= quality_ * beta;
            ++wrong_known_;
        }
        // Fast fading takes both paths down now and then: 8-PSK then ends a frame at 0.15 rather
        // than 0.2 (still above the 1/8 that noise alone settles at).
        const float psk8_limit = sparse_ ? 0.15f : 0.2f;
        const float limit = decisions_ == Modulation::Qpsk ? 0.3f : decisions_ == Modulation::Psk8 ? psk8_limit : 0.5f;
        frame_ends = output_.eom_found != 0 || quality_ < limit;
        g = sparse_ ? rls_gain_ : steady_ ? kGainKnownSteady : kGainKnown;
        StoreSymbol(c, true, 0);
    } else {
        const int ended_run = run_length_;
        if (previous_known_) EndKnownRun();
        if (previous_known_) {
            // A span opens: the taps as the run before it left them.
            last_run_length_ = ended_run;
            span_count_ = 0;
            for (int i = 0; i < kEqualizerTaps; ++i)
                span_taps_[static_cast<std::size_t>(i)] = {rls_->w_re[static_cast<std::size_t>(i)], rls_->w_im[static_cast<std::size_t>(i)]};
        }
        // A run of known symbols long enough to measure the noise closes a window.
        if (previous_known_ && noise_count_ >= kNoiseWindow) WeightSoftSymbols();
        ref = {set->re[static_cast<std::size_t>(m)], set->im[static_cast<std::size_t>(m)]};
        e = {ref.re - v.re, ref.im - v.im};
        g = sparse_ ? 1.0f + (rls_gain_ - 1.0f) * kUnknownShare : steady_ ? kGainUnknownSteady : kGainUnknown;
        if (span_count_ >= 0) ++span_count_;
        StoreSymbol(c, false, m);
        if (output_.soft_symbol_count >= 0 && output_.soft_symbol_count < kMaxSoftSymbols) {
            // Weighted once the window around it is complete (WeightSoftSymbols).
            output_.soft_symbols[static_cast<std::size_t>(output_.soft_symbol_count)] = SoftValueOf(v);
            ++output_.soft_symbol_count;
        }
    }

    previous_known_ = t < kUnknownSymbol;
    const float p = Clip(-20.0f * Cross(v, e), 4000.0f);
    phi_fast_ += (p - phi_fast_) * 0.2f;

    // Back into the frame of y', then of y.
    const Complex unscramble = Conj(scramble);
    const Complex back = Conj(carrier);
    const Complex e_y = Mul(Mul(Mul(e, unscramble), frame.from), back);
    const Complex ref_p = Mul(Mul(ref, unscramble), frame.from);
    const Complex ref_y = Mul(ref_p, back);
    if (t < kUnknownSymbol) AddToSnapshot(ref_p);
    ++run_spacing_;
    const int reset_after = sparse_ ? std::min(kDataResetAfter, static_cast<int>(kSparseResetMemories / (rls_gain_ - 1.0f))) : kDataResetAfter;
    RlsUpdate(e_y, ref_y, g, reset_after);
    if (t < kUnknownSymbol && span_count_ >= 0) {
        // The known run ends here: the span before it is equalised again.
        const int next = frame_position_ + 1;
        if (next == kFrameLength || (*current_table_)[static_cast<std::size_t>(next)] >= kUnknownSymbol) {
            if (run_length_ >= kMinRunLength) ReequalizeSpan(run_length_);
            span_count_ = -1;
        }
    }
    if (sparse_) {
        // The covariance of a tap out of use only grows by the gain; hold it at its start.
        for (int i = 0; i < kFeedForwardTaps; ++i)
            if (tap_used_[static_cast<std::size_t>(i)] == 0)
                rls_->p_re[static_cast<std::size_t>(i * kEqualizerStride + i)] = 1.0f / 44.0f;
    }

    ++frame_position_;
    psi_ = WrapPhase(psi_ - phi_fast_);
    psi_ = WrapPhase(psi_ + f_pre_ + f_int_);

    if (frame_ends) {
        // The frame ends here; a block completed by this very symbol is not handed over, so the
        // end-of-frame flag is never overwritten and the decoder never runs after the reset.
        EndFrame();
        return;
    }
    if (frame_position_ == kFrameLength) {
        frame_position_ = 0;
        ++frame_counter_;
        current_table_ = frames_per_block_ == frame_counter_ + 1 ? last_table_ : normal_table_;
        if (frame_counter_ == frames_per_block_) {
            frame_counter_ = 0;
            output_.flags.store(first_block_ ? kRxFlagStart + kRxFlagBits : kRxFlagBits, std::memory_order_release);
            output_.eom_found = 0;
            WeightSoftSymbols();
            RefitBlock();
            decoder_->DecodeFrameBlock(output_, first_block_);
            first_block_ = false;
        }
    }
}

void SerialToneReceiver::EndFrame() noexcept {
    int avg;
    int min;
    int max;
    if (frame_symbol_count_ > 0) {
        avg = TruncToInt(snr_map_.SnrFromError(frame_error_sum_ / static_cast<float>(frame_symbol_count_)));
        min = TruncToInt(frame_min_);
        max = TruncToInt(frame_max_);
    } else {
        // No complete S/N window in this frame (one short block is 480 to 720 known symbols):
        // the known symbols seen so far give the frame's one figure, all but the last two
        // known runs.  Those are the tail of the transmission, whose last run never fully
        // reaches the air (the transmitter does not flush its shaping filter), and the first
        // known symbol after it, which ended the frame.
        const WindowMark& mark = run_start_[0];
        if (mark.count > 0) {
            output_.snr.store(TruncToInt(snr_map_.SnrFromError(mark.sum / static_cast<float>(mark.count))),
                              std::memory_order_relaxed);
        }
        avg = min = max = output_.snr.load(std::memory_order_relaxed);
    }
    output_.snr_avg.store(avg, std::memory_order_relaxed);
    output_.snr_min.store(min, std::memory_order_relaxed);
    output_.snr_max.store(max, std::memory_order_relaxed);
    frame_symbol_count_ = 0;
    frame_error_sum_ = 0.0f;
    frame_min_ = 100.0f;
    frame_max_ = -100.0f;

    ResetTracking();
    ClearTrace();
    span_count_ = -1;
    data_mode_ = false;
    output_.receiving.store(0, std::memory_order_relaxed);
    // The decoder holds back the last bits of the last block (it decides each bit from the
    // symbols after it); unless the end-of-message word has been seen, they come with the end.
    const bool held_bits = decoder_->FinishFrame(output_);
    output_.flags.store(held_bits ? kRxFlagEnd + kRxFlagBits : kRxFlagEnd, std::memory_order_release);
    output_.eom_found = 0;
}

}  // namespace kavra::modem
