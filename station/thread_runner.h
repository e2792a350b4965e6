// Real threads for one station's workers: CaptureThread, DemodThread and TransmitThread, each with
// a 1 MiB stack, stepping until its run flag asks it to stop (1 run, 0 stop requested, 2 stopped)
// and pausing 10 ms (capture) or 1 ms after each step.  The user-interface thread's work
// (Station::UiStep) stays with the caller.
#pragma once

#include <pthread.h>

#include <array>
#include <atomic>

#include "station/workers.h"

namespace kavra::station {

class Station;

class ThreadRunner : public WorkerRunner {
public:
    explicit ThreadRunner(Station& station) : station_(station) {}
    ~ThreadRunner() override;  // stops what still runs
    ThreadRunner(const ThreadRunner&) = delete;
    ThreadRunner& operator=(const ThreadRunner&) = delete;

    void StartWorker(Worker w) override;
    void StopWorker(Worker w) override;
    int RunFlag(Worker w) const noexcept { return slots_[static_cast<std::size_t>(w)].flag.load(std::memory_order_acquire); }
    // CPU time the worker's thread has used, seconds; 0 when it does not run.
    double CpuSeconds(Worker w) const noexcept;

private:
    struct Slot {
        ThreadRunner* runner = nullptr;
        Worker worker = Worker::Capture;
        std::atomic<int> flag{2};
        pthread_t thread{};
        bool joinable = false;
    };
    static void* Body(void* slot);

    Station& station_;
    std::array<Slot, kWorkerCount> slots_{};
};

}  // namespace kavra::station
