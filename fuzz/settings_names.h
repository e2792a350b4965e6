// The names of the stored settings, for the targets that fill a settings store.
#pragma once

namespace kavra::fuzz {

constexpr const char* kNumberNames[] = {"MODEM_TYPE2", "MODEM_TYPE",  "CORR_FREQC",  "CORR_FREQP",  "CORR_FREQP1",
                                        "USE_COM_PORT", "COM_PORT_NUMBER", "DTR_OR_RTS", "USE_SSE2", "AUTOCONNECT",
                                        "AUTORECEIVE", "COLOR_SYS",   "COLOR_ERR",   "COLOR_OWN",   "COLOR_ABON"};
constexpr const char* kStringNames[] = {"CALLSIGN", "CaptureDevice", "PlaybackDevice", "COM_PORT_DEVICE"};

}  // namespace kavra::fuzz
