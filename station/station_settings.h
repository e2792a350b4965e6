// The station's stored settings: the eighteen values under SOFTWARE\Kavra_Modem in the order
// start-up reads them, their defaults and read ranges, plus COM_PORT_DEVICE (a serial device
// named by the user instead of the port number's).
#pragma once

#include <cstdint>
#include <string>

#include "audio/sound_device_list.h"
#include "station/settings_store.h"

namespace kavra::station {

inline constexpr std::size_t kCallsignChars = 8;
inline constexpr std::size_t kDeviceChars = 999;   // room for 1000 bytes with the terminating zero
inline constexpr char kNoSelectedDevice[] = "No selected device";

// Log colours, 24-bit with red in the low byte.
inline constexpr std::uint32_t kBlack = 0x000000, kRed = 0x0000FF, kNavy = 0x800000, kGreen = 0x008000;

struct StationSettings {
    std::string callsign;              // CALLSIGN
    std::uint32_t modem_type2 = 0;     // MODEM_TYPE2: type-1 play frequency, 0 = 48000 Hz, 1 = 8000 Hz
    std::uint32_t modem_type = 1;      // MODEM_TYPE
    std::uint32_t corr_freqc = 48000;  // CORR_FREQC, Hz
    std::uint32_t corr_freqp = 48000;  // CORR_FREQP, Hz
    std::uint32_t corr_freqp1 = 8000;  // CORR_FREQP1, Hz
    std::uint32_t use_com_port = 0;    // USE_COM_PORT
    std::uint32_t com_port_number = 1; // COM_PORT_NUMBER
    std::uint32_t dtr_or_rts = 0;      // DTR_OR_RTS
    std::uint32_t use_sse2 = 0;        // USE_SSE2 (default: the processor-feature word)
    std::uint32_t autoconnect = 2;     // AUTOCONNECT
    std::uint32_t autoreceive = 2;     // AUTORECEIVE
    std::uint32_t color_sys = kBlack;  // COLOR_SYS
    std::uint32_t color_err = kRed;    // COLOR_ERR
    std::uint32_t color_own = kNavy;   // COLOR_OWN
    std::uint32_t color_abon = kGreen; // COLOR_ABON
    std::string capture_device = kNoSelectedDevice;   // CaptureDevice
    std::string playback_device = kNoSelectedDevice;  // PlaybackDevice
    std::string com_port_device;       // COM_PORT_DEVICE (empty: the port number's device)

    int PlaybackRate() const noexcept { return modem_type == 1 && modem_type2 == 1 ? 8000 : 48000; }
    // CORR_FREQP or CORR_FREQP1, as the playback rate says.
    std::uint32_t PlaybackCardRate() const noexcept { return PlaybackRate() == 8000 ? corr_freqp1 : corr_freqp; }
};

// Start-up's read: opens the key, reads every value in order, writes the default of each that is
// missing (a callsign over 8 characters or a device text over 999 bytes counts as missing),
// applies the read ranges (MODEM_TYPE, MODEM_TYPE2, USE_COM_PORT and DTR_OR_RTS above 1 read
// as 1, the stored value left as it is), selects the devices whose descriptions match, closes.
StationSettings ReadSettings(SettingsStore& store, std::uint32_t processor_feature, audio::SoundDeviceList& capture,
                             audio::SoundDeviceList& playback);

}  // namespace kavra::station
