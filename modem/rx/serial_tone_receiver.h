// The per-sample serial-tone receiver: front end (card-rate correction, mixing to baseband,
// low-pass filtering, symbol-timing interpolation, AGC), preamble synchronisation, equaliser
// training, data demodulation with carrier and timing tracking, S/N estimation and the hand-off
// of every interleaver block to the block decoder.  One design serves both modem types; the
// profile supplies the rates, the carrier and the front-end filter.
#pragma once

#include <array>
#include <complex>
#include <vector>
#include <cstdint>
#include <memory>

#include "modem/common/lagrange_table.h"
#include "modem/common/receiver_output.h"
#include "modem/rx/receiver_kernels.h"
#include "modem/rx/receiver_profile.h"
#include "modem/rx/receiver_tables.h"

namespace kavra::modem {

class BlockDecoder;

// Capture card rates the receiver accepts: within 5 % of 48000 Hz.  Rates outside are clamped
// to that window (a mistyped setting must not stall the rate converter).
inline constexpr int kMinCaptureCardRate = 45600;
inline constexpr int kMaxCaptureCardRate = 50400;
constexpr bool IsAcceptableCaptureCardRate(long long hz) {
    return hz >= kMinCaptureCardRate && hz <= kMaxCaptureCardRate;
}

// BasebandRing: 32 symbols of 4 samples.
inline constexpr int kBasebandRingLength = 128;

// SearchState values.
inline constexpr int kSearching = 0;
inline constexpr int kPreambleSeen = 1;
inline constexpr int kLastSegmentPassed = 2;

class SerialToneReceiver {
public:
    // `output` is the record shared with the other receiver and the host; it must outlive the
    // receiver.  The host sets output.rx_carrier and output.card_rate.
    SerialToneReceiver(int modem_type, ReceiverOutput& output);
    ~SerialToneReceiver();
    SerialToneReceiver(const SerialToneReceiver&) = delete;
    SerialToneReceiver& operator=(const SerialToneReceiver&) = delete;

    // One SampleRing sample (9600 or 8000 samples/s nominal).  Never allocates or blocks; the
    // host reads output.flags after each call and writes 0 to it.
    void ProcessSample(std::int16_t sample) noexcept;

    // Clears the S/N window, the correlator slot averages and slot choice, the equaliser taps
    // and covariance, and the carrier-loop terms.
    void ResetTracking() noexcept;

    // The SIMD equaliser and correlator kernels when `use_simd` and the processor allows it,
    // else the portable ones.  Both compute the same values.
    void SelectKernels(bool use_simd) noexcept;
    // One particular set; false (and no change) where it cannot run here.
    bool SelectKernels(KernelSet set) noexcept;

    // --- read-only views for tests, benchmarks and diagnostics ---
    int modem_type() const noexcept { return profile_.modem_type; }
    const ReceiverKernels& kernels() const noexcept { return *kernels_; }
    int search_state() const noexcept { return search_state_; }
    // Correlator steps (half symbols) since the latest common part of a preamble segment.
    int segment_counter() const noexcept { return segment_n_; }
    bool in_data_mode() const noexcept { return data_mode_; }
    float timing_phase() const noexcept { return tau_; }      // 1/201 sample units
    float quality() const noexcept { return quality_; }
    float frequency_estimate_hz() const noexcept { return freq_hz_; }
    // Doppler spread (two-sigma, Hz) measured over the frame so far, -1 before the first figure.
    float doppler_spread_hz() const noexcept { return spread_hz_; }
    // Feed-forward taps in use (all 37 but in fast fading).
    int feed_forward_taps_in_use() const noexcept;
    // 1 / forgetting factor of the equaliser's data-mode updates.
    float equalizer_gain() const noexcept { return rls_gain_; }
    const RlsState& equalizer() const noexcept { return *rls_; }
    // Feed-forward tap of largest magnitude (the symbol-timing loop keeps it at 18).
    int MainTap() const noexcept;
    // Known data symbols decided wrongly since the last switch to data.
    int wrong_known_decisions() const noexcept { return wrong_known_; }
    // Baseband samples produced by the rate converter since construction.
    long long baseband_sample_count() const noexcept { return baseband_count_; }
    float agc_level() const noexcept { return agc_slow_; }
    // The BasebandRing, oldest sample first.
    std::array<Complex, kBasebandRingLength> BasebandRing() const noexcept;

private:
    static constexpr int kRingLength = kBasebandRingLength;
    static constexpr int kHistoryLength = 2048;
    static constexpr int kSlots = 64;

    void ProcessBasebandSample(float x) noexcept;
    void ProcessZ(float re, float im) noexcept;

    // Synchronisation.
    void CorrelatorStep() noexcept;
    void SegmentSchedule() noexcept;
    void Detect() noexcept;
    void UpdateSlotAverages() noexcept;
    void StoreRing(int block) noexcept;
    Complex CorrelateWithRing(int block) const noexcept;
    // |CorrelateWithRing(block)| over the two blocks' powers: 1 for the same samples.
    float RingMatch(int block) const noexcept;
    void CoarseEstimate(bool smooth) noexcept;
    void FineEstimate() noexcept;
    void SetPreambleStep() noexcept;
    float ResolveAlias(float f) const noexcept;
    void EndOfLastSegment() noexcept;
    void ApplyDataMode(int d1, int d2) noexcept;
    void SegmentTimedOut() noexcept;
    void LoseSync() noexcept;

    // Equaliser and decisions.
    void TrainingSymbol() noexcept;
    void StartData() noexcept;
    void DataSymbol() noexcept;
    void FormEqualizerInput() noexcept;
    Complex EqualizerOutput() const noexcept;
    void RlsUpdate(Complex error, Complex reference, float g, int reset_after) noexcept;
    void TimingStep() noexcept;
    // Weights the block's soft symbols that have no weight yet by the noise on the known symbols
    // around them (the window being closed and the one before it).
    void WeightSoftSymbols() noexcept;
    void EndFrame() noexcept;
    void PutTrace(Complex point) noexcept;
    void ClearTrace() noexcept;
    float Hz(float phase_step) const noexcept { return phase_step * profile_.hz_per_phase_step(); }

    const ReceiverProfile& profile_;
    ReceiverOutput& output_;
    std::unique_ptr<BlockDecoder> decoder_;
    const ReceiverKernels* kernels_;

    // Constant tables.
    SineTable sine_;
    LagrangeTable lagrange_;
    SnrMap snr_map_;
    std::unique_ptr<PreambleReference> reference_;
    std::unique_ptr<FrameTables> tables_;
    int filter_length_;  // taps up to the last non-zero one

    // Rate converter: 7 samples (stored twice so a window is contiguous), position of the oldest.
    std::array<float, 14> conv_ring_{};
    int conv_pos_ = 0;
    float conv_phase_ = 0.0f;
    float conv_step_ = 100.5f;
    int conv_toggle_ = 0;
    int card_rate_hz_ = 0;

    // Mixer.
    long long baseband_count_ = 0;
    int carrier_hz_ = -1;
    float mix_step_ = 0.0f;
    float mix_phase_ = 0.0f;

    // Baseband filter delay lines (stored twice), position of the oldest.
    std::array<float, 2 * kBasebandFilterTaps> filt_re_{};
    std::array<float, 2 * kBasebandFilterTaps> filt_im_{};
    int filt_pos_ = 0;

    // Timing interpolator: 7 complex samples (stored twice), timing phase tau and the symbol
    // quarter (sigma = quarter / 4).
    std::array<float, 14> tint_re_{};
    std::array<float, 14> tint_im_{};
    int tint_pos_ = 0;
    float tau_ = 0.0f;
    int quarter_ = 0;

    // AGC levels: slow A, fast B.
    float agc_slow_ = 0.0f;
    float agc_fast_ = 0.0f;

    // BasebandRing (stored twice), position of the oldest sample.
    std::array<float, 2 * kRingLength> ring_re_{};
    std::array<float, 2 * kRingLength> ring_im_{};
    int ring_pos_ = 0;
    int zero_run_ = 0;  // exactly zero samples appended in a row, up to the ring length

    // Correlator.
    std::array<std::array<std::uint8_t, kHistoryLength>, kCorrelatorBanks> full_history_{};
    std::array<std::array<std::uint8_t, kHistoryLength>, kCorrelatorBanks> restricted_history_{};
    int history_pos_ = 0;
    std::array<float, kCorrelatorBanks> peak_{};
    std::array<std::array<float, kSlots>, kCorrelatorBanks> slot_average_{};
    std::array<int, kCorrelatorBanks> best_slot_{};
    int slot_ = 0;
    int chosen_slot_ = 0;
    int bank_ = 0;
    CorrelatorSums sums_{};
    std::array<float, kBlockSymbols> gather_re_{};
    std::array<float, kBlockSymbols> gather_im_{};

    // Preamble state.
    int search_state_ = kSearching;
    int segment_n_ = 0;
    int detections_ = 0;
    bool common_tested_ = false;  // the next common part was tested since it became due
    bool coasting_ = false;       // the last common part was missed and the segment assumed
    bool freq_estimated_ = false;
    int segment_d1_ = 4, segment_d2_ = 4;  // D1, D2 read in the current segment
    std::array<int, 4> d1_votes_{};
    std::array<int, 4> d2_votes_{};
    int c1_ = 4, c2_ = 4, c3_ = 4;
    SegmentCounts counts_;
    // R0..R3, and the C2 block of the current segment.
    static constexpr int kLastSegmentBlock = 4;
    std::array<std::array<float, kRingLength>, 5> stored_re_{};
    std::array<std::array<float, kRingLength>, 5> stored_im_{};
    float last_segment_theta_ = 0.0f;  // radians, C2 against C3 of a last segment
    Complex fine_sum_{};
    Complex coarse_sum_{};  // the coarse correlation, smoothed over the segments
    float theta_c_ = 0.0f;  // radians, its angle
    float freq_hz_ = 0.0f;
    float freq_strength_ = 0.0f;          // fine correlation of the segment that set freq_hz_
    float freq_strength_average_ = 0.0f;  // ... averaged over the later segments
    float f_pre_ = 0.0f;    // 1/4000 cycle per symbol
    int training_index_ = 0;

    // Data mode.
    bool data_mode_ = false;
    int mode_index_ = 0;
    Modulation decisions_ = Modulation::Psk8;
    int frames_per_block_ = 3;
    const SymbolTable* normal_table_ = nullptr;
    const SymbolTable* last_table_ = nullptr;
    const SymbolTable* current_table_ = nullptr;
    int frame_position_ = 0;
    int frame_counter_ = 0;
    bool first_block_ = false;

    // Equaliser and tracking.  The data-mode equaliser forgets with these gains (1 / forgetting
    // factor) on known and unknown symbols, more slowly on a steady channel; its covariance
    // restarts every 1000 symbols.
    static constexpr int kDataResetAfter = 1000;
    static constexpr float kGainKnown = 1.01f;
    static constexpr float kGainUnknown = 1.00705f;
    static constexpr float kGainKnownSteady = 1.005f;
    static constexpr float kGainUnknownSteady = 1.0035f;
    std::unique_ptr<RlsState> rls_;
    int eq_counter_ = 0;
    float psi_ = 0.0f;      // carrier phase, 1/4000 cycle
    float phi_fast_ = 0.0f;
    float phi_slow_ = 0.0f;
    float f_int_ = 0.0f;    // 1/4000 cycle per symbol, within +-64

    // S/N and frame statistics.
    float snr_sum_ = 0.0f;
    int snr_count_ = 0;
    float frame_error_sum_ = 0.0f;
    int frame_symbol_count_ = 0;
    float frame_min_ = 100.0f;
    float frame_max_ = -100.0f;
    // The S/N window at the start of the last two known runs, for frames too short to
    // complete a window.
    struct WindowMark {
        float sum = 0.0f;
        int count = 0;
    };
    std::array<WindowMark, 2> run_start_{};
    bool previous_known_ = false;

    // Soft-value weighting by the noise measured on the known symbols: the squared error of
    // the current window, the mean of the last closed window (-1: none yet) and how many of the
    // block's soft symbols carry their weight already.
    float noise_sum_ = 0.0f;
    int noise_count_ = 0;
    float noise_previous_ = -1.0f;
    float noise_average_ = -1.0f;  // the windows' noise averaged (the weight on a steady channel)
    int weighted_count_ = 0;

    // Doppler spread, measured on the known runs of the data frames: each run's correlation of
    // the equaliser's feed-forward input with its known symbols is a channel snapshot; the
    // averaged inner products of snapshots one and two runs apart give the channel's correlation
    // over one run spacing, free of the noise that biases a snapshot's own power.
    void EndKnownRun() noexcept;
    void ResetDoppler() noexcept;
    // Only the lag averages and the snapshots behind them.
    void ResetDopplerLags() noexcept;
    // Adds the equaliser's present input against a known channel symbol (in the frame of the
    // carrier-corrected output) to the run's snapshot and delay profile.
    void AddToSnapshot(Complex ref_p) noexcept;
    // Fast fading: only the few feed-forward taps where the channel's delay profile (averaged
    // snapshot power over the full input) is strongest stay in use; the others are held at zero.
    void UseAllTaps() noexcept;
    void ChooseSparseTaps() noexcept;
    void ApplyTapMask() noexcept;
    bool sparse_ = false;
    std::array<std::uint8_t, kFeedForwardTaps> tap_used_{};
    std::array<Complex, kFeedForwardTaps> profile_sum_{};   // full-input snapshot of the current run
    std::array<float, kFeedForwardTaps> profile_power_{};   // its averaged power per input
    int runs_since_choice_ = 0;
    int sparse_runs_ = 0;  // runs in a row that read above the sparse threshold
    std::array<Complex, kFeedForwardTaps> run_sum_{};
    static constexpr int kSnapshots = 32;
    std::array<std::array<Complex, kFeedForwardTaps>, kSnapshots> run_previous_{};  // newest first
    // The symbols a preamble run carried (a hash; 0 in the data frames, whose runs all compare).
    std::uint32_t run_pattern_ = 0;
    bool preamble_fast_ = false;  // the preamble read fast fading
    std::array<std::uint32_t, kSnapshots> run_pattern_previous_{};  // newest first
    int runs_seen_ = 0;
    int run_length_ = 0;   // known symbols in the current run
    int run_spacing_ = 0;  // symbols since the end of the last run
    static constexpr int kLags = 6;
    std::array<Complex, kLags> lag_{};  // averaged inner products at 1, 2, 4, 8, 16 and 32 runs apart
    std::array<float, kLags> lag_weight_{};  // the weight each average has gathered
    // A steady channel (AWGN, or fading far slower than a second) is equalised with slower
    // forgetting.
    bool steady_ = false;
    int doppler_first_lag_ = 0;        // first pair of lags the layout allows (0: 1 and 2, 2: 4 and 8)
    float spread_hz_ = -1.0f;          // -1: not measured yet
    float rls_gain_ = 1.01f;           // 1 / forgetting factor of the data-mode updates

    // Decisions on the unknown symbols drift the equaliser away from a fading channel within a
    // run of 32 symbols.  Every data symbol's feed-forward input is kept, and once a known run
    // has trained the equaliser the unknown symbols before it are equalised again with taps
    // interpolated between the runs on either side; on the sparse set (fast fading) then once
    // more with taps fitted by least squares to the two runs and those decisions together, the
    // taps moving linearly in time.  The carrier phase follows the frequency estimate alone.
    // Their soft values are replaced before the block is decoded, and once the block is complete
    // every span is decided again with the decoder's references (RefitBlock).
    static constexpr int kMaxSpan = 32;
    static constexpr int kSparseFitInputs = 8;  // feed-forward inputs a fit can take
    // Every data symbol of the block being received and the spans and runs before it: the
    // longest block (4.8 s at 2400 symbols/s) and a span's window.
    static constexpr int kStoreLength = 11520 + 128;
    struct StoredSymbol {
        std::array<float, kFeedForwardTaps> re;
        std::array<float, kFeedForwardTaps> im;
        long long serial = -1;  // data symbol number; -1: empty
        float psi = 0.0f;       // carrier phase it was decided with
        float step = 0.0f;      // carrier step after it
        int scramble = 0;
        int decision = 0;       // index in the decision set (0 for a known symbol)
        bool known = false;
        int soft_index = -1;    // its soft value, -1: none
    };
    // A span equalised again: where it lies, the taps it was decided with and, on the sparse
    // set, the inputs its least-squares fit took (none: not fitted).
    struct SpanRecord {
        long long first = 0;
        int count = 0;
        int known_before = 0;  // the known run before it
        int known_after = 0;   // the known run after it
        int fit_inputs = 0;
        std::array<std::uint8_t, kEqualizerTaps> inputs{};
        std::array<Complex, kEqualizerTaps> taps{};
        std::array<Complex, kEqualizerTaps> slope{};
    };
    void StoreSymbol(int scramble, bool known, int decision) noexcept;
    void ReequalizeSpan(int known) noexcept;
    // The references of symbols from .. to (their decisions, or the known symbols) in the frame
    // of the equaliser's output, theta[0] being the carrier phase of `from`.
    void SpanReferences(long long from, long long to, const float* theta, Complex* ref) noexcept;
    // Carrier phase of symbols base .. end (theta[0] for base) from the span's first symbol as
    // decided live, following the frequency estimate alone.
    void SpanPhases(long long base, long long first, long long end, float* theta) noexcept;
    // Least squares over the span's window (the runs around it and the span), taps W0 + t W1 on
    // the record's inputs, the known symbols and the stored decisions as references; theta is
    // indexed from the window's first feedback input.  Writes the taps at the span's first
    // symbol and their slope per symbol; false when the system could not be solved.
    bool FitSpan(const SpanRecord& span, const float* theta, Complex* taps, Complex* slope) noexcept;
    // Decides the span's symbols again with taps `taps` (at the span's first symbol) moving by
    // `slope` per symbol, in the carrier frame `theta` (indexed from `first` - 7); writes their
    // soft values, and their decisions unless `keep_decisions` (the block's second pass, whose
    // references are the decoder's), which also weights the soft values.
    void DecideSpan(long long first, const float* theta, const Complex* taps, const Complex* slope,
                    bool keep_decisions) noexcept;
    // Once a block is complete: the decoder's best path through it, coded again, gives every
    // unknown symbol a reference, and each span of the block is decided again with them (fitted
    // again on the sparse set, with the taps of its instant on the full equaliser) before the
    // block is decoded.  Without a code (4800 bit/s) the spans are decided again on their own
    // decisions.
    void RefitBlock() noexcept;
    // The decoder's best path through the block, coded again, as every unknown symbol's stored
    // decision.  A block the decoder's mode does not fit (a preamble announcing a pair without a
    // mode) leaves some values without one.
    struct DecoderReferences {
        bool taken = false;    // the decoder had a path
        bool all = false;      // it reached every soft value of the block
        bool changed = false;  // some symbol's stored decision changed
    };
    DecoderReferences TakeDecoderReferences() noexcept;
    // Once the spans are decided again, the interference of the 7 symbols on either side of each
    // one is taken away with their references, the equaliser keeping only the inputs around the
    // symbol (CancelInterference).  Coded, the references are the decoder's, twice (the second
    // time from the first's values decoded again, where that changed a reference); only where
    // some value's own decision differs from its reference, so a clean block costs nothing.
    void CancelOnDecoderReferences(const DecoderReferences& references) noexcept;
    // Without a code (4800 bit/s) a wrong decision stands, and where the later of two paths is
    // the stronger the equaliser must cancel the earlier one with its feed-forward taps alone.
    // Run backwards in time, with the decisions after each symbol fed back, the paths swap those
    // roles: the block is equalised backwards too and each unknown symbol takes both values,
    // weighted by their errors around it.  Where the two disagree the interference is then
    // taken away on the combined decisions, and once more on its own where it changed one.
    void TwoWayBlock() noexcept;
    // Whether symbols first .. last can be equalised again here: all stored, on the full
    // equaliser throughout (the stored inputs of the sparse set hold zeros where its taps are
    // out of use).
    bool BlockReequalizable(long long first, long long last) const noexcept;
    void BackwardPass(long long first, long long last) noexcept;
    // Writes the combined soft values and decisions; returns the symbols whose forward and
    // backward decisions differ.
    int CombineDirections(long long first, long long last) noexcept;
    // One pass of interference cancellation over the block, on the stored decisions; with the
    // decoder's references they stay and the soft values take their noise weights, else each
    // symbol's new decision replaces its reference.  Returns whether a decision changed (a pass
    // on unchanged references would give the same values again).
    bool CancelInterference(long long first, long long last, bool decoder_references) noexcept;
    // A stored symbol's reference for `decision` in the frame of the equaliser's output, and an
    // output turned into its decision set, both in the carrier phase it was decided with.
    Complex BlockReference(long long serial, int decision) const noexcept;
    Complex BlockValue(long long serial, Complex y) const noexcept;
    struct TwoWayState {
        RlsState rls;
        // Per symbol of the block, from its first.
        std::vector<Complex> reference = std::vector<Complex>(kStoreLength);
        std::vector<Complex> forward = std::vector<Complex>(kStoreLength);
        std::vector<Complex> backward = std::vector<Complex>(kStoreLength);
        std::vector<float> forward_error = std::vector<float>(kStoreLength);
        std::vector<float> backward_error = std::vector<float>(kStoreLength);
        struct Snapshot {
            long long serial = 0;
            std::array<Complex, kEqualizerTaps> taps{};
        };
        std::vector<Snapshot> snapshots = std::vector<Snapshot>(kStoreLength / 16);
    };
    std::unique_ptr<TwoWayState> two_way_ = std::make_unique<TwoWayState>();
    // The taps of the span records within `reach` of the one `lag_symbols` after r, whose taps
    // stand for r's channel on the full equaliser, turned into r's carrier frame and averaged
    // (their value at each span's middle and their slope); false with none.
    bool SmoothedTaps(int r, int reach, float lag_symbols, Complex* taps, Complex* slope) noexcept;
    StoredSymbol& Stored(long long serial) noexcept {
        return store_[static_cast<std::size_t>(serial % kStoreLength)];
    }
    const StoredSymbol& Stored(long long serial) const noexcept {
        return store_[static_cast<std::size_t>(serial % kStoreLength)];
    }
    std::vector<StoredSymbol> store_ = std::vector<StoredSymbol>(kStoreLength);
    long long data_serial_ = 0;  // data symbols since the switch to data
    int span_count_ = -1;        // unknown symbols since the last known run; -1: no span open
    int last_run_length_ = 0;    // known symbols in the run before the span
    std::array<Complex, kEqualizerTaps> span_taps_{};  // the taps before the span
    long long mask_serial_ = 0;  // data symbol at which the taps in use last changed
    long long block_first_serial_ = 0;  // the first data symbol of the block being received
    static constexpr int kMaxSpansPerBlock = 320;
    std::vector<SpanRecord> spans_ = std::vector<SpanRecord>(kMaxSpansPerBlock);
    int span_records_ = 0;
    // A soft value's weight is this noise power at the decision point over the one measured on
    // the known symbols around it.
    static constexpr float kNoiseReference = 0.05f;
    std::vector<float> soft_weight_ = std::vector<float>(kMaxSoftSymbols, 1.0f);  // per soft value
    std::vector<std::uint8_t> code_bits_ = std::vector<std::uint8_t>(3 * kMaxSoftSymbols);  // the decoder's, per soft value
    // The least-squares fit: two taps (value and slope) per input in use.
    static constexpr int kMaxFitSize = 2 * (kSparseFitInputs + kEqualizerTaps - kFeedForwardTaps);
    std::vector<std::complex<double>> fit_matrix_ = std::vector<std::complex<double>>(kMaxFitSize * kMaxFitSize);
    std::vector<std::complex<double>> fit_vector_ = std::vector<std::complex<double>>(kMaxFitSize);

    float quality_ = 1.0f;
    int wrong_known_ = 0;
};

}  // namespace kavra::modem
