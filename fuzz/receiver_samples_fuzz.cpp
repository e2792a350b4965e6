// Arbitrary 16-bit samples straight into the receiver, as the SampleRing hands them on: a header
// picks the modem type, the kernels, the receive carrier and the capture card rate (any number a
// settings file can hold); the rest are the samples.  Every figure the receiver reports is
// checked after every sample, and so is the time one sample takes.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "fuzz/receiver_checks.h"
#include "modem/rx/frame_collector.h"
#include "modem/rx/serial_tone_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kavra;
    fuzz::Input in(data, size);
    const std::uint8_t head = in.U8();
    const int type = head & 1;
    auto output = std::make_unique<modem::ReceiverOutput>();
    // Carrier: the type's own, or any the Preferences allow (0..3999).
    const std::uint16_t carrier = in.U16();
    output->rx_carrier = (head & 2) != 0 ? carrier % 4000 : modem::DefaultCarrierHz(type);
    // Card rate: nominal, a few hertz off, or any 32-bit number.
    const std::uint32_t rate = in.U32();
    output->card_rate = (head & 4) != 0 ? static_cast<int>(rate)
                                        : 48000 + static_cast<int>(static_cast<std::int8_t>(rate & 0xFF));
    auto receiver = std::make_unique<modem::SerialToneReceiver>(type, *output);
    receiver->SelectKernels((head & 8) != 0);
    modem::FrameCollector collector;
    fuzz::SampleTimer timer;
    // Samples, each optionally repeated (bit 4): a short input can then hold seconds of signal.
    const bool hold = (head & 16) != 0;
    while (in.Left() >= 2) {
        const auto sample = static_cast<std::int16_t>(in.U16());
        const int repeats = hold ? 1 + (sample & 7) : 1;
        for (int r = 0; r < repeats; ++r) {
            timer.Start();
            receiver->ProcessSample(sample);
            timer.Stop();
            fuzz::CheckReceiverOutput(*receiver, *output);
            collector.Poll(*output);
        }
    }
    collector.Finish(*output);
    fuzz::CheckFrames(collector);
    if (std::getenv("KAVRA_FUZZ_VERBOSE") != nullptr)
        for (const modem::ReceivedFrame& f : collector.frames())
            std::fprintf(stderr, "frame: mode %d, %d blocks, %zu bytes, S/N %d, offset %d Hz\n", f.mode, f.blocks,
                         f.bytes.size(), f.snr_avg, f.freq_offset_hz);
    return 0;
}
