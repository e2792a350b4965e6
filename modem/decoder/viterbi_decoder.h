// Soft-decision Viterbi decoder for the rate-1/2, constraint-length-7 code (133, 171 octal).
#pragma once

#include <array>
#include <cstdint>

namespace kavra::modem {

// One trellis step per received code pair; each step returns the input bit decided 64 steps
// earlier by a full traceback from the best state.
//
// Trellis: 64 states, state s holds the six newest input bits with bit 5 the newest.  State s is
// entered from (2s) mod 64 and (2s + 1) mod 64; the 7-bit encoder register of that transition is
// 2s + b (b = 0, 1).  Path metrics are plain sums of correlations, never normalised; Reset() sets
// them to 0.  The decision history survives Reset(): only the first 64 results after a reset can
// read slots written before it.
class ViterbiDecoder {
public:
    static constexpr int kStates = 64;
    static constexpr int kTraceback = 64;

    ViterbiDecoder();
    ViterbiDecoder(const ViterbiDecoder&) = delete;
    ViterbiDecoder& operator=(const ViterbiDecoder&) = delete;

    // All path metrics 0, time slot 0.  The decision history is kept.
    void Reset() noexcept;

    // Subtracts the best path metric from all of them.  Decisions depend only on differences,
    // so this keeps the sums small (and exact enough) when the trellis runs on across blocks.
    void Normalize() noexcept;

    // One trellis step with soft values a (first code bit) and b (second code bit), positive
    // meaning bit 0.  Returns +1.0 for a decided 0 and -1.0 for a decided 1: the input bit of
    // the step 64 steps before this one.
    float Step(float a, float b) noexcept;

    // The best path through pairs x[0, 2 pairs) by a full traceback from the best final state,
    // starting from the present path metrics (all equal when `from_zero`), without changing the
    // decoder: writes each step's code bits (as OutputBits) to code_pairs.  history holds one
    // word per pair.
    void BestPath(const float* x, int pairs, bool from_zero, std::uint64_t* history,
                  std::uint8_t* code_pairs) const noexcept;

    // Code bits of the transition into state s from predecessor (2s + b) mod 64: the first code
    // bit in bit 1, the second in bit 0.
    int OutputBits(int b, int s) const noexcept {
        return output_[static_cast<std::size_t>(b & 1)][static_cast<std::size_t>(s & 63)];
    }

private:
    // One add-compare-select step from `metric` into `next`; returns the decision word.
    std::uint64_t AddCompareSelect(const std::array<float, kStates>& metric, std::array<float, kStates>& next, float a,
                                   float b) const noexcept;
    static unsigned BestState(const std::array<float, kStates>& metric) noexcept;

    // Branch signs, +1.0 for code bit 0 and -1.0 for code bit 1, per predecessor parity b and
    // state s; the products a * sign are exact, so candidates round as metric + a*e1 + b*e2.
    std::array<std::array<float, kStates>, 2> sign_first_{};
    std::array<std::array<float, kStates>, 2> sign_second_{};
    std::array<std::array<std::uint8_t, kStates>, 2> output_{};

    std::array<float, kStates> metric_{};
    std::array<float, kStates> next_metric_{};
    // Decision history, one word per time slot: bit s is set when the candidate through the even
    // predecessor was strictly better (m0 - m1 > 0).  Traceback needs only that sign.
    std::array<std::uint64_t, kTraceback> history_{};
    int slot_ = 0;
};

}  // namespace kavra::modem
