// The SVG plot of a sweep: BER against SNR in 3000 Hz per mode on a log scale, with the
// required minimum performance and the ideal coherent bounds that apply to its channel drawn as
// points.  Plain SVG 1.1, no scripts, readable in any browser and on the project's web pages.
#pragma once

#include <string>

#include "perf/ber_sweep.h"

namespace kavra::perf {

std::string BerPlotSvg(const SweepResult& result, const std::string& title);

}  // namespace kavra::perf
