// One station: everything the main window owns -- the three transmitters, the two receivers, the
// sample ring and spectrum buffer, the receive pipeline and its queues, ReceiverOutput, capture,
// playback, keying, the settings and the LinkSession -- without any widget.  The desktop and the
// headless terminal are two views of it.
//
// Threads.  CaptureStep runs in CaptureThread, DemodulationStep in DemodThread, SchedulerPass in
// TransmitThread; everything else in the user-interface thread (Start, Stop, UiStep, the commands,
// the Preferences).  Shared indexes and flags are atomics with one writer each.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/capture.h"
#include "audio/keying.h"
#include "audio/playback.h"
#include "audio/sample_ring.h"
#include "audio/sound_device_list.h"
#include "audio/spectrum_buffer.h"
#include "link/link_session.h"
#include "modem/common/receiver_output.h"
#include "pipeline/receive_pipeline.h"
#include "station/station_settings.h"
#include "station/station_view.h"
#include "station/workers.h"

namespace kavra::modem {
class SerialToneReceiver;
class SerialToneTransmitter;
}  // namespace kavra::modem

namespace kavra::station {

inline constexpr char kApplicationTitle[] = "Kavra-2400";
inline constexpr std::size_t kMaxBurstSamples = 3000000;
// A burst whose playback has not ended this long after its duration is stopped.
inline constexpr std::uint32_t kPlaybackOverrunMs = 3000;

// What a station runs on.
struct StationPorts {
    link::Clock& clock;
    StationView& view;
    audio::SoundSystem& sound;
    audio::KeyingPorts& keying;
    SettingsStore& settings;
    link::FileSystem& files;  // the working folder: "RECEIVED", "abonents.txt", files to send
};

// Values given for one run instead of the stored ones (never written).
struct StationOverrides {
    std::optional<std::string> callsign;
    std::optional<int> modem_type;
    std::optional<std::uint32_t> processor_feature;  // instead of asking the processor
};

// The Preferences dialog's values when it closes with OK.
struct PreferencesChoice {
    std::string callsign;
    audio::KeyLine line = audio::KeyLine::Dtr;
    bool use_port = false;
    int port_number = 1;
    std::string port_device;
    bool use_sse2 = false;
    std::uint32_t autoconnect = 2;  // 2 checked, 1 grayed, 0 cleared
    std::uint32_t autoreceive = 2;
    bool limited_attempts = true;
    int attempts = 5;
    std::array<std::uint32_t, 4> colours{};  // system, error, own, abonent
    int capture_selected = -1;
    int playback_selected = -1;
    std::uint32_t modem_type = 0;
    std::uint32_t modem_type2 = 0;
    std::uint32_t corr_freqc = 48000;
    std::uint32_t corr_freqp = 48000;
    std::uint32_t corr_freqp1 = 8000;
    int tx_carrier = 1800;
    int rx_carrier = 1800;
};

// Counters of what was refused when full, and of device faults, for the log and for tests.
struct StationHealth {
    std::uint64_t ring_dropped = 0;
    std::uint64_t blocks_dropped = 0;
    std::uint64_t bursts_stopped = 0;  // playback that did not end in time
};

// The processor-feature word: non-zero when SSE2 may be used.
std::uint32_t QueryProcessorFeature() noexcept;

class Station {
public:
    Station(StationPorts ports, StationOverrides overrides = {});
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // ---- user-interface thread
    // The start-up steps (settings, devices, port, workers, abonents).  Workers start through
    // `runner`, which must outlive Stop().
    void Start(WorkerRunner& runner);
    // The shutdown order: transmit and demodulation workers, playback, capture, then the port,
    // lowered first if the station is keyed.  Safe to call twice.
    void Stop();
    bool Started() const noexcept { return started_; }

    // Every millisecond: the received-block pump (one block, unless the request dialog holds the
    // handling), the request dialog's countdown, the 200 ms refresh.
    void UiStep();
    bool PumpStep();
    void Timer1Timer();

    // Operator commands; a command whose menu item is disabled does nothing (false).
    bool Connect(std::string_view callsign);
    bool Disconnect();
    bool SendFile();  // the file comes from the view's file dialog
    bool StopTransfer();
    // A chat line (single-byte text); false when the line stays in the input.
    bool Say(std::string_view text);
    // The request dialog's OK / Cancel; false when no question is open.
    bool Answer(bool accept);

    // Preferences: the dialog's current values, OK, and the handlers that act at once.
    PreferencesChoice CurrentPreferences() const;
    void ApplyPreferences(const PreferencesChoice& choice);
    void SetCaptureCardRate(std::uint32_t hz);
    void SetRxCarrier(int hz);
    // A Preferences colour sample confirmed: the log uses the colour at once (0 system, 1 error,
    // 2 own chat, 3 abonent chat); it is stored by the next OK.
    void SetLogColour(int kind, std::uint32_t colour);
    // The play frequency (MODEM_TYPE2) and the TX real card frequencies as the Preferences show
    // them, at once: the next burst plays at the rate they give.  Stored by the next OK.
    void SetPlayback(std::uint32_t modem_type2, std::uint32_t corr_freqp, std::uint32_t corr_freqp1);

    // ---- worker steps
    void CaptureStep() noexcept;
    void DemodulationStep() noexcept;
    void SchedulerPass();

    // ---- views (user-interface thread unless said otherwise)
    link::LinkSession& Session() noexcept { return *session_; }
    // The working folder the station reads and writes ("abonents.txt", files to send).
    link::FileSystem& Files() noexcept { return files_; }
    // The transmitter and player the link layer's scheduler uses (TransmitThread).
    link::BurstSender& Sender() noexcept;
    const StationSettings& Settings() const noexcept { return settings_; }
    const std::string& Caption() const noexcept { return caption_; }
    int ModemType() const noexcept { return modem_type_.load(std::memory_order_relaxed); }
    int PlaybackRate() const noexcept { return playback_rate_.load(std::memory_order_relaxed); }
    int TxCarrier() const noexcept { return tx_carrier_.load(std::memory_order_relaxed); }
    bool CaptureReady() const noexcept { return capture_ready_; }
    bool PlaybackReady() const noexcept { return playback_ready_; }
    bool ConnectEnabled() const noexcept { return session_->CommandEnabled(link::Command::Connect); }
    bool Keyed() const noexcept { return keying_.Keyed(); }  // any thread
    const audio::SoundDeviceList& CaptureDevices() const noexcept { return capture_devices_; }
    const audio::SoundDeviceList& PlaybackDevices() const noexcept { return playback_devices_; }
    const audio::TransmitterKeying& Keying() const noexcept { return keying_; }
    modem::ReceiverOutput& Output() noexcept { return output_; }
    audio::SpectrumBuffer& Spectrum() noexcept { return spectrum_; }
    pipeline::ReceivedDataView& ReceivedData() noexcept { return view_data_; }
    const audio::SampleRing& Ring() const noexcept { return ring_; }
    const pipeline::ReceivePipeline& Pipeline() const noexcept { return pipeline_; }
    StationHealth Health() const noexcept;
    // Blocks handed to the protocol handler since start-up.
    std::uint64_t BlocksHandled() const noexcept { return blocks_handled_; }
    std::uint32_t ProcessorFeature() const noexcept { return processor_feature_; }
    bool UsingSimdKernels() const noexcept;

private:
    class BurstPlayer;
    class ReceiverView;

    void ApplyModulationType(int modem_type, std::uint32_t modem_type2);
    void EnumerateDevices();
    void OpenPlayback();
    void OpenCapture();
    void CloseCapture();
    void UpdateCaption();
    void UpdateConnectAvailable();
    void ApplyLinkSettings();
    struct DropWatch {
        std::uint64_t seen = 0;  // the counter at the last refresh
        bool growing = false;
    };
    void ReportFaults();
    void ReportDrops(std::uint64_t count, DropWatch& watch, std::string_view before, std::string_view after);
    void Log(link::LogKind kind, std::string_view text);

    // Ports.
    link::Clock& clock_;
    StationView& view_;
    audio::SoundSystem& sound_;
    link::FileSystem& files_;
    SettingsStore& store_;
    StationOverrides overrides_;
    WorkerRunner* runner_ = nullptr;

    // Modem.
    modem::ReceiverOutput output_;
    std::array<std::unique_ptr<modem::SerialToneTransmitter>, 3> transmitters_;
    std::array<std::unique_ptr<modem::SerialToneReceiver>, 2> receivers_;
    std::atomic<int> wanted_simd_{0};  // written by the user-interface thread, applied by DemodThread
    std::atomic<bool> simd_active_{false};

    // Sound.
    audio::SampleRing ring_;
    audio::SpectrumBuffer spectrum_;
    audio::CaptureFeed feed_{ring_, spectrum_};
    audio::AudioCapture capture_{feed_};
    audio::AudioPlayback playback_;
    audio::TransmitterKeying keying_;
    audio::SoundDeviceList capture_devices_;
    audio::SoundDeviceList playback_devices_;
    bool capture_ready_ = false;
    bool playback_ready_ = false;
    bool capture_worker_running_ = false;
    std::vector<std::int16_t> burst_samples_;

    // Receive pipeline.
    pipeline::ReceivedBlockQueue blocks_;
    pipeline::ReceivedDataView view_data_;
    pipeline::ReceivePipeline pipeline_{blocks_, view_data_};

    // Settings and derived values.
    StationSettings settings_;
    std::uint32_t processor_feature_ = 0;
    std::atomic<int> modem_type_{0};
    std::atomic<int> playback_rate_{48000};
    std::atomic<int> tx_carrier_{1800};
    std::atomic<std::uint32_t> playback_card_rate_{48000};
    bool limited_attempts_ = true;
    int attempts_ = 5;
    std::string caption_;

    // Link.
    std::unique_ptr<BurstPlayer> sender_;
    std::unique_ptr<ReceiverView> receiver_view_;
    std::unique_ptr<link::LinkSession> session_;

    // User-interface thread bookkeeping.
    bool started_ = false;
    bool stopped_ = false;
    std::uint32_t last_refresh_ = 0;
    link::Question question_seen_ = link::Question::None;
    std::uint32_t question_tick_ = 0;
    DropWatch ring_drops_;
    DropWatch block_drops_;
    bool capture_fault_logged_ = false;
    std::uint64_t blocks_handled_ = 0;
};

}  // namespace kavra::station
