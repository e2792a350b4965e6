// What a receiver reports, checked after every sample: the figures the station shows and the
// counts the pipeline trusts stay finite and in range, and no sample takes unbounded work.
#pragma once

#include <time.h>

#include <cmath>
#include <string>

#include "fuzz/fuzz_support.h"
#include "modem/common/mode_table.h"
#include "modem/common/receiver_output.h"
#include "modem/rx/frame_collector.h"
#include "modem/rx/serial_tone_receiver.h"

namespace kavra::fuzz {

// S/N figures come from a table of -5..35 dB; a frame's minimum and maximum start at +-100.
inline bool SnrFigure(int snr) { return snr == modem::kSnrNone || (snr >= -5 && snr <= 35); }
inline bool FrameSnrFigure(int snr) { return snr >= -100 && snr <= 100; }
// The carrier offset: the preamble's estimate (within the correlator banks and their aliases)
// plus the tracking loop's +-64/4000 cycle per symbol.
inline constexpr int kMaxFreqOffsetHz = 400;

inline void CheckReceiverOutput(const modem::SerialToneReceiver& rx, const modem::ReceiverOutput& out) {
    const int flags = out.flags.load(std::memory_order_relaxed);
    const int base = flags & ~modem::kRxFlagSyncLost;
    KAVRA_CHECK_MSG(base == 0 || base == 1 || base == 2 || base == 3 || base == 5, "flags " + std::to_string(flags));
    KAVRA_CHECK_MSG(SnrFigure(out.snr.load()), "snr " + std::to_string(out.snr.load()));
    KAVRA_CHECK(out.snr_avg.load() == modem::kSnrNone || SnrFigure(out.snr_avg.load()));
    KAVRA_CHECK(FrameSnrFigure(out.snr_min.load()));
    KAVRA_CHECK(FrameSnrFigure(out.snr_max.load()));
    KAVRA_CHECK_MSG(std::abs(out.freq_offset.load()) <= kMaxFreqOffsetHz, "offset " + std::to_string(out.freq_offset.load()));
    KAVRA_CHECK(modem::IsValidMode(out.mode.load()));
    KAVRA_CHECK(out.receiving.load() == 0 || out.receiving.load() == 1);
    KAVRA_CHECK(out.soft_symbol_count >= 0 && out.soft_symbol_count <= modem::kMaxSoftSymbols);
    if (flags & modem::kRxFlagBits)
        KAVRA_CHECK(out.decoded_bit_count >= 0 && out.decoded_bit_count <= modem::kMaxDecodedBits);
    const int pos = out.trace_position.load();
    KAVRA_CHECK(pos >= 0 && pos < modem::kConstellationTraceLength);
    KAVRA_CHECK(std::isfinite(rx.timing_phase()) && std::isfinite(rx.quality()));
    KAVRA_CHECK(std::isfinite(rx.frequency_estimate_hz()) && std::isfinite(rx.doppler_spread_hz()));
    KAVRA_CHECK(std::isfinite(rx.agc_level()) && std::isfinite(rx.equalizer_gain()));
    const int taps = rx.feed_forward_taps_in_use();
    KAVRA_CHECK(taps >= 1 && taps <= modem::kFeedForwardTaps);
}

inline void CheckFrames(const modem::FrameCollector& collector) {
    for (const modem::ReceivedFrame& f : collector.frames()) {
        KAVRA_CHECK(modem::IsValidMode(f.mode));
        KAVRA_CHECK(SnrFigure(f.snr));
        KAVRA_CHECK(f.snr_avg == modem::kSnrNone || SnrFigure(f.snr_avg));
        KAVRA_CHECK(FrameSnrFigure(f.snr_min) && FrameSnrFigure(f.snr_max));
        KAVRA_CHECK(std::abs(f.freq_offset_hz) <= kMaxFreqOffsetHz);
        KAVRA_CHECK(f.blocks >= 0);
        // A frame's bytes come from its blocks (and the tail the decoder holds back).
        const long long most = (static_cast<long long>(f.blocks) + 1) * modem::kMaxDecodedBits / 8;
        KAVRA_CHECK_MSG(static_cast<long long>(f.bytes.size()) <= most,
                        std::to_string(f.bytes.size()) + " bytes from " + std::to_string(f.blocks) + " blocks");
    }
}

// Work per sample, as processor time of this thread (a busy machine that deschedules the run
// does not count): a sample carries at most one block's decoding.
inline double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class SampleTimer {
public:
    static constexpr double kMaxSecondsPerSample = 2.0;
    void Start() { start_ = ThreadSeconds(); }
    void Stop() {
        const double s = ThreadSeconds() - start_;
        KAVRA_CHECK_MSG(s <= kMaxSecondsPerSample, "one sample took " + std::to_string(s) + " s of processor time");
    }

private:
    double start_ = 0.0;
};

}  // namespace kavra::fuzz
