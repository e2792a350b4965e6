// The tuning window's arithmetic, without widgets: the 512-point FFT over the bit-reversed
// SpectrumBuffer, the gain applied to a magnitude, the carrier marker and the mouse frequency,
// the constellation pixel of a trace point and the rows of the received-data view.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/spectrum_buffer.h"

namespace kavra::pipeline {
class ReceivedDataView;
}

namespace kavra::app {

inline constexpr int kFftPoints = 512;
inline constexpr int kSpectrumBins = 256;          // magnitudes kept (bins 0..255, 15.625 Hz each)
inline constexpr int kSpectrumDrawnBins = 248;     // bins drawn, 0..3875 Hz
inline constexpr int kPictureWidth = 496;
inline constexpr int kPictureHeight = 184;
inline constexpr int kConstellationSize = 116;
inline constexpr int kMinGain = -25;
inline constexpr int kMaxGain = 25;
inline constexpr int kTextRows = 9;
inline constexpr int kTextColumns = 44;
inline constexpr int kTextCellWidth = 11;
inline constexpr int kTextCellHeight = 19;

using FftValues = std::array<audio::SpectrumBuffer::Value, kFftPoints>;

// W(k) = (cos(2 pi k / 512), -sin(2 pi k / 512)), k = 0..255, built once.
const std::array<audio::SpectrumBuffer::Value, kFftPoints / 2>& Twiddles();

// In-place radix-2 decimation-in-time FFT of values already in bit-reversed order; no window,
// no scaling.
void TransformBitReversed(FftValues& values);

// sqrt(re^2 + im^2) of bins 0..255.
std::array<float, kSpectrumBins> Magnitudes(const FftValues& values);

// The FFT and magnitudes of a full SpectrumBuffer's values.
std::array<float, kSpectrumBins> SpectrumOf(const FftValues& bit_reversed);

// Height in pixels (0..184) of a magnitude at gain -25..25: a positive gain divides, a negative
// one multiplies; 65536 at gain 0 fills the height.
int SpectrumLineHeight(float magnitude, int gain);

// x of the red marker for the RX carrier: carrier * 512 / 4000.
int CarrierMarkerX(int rx_carrier_hz);

// The frequency under the mouse at x: x * 4000 / 512 Hz.
int FrequencyAtX(int x);

// Pixel of a trace point in the 116 x 116 picture: column 58 - Y, row 58 - X, each kept in 0..115.
struct Pixel {
    int column = 0;
    int row = 0;
};
Pixel ConstellationPixel(int x, int y);

// Rows the scroll bar can reach in the received-data view: count / 44.
int TextRowMaximum(std::uint32_t count);

// The bytes of the nine shown rows from `first_row` (each at most 44, empty beyond the count).
std::vector<std::string> TextViewRows(const pipeline::ReceivedDataView& view, int first_row);

}  // namespace kavra::app
