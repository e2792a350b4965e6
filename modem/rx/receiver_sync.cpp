// Preamble synchronisation: the three-bank correlator, detection of the common part of a
// segment, slot choice, reading D1, D2 and the countdown, the frequency estimates, the choice
// of the data mode and the time-out.
#include <cmath>

#include "modem/rx/serial_tone_receiver.h"

namespace kavra::modem {

namespace {

constexpr int kStepsPerBlock = 64;  // correlator steps (half symbols) in a 32-symbol block
// Best patterns of the common part read backwards from the block that just ended.
constexpr std::array<std::uint8_t, 9> kCommonBackwards{0, 2, 1, 3, 1, 0, 3, 1, 0};
constexpr int kDetectionMatches = 6;
constexpr int kSegmentSteps = 960;    // correlator steps in a 480-symbol segment
// The next common part is due at 960; on a multipath channel the strongest path, and with it
// the chosen slot, can move later by the path delay (2 ms is about 10 steps at 2400 Bd), so the
// preamble is given up only 24 steps (5 ms at 2400 Bd) after that.
constexpr int kSegmentTimeout = kSegmentSteps + 24;
// While a preamble is followed, the next common part is accepted only from half a block before
// its due instant (the timing may move by a multipath delay): matches a whole number of blocks
// away (off-frequency banks see the common sequence in the other blocks of a segment far more
// often than chance) would read D1, D2 and the count from the wrong blocks.
constexpr int kEarliestNextCommon = kSegmentSteps - 32;
constexpr float kPi = 3.14159265f;
constexpr float kSlotAverageWeight = 0.15f;
// Segment counts run from 11 (long preamble) or 5 (short) down to 0.
constexpr int kMaxPreambleSegments = PreambleSegments(1);
// Weight of the mode votes of a segment with a possible count (others weigh 1).
constexpr int kTrustedVote = 4;
// Normalised correlation of a last segment's C2 and C3 blocks above which they are taken to
// carry the same pattern (different patterns are orthogonal; the same pattern at 0 dB S/N gives
// about 0.5).
constexpr float kLastSegmentMatch = 0.35f;
constexpr float kSmoothing = 0.3f;
// A later segment reads the frequency's alias anew only with this many times the fine
// correlation of the segment that set the estimate.
constexpr float kFreqRereadRatio = 2.0f;

// Evaluation order of the patterns in each bank; ties keep the earlier one.
constexpr std::array<std::array<int, 8>, kCorrelatorBanks> kBankOrder{{
    {4, 5, 6, 7, 0, 1, 2, 3},
    {7, 6, 5, 4, 3, 2, 1, 0},
    {7, 6, 5, 4, 3, 2, 1, 0},
}};

// Angle of s, or `otherwise` when s carries no phase.
float AngleOr(Complex s, float otherwise) {
    if (s.re == 0.0f && s.im == 0.0f) return otherwise;
    const float a = std::atan2(s.im, s.re);
    return std::isfinite(a) ? a : otherwise;
}

// How many of the nine common-part patterns one bank's full history holds at h, h-64, ...
int CommonMatches(const std::array<std::uint8_t, 2048>& history, int h) {
    int matches = 0;
    for (int k = 0; k < 9; ++k) {
        const int at = (h - kStepsPerBlock * k) & 2047;
        if (history[static_cast<std::size_t>(at)] == kCommonBackwards[static_cast<std::size_t>(k)]) ++matches;
    }
    return matches;
}

// Of f and its aliases f + k * step, the one nearest `near`.
float NearestAlias(float f, float near, float step) {
    return f + step * std::round((near - f) / step);
}

}  // namespace

void SerialToneReceiver::CorrelatorStep() noexcept {
    const auto h = static_cast<std::size_t>(history_pos_);
    if (search_state_ != kLastSegmentPassed) {
        // One sample per symbol over the whole ring, oldest first.
        const float* re = ring_re_.data() + ring_pos_;
        const float* im = ring_im_.data() + ring_pos_;
        for (int i = 0; i < kBlockSymbols; ++i) {
            gather_re_[static_cast<std::size_t>(i)] = re[4 * i];
            gather_im_[static_cast<std::size_t>(i)] = im[4 * i];
        }
        kernels_->correlate(gather_re_.data(), gather_im_.data(), *reference_, sums_);
        std::array<float, kCorrelatorRefs> value;
        for (int r = 0; r < kCorrelatorRefs; ++r)
            value[static_cast<std::size_t>(r)] = ApproxMagnitude(sums_.p[static_cast<std::size_t>(r)], sums_.q[static_cast<std::size_t>(r)]);
        for (int bank = 0; bank < kCorrelatorBanks; ++bank) {
            const auto b = static_cast<std::size_t>(bank);
            // Running maximum in the bank's order; only a strictly larger value replaces it.
            int best = kBankOrder[b][0];
            float best_value = value[static_cast<std::size_t>(bank * 8 + best)];
            for (int k = 1; k < 8; ++k) {
                const int pattern = kBankOrder[b][static_cast<std::size_t>(k)];
                const float v = value[static_cast<std::size_t>(bank * 8 + pattern)];
                const bool larger = v > best_value;
                best = larger ? pattern : best;
                best_value = larger ? v : best_value;
                if (k == 3) restricted_history_[b][h] = static_cast<std::uint8_t>(best);
            }
            full_history_[b][h] = static_cast<std::uint8_t>(best);
            peak_[b] = best_value;
        }
    } else {
        for (int bank = 0; bank < kCorrelatorBanks; ++bank) {
            full_history_[static_cast<std::size_t>(bank)][h] = 0;
            restricted_history_[static_cast<std::size_t>(bank)][h] = 7;
        }
    }

    SegmentSchedule();
    // Near the due instant of the next common part the chosen slot can flip to the slot before
    // and back again (two nearly equal averages), so that no step meets it; the step after the
    // chosen slot then makes up the skipped test.
    const bool due = search_state_ == kPreambleSeen && segment_n_ >= kEarliestNextCommon;
    if (!due) common_tested_ = false;
    if (slot_ == chosen_slot_ || (due && !common_tested_ && slot_ == (chosen_slot_ + 1) % kSlots)) {
        common_tested_ = due;
        Detect();
    }
    if (search_state_ != kLastSegmentPassed) UpdateSlotAverages();
    slot_ = (slot_ + 1) % kSlots;
    if (search_state_ != kSearching && ++segment_n_ > kSegmentTimeout) SegmentTimedOut();
    history_pos_ = (history_pos_ + 1) % kHistoryLength;
}

void SerialToneReceiver::Detect() noexcept {
    static_assert(kHistoryLength == 2048);
    if (search_state_ == kLastSegmentPassed) return;
    if (search_state_ == kPreambleSeen) {
        // Only the bank chosen at the start of the preamble may continue it.
        if (CommonMatches(full_history_[static_cast<std::size_t>(bank_)], history_pos_) < kDetectionMatches) return;
        if (segment_n_ >= kEarliestNextCommon) {
            ++detections_;
            coasting_ = false;
            segment_n_ = 0;
            return;
        }
        // Out of time: a start that no second segment has confirmed yet may have been a false
        // one, so the preamble starts afresh here; a confirmed one keeps its timing.
        if (detections_ > 1) return;
    } else {
        bool detected = false;
        for (int bank = 0; bank < kCorrelatorBanks && !detected; ++bank)
            detected = CommonMatches(full_history_[static_cast<std::size_t>(bank)], history_pos_) >= kDetectionMatches;
        if (!detected) return;
    }

    const auto s = static_cast<std::size_t>(chosen_slot_);
    const float z = slot_average_[kBankZ][s];
    const float y = slot_average_[kBankY][s];
    const float x = slot_average_[kBankX][s];
    bank_ = y > z ? kBankY : kBankZ;
    if (x > (y > z ? y : z)) bank_ = kBankX;

    search_state_ = kPreambleSeen;
    detections_ = 1;
    // A new preamble: the channel is measured afresh on its known symbols.
    ResetDoppler();
    doppler_first_lag_ = 0;
    coasting_ = false;
    phi_fast_ = phi_slow_ = f_int_ = 0.0f;
    counts_.Reset();
    d1_votes_.fill(0);
    d2_votes_.fill(0);
    freq_estimated_ = false;
    segment_n_ = 0;
}

void SerialToneReceiver::UpdateSlotAverages() noexcept {
    const auto s = static_cast<std::size_t>(slot_);
    for (int bank = 0; bank < kCorrelatorBanks; ++bank) {
        auto& avg = slot_average_[static_cast<std::size_t>(bank)];
        avg[s] += (peak_[static_cast<std::size_t>(bank)] - avg[s]) * kSlotAverageWeight;
        auto& best = best_slot_[static_cast<std::size_t>(bank)];
        if (avg[s] > avg[static_cast<std::size_t>(best)]) best = slot_;
    }
    const auto best_of = [this](int bank) {
        return slot_average_[static_cast<std::size_t>(bank)][static_cast<std::size_t>(best_slot_[static_cast<std::size_t>(bank)])];
    };
    float chosen = best_of(kBankZ);
    chosen_slot_ = best_slot_[kBankZ];
    if (best_of(kBankY) > chosen) {
        chosen = best_of(kBankY);
        chosen_slot_ = best_slot_[kBankY];
    }
    if (best_of(kBankX) > chosen) chosen_slot_ = best_slot_[kBankX];
}

void SerialToneReceiver::SegmentSchedule() noexcept {
    const int chosen = restricted_history_[static_cast<std::size_t>(bank_)][static_cast<std::size_t>(history_pos_)];
    switch (segment_n_) {
        case 64:  // D1 block
            segment_d1_ = chosen;
            break;
        case 128:  // D2 block
            segment_d2_ = chosen;
            break;
        case 192:
            c1_ = chosen;
            break;
        case 256:
            c2_ = chosen;
            StoreRing(kLastSegmentBlock);
            break;
        case 320: {
            c3_ = chosen;
            const int count = 16 * c1_ + 4 * c2_ + c3_ - 84;
            // The segment's D1 and D2 vote for the data mode.  A segment whose count no preamble
            // can carry was read in a fade or from noise: its votes only break ties.
            const bool plausible = count >= 0 && count < kMaxPreambleSegments;
            const int weight = plausible ? kTrustedVote : 1;
            d1_votes_[static_cast<std::size_t>(segment_d1_ - 4)] += weight;
            d2_votes_[static_cast<std::size_t>(segment_d2_ - 4)] += weight;
            const int before = counts_.current();
            counts_.Add(count, kMaxPreambleSegments);
            // In a last segment C1 = C2 = C3 = pattern 4: C2 and C3 carry the same symbols.  A 0
            // that the count before does not confirm (a 1) is taken only if they do: in a fade
            // one misread block made a count of 1 read as 0 and the data start a segment early.
            if (counts_.current() == 0 && before != 1 && RingMatch(kLastSegmentBlock) < kLastSegmentMatch)
                counts_.NotLast(kMaxPreambleSegments);
            if (counts_.current() == 0) {
                StoreRing(0);
                // C2 and C3 are one pattern 32 symbols apart, the coarse estimate's form.
                last_segment_theta_ = AngleOr(CorrelateWithRing(kLastSegmentBlock), 0.0f);
            }
            break;
        }
        case 384:  // closing 0 block
            if (counts_.current() != 0) StoreRing(0);
            else EndOfLastSegment();
            break;
        case 448:  // first 0 block of the next segment
            CoarseEstimate(freq_estimated_);
            StoreRing(1);
            break;
        case 512:
            StoreRing(2);
            break;
        case 576:
            StoreRing(3);
            break;
        case 640:
            fine_sum_ = CorrelateWithRing(1);
            break;
        case 704: {
            const Complex s = CorrelateWithRing(2);
            fine_sum_.re += s.re;
            fine_sum_.im += s.im;
            break;
        }
        case 768: {
            const Complex s = CorrelateWithRing(3);
            fine_sum_.re += s.re;
            fine_sum_.im += s.im;
            FineEstimate();
            break;
        }
        default:
            break;
    }
}

void SerialToneReceiver::StoreRing(int block) noexcept {
    const auto b = static_cast<std::size_t>(block);
    for (int k = 0; k < kRingLength; ++k) {
        stored_re_[b][static_cast<std::size_t>(k)] = ring_re_[static_cast<std::size_t>(ring_pos_ + k)];
        stored_im_[b][static_cast<std::size_t>(k)] = ring_im_[static_cast<std::size_t>(ring_pos_ + k)];
    }
}

// Sum of stored sample times the conjugate of the current ring sample.
Complex SerialToneReceiver::CorrelateWithRing(int block) const noexcept {
    const auto b = static_cast<std::size_t>(block);
    Complex s{};
    for (int k = 0; k < kRingLength; ++k) {
        const float a = stored_re_[b][static_cast<std::size_t>(k)];
        const float bb = stored_im_[b][static_cast<std::size_t>(k)];
        const float c = ring_re_[static_cast<std::size_t>(ring_pos_ + k)];
        const float d = ring_im_[static_cast<std::size_t>(ring_pos_ + k)];
        s.re += a * c + bb * d;
        s.im += bb * c - a * d;
    }
    return s;
}

float SerialToneReceiver::RingMatch(int block) const noexcept {
    const auto b = static_cast<std::size_t>(block);
    float stored = 0.0f;
    float current = 0.0f;
    for (int k = 0; k < kRingLength; ++k) {
        const auto n = static_cast<std::size_t>(k);
        const auto r = static_cast<std::size_t>(ring_pos_ + k);
        stored += stored_re_[b][n] * stored_re_[b][n] + stored_im_[b][n] * stored_im_[b][n];
        current += ring_re_[r] * ring_re_[r] + ring_im_[r] * ring_im_[r];
    }
    const Complex s = CorrelateWithRing(block);
    const float norm = std::sqrt(stored * current);
    return norm > 0.0f ? std::sqrt(s.re * s.re + s.im * s.im) / norm : 0.0f;
}

void SerialToneReceiver::CoarseEstimate(bool smooth) noexcept {
    // Smoothed as a complex sum rather than as an angle: a segment read in a fade (a small
    // correlation, its angle mostly noise) then moves the coarse phase by little, and the angle
    // cannot jump across +-pi.
    const Complex s = CorrelateWithRing(0);
    if (smooth) {
        coarse_sum_.re += (s.re - coarse_sum_.re) * kSmoothing;
        coarse_sum_.im += (s.im - coarse_sum_.im) * kSmoothing;
        theta_c_ = AngleOr(coarse_sum_, theta_c_);
    } else {
        coarse_sum_ = s;
        theta_c_ = AngleOr(s, 0.0f);
    }
}

float SerialToneReceiver::ResolveAlias(float f) const noexcept {
    // f is known modulo symbol_rate/32 (75 Hz at 2400 Bd).  Of f and its neighbours one alias
    // away, the one nearest the centre of the strongest bank (0 or about -+60 Hz) is taken: the
    // bank nearest the signal wins, so this reads offsets out to 60 + 37.5 Hz (type 0) right,
    // where taking the neighbour only on the bank's side of 0 failed at +-75 Hz.
    const float alias = profile_.symbol_rate / 32.0f;
    const auto s = static_cast<std::size_t>(chosen_slot_);
    const float z = slot_average_[kBankZ][s];
    const float y = slot_average_[kBankY][s];
    const float x = slot_average_[kBankX][s];
    const float bank_hz = static_cast<float>(profile_.bank_rotation_step) * profile_.hz_per_phase_step();
    float centre = 0.0f;
    if (y > z && y > x) centre = -bank_hz;
    if (x > z && x > y) centre = bank_hz;
    return NearestAlias(f, centre, alias);
}

void SerialToneReceiver::FineEstimate() noexcept {
    // Three block pairs 96 symbols apart: range +-symbol_rate/192, ambiguity symbol_rate/96
    // (25 Hz at 2400 Bd).  Of the fine estimate and its neighbours one ambiguity away, the one
    // nearest the coarse estimate (blocks 32 symbols apart: known modulo symbol_rate/32, 75 Hz)
    // is taken: that tolerates a coarse phase off by up to a sixth of a turn for any fine
    // estimate, where fixed bands of the coarse phase failed at a twelfth of a turn near 0 Hz.
    // Then the bank decides between the aliases +-symbol_rate/32.
    const float half_rate = 0.5f * profile_.symbol_rate;
    const float ambiguity = profile_.symbol_rate / 96.0f;
    const float coarse_alias = profile_.symbol_rate / 32.0f;
    const float fine = AngleOr(fine_sum_, 0.0f) * (1.0f / kPi) * half_rate * (1.0f / 96.0f);
    const float coarse = theta_c_ * (0.5f / kPi) * coarse_alias;
    const float f = ResolveAlias(NearestAlias(fine, fine + std::remainder(coarse - fine, coarse_alias), ambiguity));

    // Once the frequency is known to a few hertz, the segment's fine estimate is taken at its
    // alias nearest to it.  Read again from the coarse phase and the banks, a segment in a deep
    // fade (banks at the noise level, the coarse phase noise) jumped by 25 or 75 Hz, and 0.3 of
    // that moved the estimate by up to 22 Hz just before the data.  Only a segment much clearer
    // than the one that set the estimate may read the alias anew, and then sets it.
    const float strength = std::sqrt(fine_sum_.re * fine_sum_.re + fine_sum_.im * fine_sum_.im);
    const float nearest = freq_estimated_ ? NearestAlias(f, freq_hz_, ambiguity) : f;
    if (!freq_estimated_ || (strength > kFreqRereadRatio * freq_strength_ && nearest != f)) {
        if (!freq_estimated_) training_index_ = 10;
        freq_estimated_ = true;
        freq_hz_ = f;
        freq_strength_ = freq_strength_average_ = strength;
    } else {
        // A faded segment moves the estimate by less: its fine estimate is the noisier.
        const float weight = std::min(1.0f, strength / std::max(freq_strength_average_, 1e-12f));
        freq_hz_ += (nearest - freq_hz_) * kSmoothing * weight;
        freq_strength_average_ += (strength - freq_strength_average_) * kSmoothing;
    }
    SetPreambleStep();
}

void SerialToneReceiver::SetPreambleStep() noexcept {
    f_pre_ = freq_hz_ * (1.0f / profile_.symbol_rate) * kPhaseCycle;
}

void SerialToneReceiver::EndOfLastSegment() noexcept {
    theta_c_ = AngleOr(CorrelateWithRing(0), 0.0f);
    if (!freq_estimated_) {
        // The first segment seen is already the last.  Its C3 and closing blocks hold
        // different patterns, so the frequency comes from its C2 and C3 blocks instead (both
        // pattern 4), resolved between the aliases by the bank as in the fine estimate.
        freq_hz_ = ResolveAlias(last_segment_theta_ * (1.0f / kPi) * 0.5f * profile_.symbol_rate * (1.0f / 32.0f));
        SetPreambleStep();
        freq_estimated_ = true;
        training_index_ = 298;
    }
    search_state_ = kLastSegmentPassed;
    segment_n_ = 0;
    int d1 = 4;
    int d2 = 4;
    for (int d = 5; d < 8; ++d) {
        if (d1_votes_[static_cast<std::size_t>(d - 4)] > d1_votes_[static_cast<std::size_t>(d1 - 4)]) d1 = d;
        if (d2_votes_[static_cast<std::size_t>(d - 4)] > d2_votes_[static_cast<std::size_t>(d2 - 4)]) d2 = d;
    }
    ApplyDataMode(d1, d2);
}

void SerialToneReceiver::ApplyDataMode(int d1, int d2) noexcept {
    const DataModeSelection sel = SelectDataMode(d1, d2);
    if (sel.mode >= 0) mode_index_ = sel.mode;
    decisions_ = sel.decisions;
    frames_per_block_ = sel.frames_per_block;
    normal_table_ = &tables_->Normal(sel.layout);
    // The known runs of the 20-symbol layout repeat every fourth run (the scrambler's period is
    // four frames of it); runs one and two apart carry different patterns, whose cross terms
    // would bias a comparison of those lags.
    doppler_first_lag_ = sel.layout == FrameLayout::Known16 ? 0 : 2;
    last_table_ = &tables_->Last(d1, d2);
    current_table_ = normal_table_;
    frame_counter_ = 0;
}

void SerialToneReceiver::SegmentTimedOut() noexcept {
    // A confirmed preamble rides over one missed common part (a fade, or the strongest path
    // moving between two slots): the segment is taken to have begun when it was due, and its
    // blocks are read on that timing.  A second miss in a row gives the preamble up.
    if (search_state_ == kPreambleSeen && detections_ >= 2 && !coasting_) {
        coasting_ = true;
        segment_n_ -= kSegmentSteps;
        return;
    }
    LoseSync();
}

void SerialToneReceiver::LoseSync() noexcept {
    detections_ = 0;
    ClearTrace();
    ResetTracking();
    search_state_ = kSearching;
    segment_n_ = 0;
    output_.flags.fetch_or(kRxFlagSyncLost, std::memory_order_release);
}

}  // namespace kavra::modem
