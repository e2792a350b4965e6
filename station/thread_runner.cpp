#include "station/thread_runner.h"

#include <chrono>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "station/station.h"

namespace kavra::station {

namespace {
constexpr std::size_t kStackBytes = 1 << 20;
}

ThreadRunner::~ThreadRunner() {
    for (int w = 0; w < kWorkerCount; ++w) StopWorker(static_cast<Worker>(w));
}

void ThreadRunner::StartWorker(Worker w) {
    Slot& slot = slots_[static_cast<std::size_t>(w)];
    if (slot.joinable) StopWorker(w);
    slot.runner = this;
    slot.worker = w;
    slot.flag.store(1, std::memory_order_release);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kStackBytes);
    const int rc = pthread_create(&slot.thread, &attr, &ThreadRunner::Body, &slot);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        slot.flag.store(2, std::memory_order_release);
        throw std::runtime_error("cannot start a station thread");
    }
    slot.joinable = true;
}

void ThreadRunner::StopWorker(Worker w) {
    Slot& slot = slots_[static_cast<std::size_t>(w)];
    if (!slot.joinable) return;
    slot.flag.store(0, std::memory_order_release);
    while (slot.flag.load(std::memory_order_acquire) != 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pthread_join(slot.thread, nullptr);
    slot.joinable = false;
}

double ThreadRunner::CpuSeconds(Worker w) const noexcept {
    const Slot& slot = slots_[static_cast<std::size_t>(w)];
    if (!slot.joinable) return 0.0;
    clockid_t id{};
    timespec ts{};
    if (pthread_getcpuclockid(slot.thread, &id) != 0 || clock_gettime(id, &ts) != 0) return 0.0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void* ThreadRunner::Body(void* p) {
    Slot& slot = *static_cast<Slot*>(p);
    Station& station = slot.runner->station_;
    const auto pause = std::chrono::milliseconds(PauseMs(slot.worker));
    while (slot.flag.load(std::memory_order_acquire) != 0) {
        switch (slot.worker) {
            case Worker::Capture: station.CaptureStep(); break;
            case Worker::Demodulation: station.DemodulationStep(); break;
            case Worker::Transmit: station.SchedulerPass(); break;
        }
        std::this_thread::sleep_for(pause);
    }
    slot.flag.store(2, std::memory_order_release);
    return nullptr;
}

}  // namespace kavra::station
