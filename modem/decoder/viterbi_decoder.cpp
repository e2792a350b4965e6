#include "modem/decoder/viterbi_decoder.h"

#include <cmath>
#include <limits>

#include "modem/common/convolutional_code.h"

namespace kavra::modem {

ViterbiDecoder::ViterbiDecoder() {
    for (std::size_t b = 0; b < 2; ++b) {
        for (std::size_t s = 0; s < kStates; ++s) {
            const unsigned reg = static_cast<unsigned>(2 * s + b);
            const int first = CodeParity(reg & kGeneratorFirst);
            const int second = CodeParity(reg & kGeneratorSecond);
            output_[b][s] = static_cast<std::uint8_t>((first << 1) | second);
            sign_first_[b][s] = first ? -1.0f : 1.0f;
            sign_second_[b][s] = second ? -1.0f : 1.0f;
        }
    }
    Reset();
}

std::uint64_t ViterbiDecoder::AddCompareSelect(const std::array<float, kStates>& metric, std::array<float, kStates>& next,
                                               float a, float b) const noexcept {
    // State s and state s + 32 share the predecessors 2s and 2s + 1.
    std::uint64_t decisions = 0;
    for (std::size_t s = 0; s < kStates; ++s) {
        const std::size_t p0 = (2 * s) & 63;
        const float m0 = metric[p0] + a * sign_first_[0][s] + b * sign_second_[0][s];
        const float m1 = metric[p0 + 1] + a * sign_first_[1][s] + b * sign_second_[1][s];
        decisions |= static_cast<std::uint64_t>(m0 - m1 > 0.0f) << s;
        next[s] = m0 >= m1 ? m0 : m1;
    }
    return decisions;
}

unsigned ViterbiDecoder::BestState(const std::array<float, kStates>& metric) noexcept {
    // The highest index holding the largest metric.
    float best_metric = -std::numeric_limits<float>::infinity();
    unsigned state = 0;
    for (unsigned s = 0; s < kStates; ++s) {
        if (metric[s] >= best_metric) {
            best_metric = metric[s];
            state = s;
        }
    }
    return state;
}

void ViterbiDecoder::Reset() noexcept {
    metric_.fill(0.0f);
    slot_ = 0;
}

void ViterbiDecoder::Normalize() noexcept {
    float best = metric_[0];
    for (float m : metric_) best = m > best ? m : best;
    if (!std::isfinite(best)) return;
    for (float& m : metric_) m -= best;
}

float ViterbiDecoder::Step(float a, float b) noexcept {
    const std::uint64_t decisions = AddCompareSelect(metric_, next_metric_, a, b);
    unsigned state = BestState(next_metric_);
    metric_ = next_metric_;

    const unsigned t = static_cast<unsigned>(slot_);
    history_[t] = decisions;

    // Traceback over the 64 newest slots: a strictly better even predecessor is taken, a tie or
    // a better odd one gives the odd predecessor.
    for (unsigned k = 0; k < kTraceback; ++k) {
        const std::uint64_t word = history_[(t - k) & 63u];
        const unsigned odd = static_cast<unsigned>(~(word >> state) & 1u);
        state = ((state << 1) | odd) & 63u;
    }

    slot_ = static_cast<int>((t + 1) & 63u);
    return state < 32 ? 1.0f : -1.0f;
}

void ViterbiDecoder::BestPath(const float* x, int pairs, bool from_zero, std::uint64_t* history,
                              std::uint8_t* code_pairs) const noexcept {
    std::array<float, kStates> metric{};
    std::array<float, kStates> next{};
    if (!from_zero) {
        float best = metric_[0];
        for (float m : metric_) best = m > best ? m : best;
        for (std::size_t s = 0; s < kStates; ++s) metric[s] = std::isfinite(best) ? metric_[s] - best : 0.0f;
    }
    for (int j = 0; j < pairs; ++j) {
        history[j] = AddCompareSelect(metric, next, x[2 * j], x[2 * j + 1]);
        metric = next;
    }
    unsigned state = BestState(metric);
    for (int j = pairs - 1; j >= 0; --j) {
        const unsigned odd = static_cast<unsigned>(~(history[j] >> state) & 1u);
        code_pairs[j] = output_[odd][state];
        state = ((state << 1) | odd) & 63u;
    }
}

}  // namespace kavra::modem
