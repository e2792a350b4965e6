// The receiving part of `kavra-modem rx`, without its options and files: a 48000 Hz capture
// through the receiver as the station's SampleRing would feed it, then silence until the
// receiver is back in search.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "modem/common/receiver_output.h"
#include "modem/rx/frame_collector.h"
#include "modem/rx/serial_tone_receiver.h"

namespace kavra::tools {

inline constexpr int kCaptureRate = 48000;

struct CaptureDecodeSettings {
    int type = 0;         // modem type, 0 or 1
    int carrier = 1800;   // receive carrier, Hz
    int card_rate = kCaptureRate;
};

// Called after every sample given to the receiver, before the collector takes its report.
using AfterSample = std::function<void(const modem::SerialToneReceiver&, const modem::ReceiverOutput&)>;

// Decodes every frame in `samples`; the settings are taken as they are (the caller checks them).
modem::FrameCollector DecodeCapture(std::span<const std::int16_t> samples, const CaptureDecodeSettings& settings,
                                    const AfterSample& after_sample = {});

}  // namespace kavra::tools
