#include "modem/tx/transmit_profile.h"

#include <array>

#include "modem/tx/filter_taps.h"

namespace kavra::modem {

namespace {

const std::array<TransmitProfileInfo, 3> kProfiles{{
    {"2400 Bd at 48000 Hz", 2400, 4, 9600, kShapingTaps2400At48k, 1800, 4824000.0, 100.5f, true, 5, true, 48000, 20},
    {"2000 Bd at 48000 Hz", 2000, 6, 12000, kShapingTaps2000At48k, 1500, 4824000.0, 100.5f, false, 2, true, 48000, 24},
    {"2000 Bd at 8000 Hz", 2000, 4, 8000, kShapingTaps2000At8k, 1500, 804000.0, 201.0f, true, 1, false, 8000, 4},
}};

}  // namespace

const TransmitProfileInfo& ProfileInfo(TransmitProfile profile) {
    return kProfiles[static_cast<std::size_t>(profile)];
}

std::optional<TransmitProfile> ProfileFor(int modem_type, int playback_rate_hz) {
    if (modem_type == 0 && playback_rate_hz == 48000) return TransmitProfile::Profile2400At48k;
    if (modem_type == 1 && playback_rate_hz == 48000) return TransmitProfile::Profile2000At48k;
    if (modem_type == 1 && playback_rate_hz == 8000) return TransmitProfile::Profile2000At8k;
    return std::nullopt;
}

bool IsAcceptableCardRate(TransmitProfile profile, long long card_rate_hz) {
    const double nominal = ProfileInfo(profile).nominal_rate_hz;
    const double rate = static_cast<double>(card_rate_hz);
    return rate >= nominal * (1.0 - kCardRateTolerance) && rate <= nominal * (1.0 + kCardRateTolerance);
}

}  // namespace kavra::modem
