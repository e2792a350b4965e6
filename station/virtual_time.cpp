#include "station/virtual_time.h"

#include <algorithm>

#include "station/station.h"

namespace kavra::station {

WorkerRunner& VirtualTimeRunner::Add(Station& station, VirtualClock& clock, int phase_ms) {
    auto slot = std::make_unique<Slot>();
    slot->station = &station;
    slot->clock = &clock;
    slot->phase = phase_ms;
    slots_.push_back(std::move(slot));
    return *slots_.back();
}

void VirtualTimeRunner::Remove(Station& station) {
    std::erase_if(slots_, [&](const std::unique_ptr<Slot>& s) { return s->station == &station; });
}

bool VirtualTimeRunner::Step() {
    if (air_ && !air_()) return false;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = *slots_[i];
        Station& station = *s.station;
        if (s.running[static_cast<std::size_t>(Worker::Capture)] && (now_ + static_cast<std::uint64_t>(s.phase)) % 10 == 0)
            station.CaptureStep();
        if (s.running[static_cast<std::size_t>(Worker::Demodulation)]) station.DemodulationStep();
        if (s.running[static_cast<std::size_t>(Worker::Transmit)] && now_ >= s.transmit_wake) {
            station.SchedulerPass();
            s.transmit_wake = now_ + 1 + s.clock->TakeSleep();
        }
        if (station.Started()) station.UiStep();
    }
    if (after_) after_();
    ++now_;
    return true;
}

bool VirtualTimeRunner::Run(std::uint64_t ms) {
    for (std::uint64_t i = 0; i < ms; ++i)
        if (!Step()) return false;
    return true;
}

}  // namespace kavra::station
