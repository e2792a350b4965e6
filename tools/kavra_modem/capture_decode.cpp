#include "tools/kavra_modem/capture_decode.h"

#include <memory>

#include "modem/common/mode_table.h"
#include "modem/rx/receiver_profile.h"

namespace kavra::tools {

namespace {
// Silence appended after the recording, in steps, until the receiver is back in search.
constexpr double kTailStepSeconds = 0.1;
constexpr double kMaxTailSeconds = 30.0;
}  // namespace

modem::FrameCollector DecodeCapture(std::span<const std::int16_t> samples, const CaptureDecodeSettings& settings,
                                    const AfterSample& after_sample) {
    auto output = std::make_unique<modem::ReceiverOutput>();
    output->rx_carrier = settings.carrier;
    output->card_rate = settings.card_rate;
    auto receiver = std::make_unique<modem::SerialToneReceiver>(settings.type, *output);
    receiver->SelectKernels(true);
    modem::FrameCollector collector;
    auto feed = [&](std::int16_t sample) {
        receiver->ProcessSample(sample);
        if (after_sample) after_sample(*receiver, *output);
        collector.Poll(*output);
    };

    // The SampleRing keeps every 5th (type 0) or 6th (type 1) capture sample.
    const auto step = static_cast<std::size_t>(modem::ReceiverProfileFor(settings.type).capture_decimation);
    for (std::size_t i = 0; i < samples.size(); i += step) feed(samples[i]);
    const auto tail_step = static_cast<long>(kTailStepSeconds * 4 * modem::SymbolRate(settings.type));
    for (double t = 0.0; t < kMaxTailSeconds; t += kTailStepSeconds) {
        if (!receiver->in_data_mode() && receiver->search_state() == modem::kSearching && t > 0.0) break;
        for (long i = 0; i < tail_step; ++i) feed(0);
    }
    collector.Finish(*output);
    return collector;
}

}  // namespace kavra::tools
