// Block decoder speed per data mode: time per block and real-time factor (block air time at
// 2400 symbols/s divided by decode time).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "modem/common/mode_table.h"
#include "modem/common/receiver_output.h"
#include "modem/decoder/block_decoder.h"

namespace {

using namespace kavra::modem;

// Soft symbols of one block: random data symbols with noise, at the receiver's usual scale.
int SymbolsInBlock(int mode) {
    const DataModeInfo& m = ModeInfo(mode);
    if (m.modulation == Modulation::Bpsk75) return BlockSymbols(mode) * 3 / 4;
    return BlockSymbols(mode) * m.data_symbols / FrameSymbols(mode);
}

void BM_DecodeBlock(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    auto out = std::make_unique<ReceiverOutput>();
    out->mode = mode;
    out->soft_symbol_count = SymbolsInBlock(mode);
    std::mt19937 rng(1234u + static_cast<unsigned>(mode));
    std::normal_distribution<float> noise(0.0f, 30.0f);
    std::bernoulli_distribution sign(0.5);
    for (int i = 0; i < out->soft_symbol_count; ++i) {
        auto& s = out->soft_symbols[static_cast<std::size_t>(i)];
        s.i = (sign(rng) ? 100.0f : -100.0f) + noise(rng);
        s.q = (sign(rng) ? 100.0f : -100.0f) + noise(rng);
    }
    BlockDecoder decoder;
    for (auto _ : state) {
        decoder.DecodeBlock(*out);
        benchmark::DoNotOptimize(out->decoded_bits.data());
        benchmark::ClobberMemory();
    }
    const double block_seconds = BlockSymbols(mode) / 2400.0;
    const int bits = mode == kMode4800 ? 3 * out->soft_symbol_count : ModeInfo(mode).data_bits_per_block;
    state.SetItemsProcessed(state.iterations() * bits);
    state.counters["rt_factor"] =
        benchmark::Counter(block_seconds, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(std::string(ModeName(mode, 0)));
}

BENCHMARK(BM_DecodeBlock)->DenseRange(0, 12)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
