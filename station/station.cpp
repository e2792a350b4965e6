#include "station/station.h"

#include <algorithm>

#include "link/file_names.h"
#include "modem/rx/serial_tone_receiver.h"
#include "modem/tx/serial_tone_transmitter.h"
#include "modem/tx/transmit_profile.h"

namespace kavra::station {

using link::LogKind;

std::uint32_t QueryProcessorFeature() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("sse2") ? 1u : 0u;
#else
    return 0;
#endif
}

// ---- the link layer's ports onto the station

// The transmitter and the player, TransmitThread.  Besides keying, producing and playing a burst,
// it stops a burst whose playback does not end within its duration and a margin (a hung or
// vanished device would otherwise keep the radio keyed) and reports device faults.
class Station::BurstPlayer : public link::BurstSender {
public:
    explicit BurstPlayer(Station& s) : s_(s) {}

    void KeyTransmitter() override { s_.keying_.Key(); }
    void UnkeyTransmitter() override { s_.keying_.Unkey(); }

    std::uint32_t StartBurst(std::span<const std::uint8_t> bytes, int data_mode) override {
        const int rate = s_.playback_rate_.load(std::memory_order_relaxed);
        const auto profile = modem::ProfileFor(s_.modem_type_.load(std::memory_order_relaxed), rate);
        if (!profile) return 0;
        const auto card_rate = static_cast<int>(s_.playback_card_rate_.load(std::memory_order_relaxed));
        if (!modem::IsAcceptableCardRate(*profile, card_rate)) {
            s_.Log(LogKind::Error, "Error! TX real card frequency " + std::to_string(card_rate) + " Hz is too far from " +
                                       std::to_string(rate) + " Hz, nothing sent!");
            return 0;
        }
        std::uint32_t count = 0;
        s_.transmitters_[static_cast<std::size_t>(*profile)]->Transmit(
            bytes, s_.tx_carrier_.load(std::memory_order_relaxed), card_rate, data_mode, s_.burst_samples_, count);
        if (count == 0) return 0;
        const auto duration = static_cast<std::uint32_t>(std::uint64_t{count} * 1000 / static_cast<std::uint64_t>(rate));
        if (s_.playback_.PlaySamples(std::span<const std::int16_t>(s_.burst_samples_.data(), count), rate) != 1) return 0;
        start_ = s_.clock_.NowMs();
        limit_ = duration + kPlaybackOverrunMs;
        watching_ = true;
        return duration;
    }

    bool IsPlaying() override {
        if (s_.playback_.IsPlaying()) {
            if (!watching_ || s_.clock_.NowMs() - start_ <= limit_) return true;
            s_.playback_.StopBuffer();
            watching_ = false;
            stopped_.fetch_add(1, std::memory_order_relaxed);
            s_.Log(LogKind::Error, "Error! Playback did not end in time: burst stopped, transmitter unkeyed!");
            return false;
        }
        if (watching_) {
            watching_ = false;
            if (const std::string fault = s_.playback_.Fault(); !fault.empty())
                s_.Log(LogKind::Error, "Error! Playback audio failed: " + fault);
        }
        return false;
    }

    std::uint64_t Stopped() const noexcept { return stopped_.load(std::memory_order_relaxed); }

private:
    Station& s_;
    std::uint32_t start_ = 0;
    std::uint32_t limit_ = 0;
    bool watching_ = false;
    std::atomic<std::uint64_t> stopped_{0};
};

class Station::ReceiverView : public link::ReceiverStatus {
public:
    explicit ReceiverView(modem::ReceiverOutput& o) : o_(o) {}
    bool IsReceiving() override { return o_.receiving.load(std::memory_order_relaxed) != 0; }
    int Snr() override { return o_.snr.load(std::memory_order_relaxed); }
    int Mode() override { return o_.mode.load(std::memory_order_relaxed); }
    link::SnrFigures LastFrameSnr() override {
        return {o_.snr_avg.load(std::memory_order_relaxed), o_.snr_min.load(std::memory_order_relaxed),
                o_.snr_max.load(std::memory_order_relaxed)};
    }

private:
    modem::ReceiverOutput& o_;
};

// ---- construction

Station::Station(StationPorts ports, StationOverrides overrides)
    : clock_(ports.clock),
      view_(ports.view),
      sound_(ports.sound),
      files_(ports.files),
      store_(ports.settings),
      overrides_(std::move(overrides)),
      keying_(ports.keying),
      burst_samples_(kMaxBurstSamples) {
    transmitters_[0] = std::make_unique<modem::SerialToneTransmitter>(modem::TransmitProfile::Profile2400At48k);
    transmitters_[1] = std::make_unique<modem::SerialToneTransmitter>(modem::TransmitProfile::Profile2000At48k);
    transmitters_[2] = std::make_unique<modem::SerialToneTransmitter>(modem::TransmitProfile::Profile2000At8k);
    receivers_[0] = std::make_unique<modem::SerialToneReceiver>(0, output_);
    receivers_[1] = std::make_unique<modem::SerialToneReceiver>(1, output_);
    sender_ = std::make_unique<BurstPlayer>(*this);
    receiver_view_ = std::make_unique<ReceiverView>(output_);
    session_ = std::make_unique<link::LinkSession>(link::LinkPorts{clock_, view_, *sender_, *receiver_view_, files_},
                                                   link::LinkSettings{});
}

Station::~Station() {
    Stop();
    session_.reset();  // before the ports it holds
    receivers_ = {};
    transmitters_ = {};
}

// ---- start-up and shutdown

void Station::Start(WorkerRunner& runner) {
    if (started_) return;
    runner_ = &runner;
    // Defaults the settings may override.
    modem_type_.store(0);
    playback_rate_.store(48000);
    settings_ = StationSettings{};
    // Pipeline state, keying, ring.
    ring_.Reset();
    feed_.SetRingStep(audio::RingStepFor(0));
    limited_attempts_ = true;
    attempts_ = 5;
    // The processor-feature query.
    processor_feature_ = overrides_.processor_feature.value_or(QueryProcessorFeature());
    // Devices, then the settings (which select among them).
    EnumerateDevices();
    settings_ = ReadSettings(store_, processor_feature_, capture_devices_, playback_devices_);
    if (overrides_.callsign) settings_.callsign = *overrides_.callsign;
    if (overrides_.modem_type) settings_.modem_type = static_cast<std::uint32_t>(std::clamp(*overrides_.modem_type, 0, 1));
    keying_.SetLine(settings_.dtr_or_rts ? audio::KeyLine::Rts : audio::KeyLine::Dtr);
    keying_.SetMethod(settings_.use_com_port != 0, static_cast<int>(settings_.com_port_number), settings_.com_port_device);
    ApplyModulationType(static_cast<int>(settings_.modem_type), settings_.modem_type2);
    // The keying port, playback, capture.
    keying_.OpenControlPort(view_);
    OpenPlayback();
    OpenCapture();
    UpdateCaption();
    ApplyLinkSettings();
    UpdateConnectAvailable();
    // Kernels, the rest of the pipeline.
    wanted_simd_.store(processor_feature_ != 0 && settings_.use_sse2 != 0 ? 1 : 0);
    pipeline_.Reset();
    blocks_.Reset();
    output_.card_rate.store(static_cast<int>(settings_.corr_freqc));
    output_.snr.store(modem::kSnrNone);
    for (int i = 0; i < modem::kConstellationTraceLength; ++i) {
        output_.trace_i[static_cast<std::size_t>(i)].store(0);
        output_.trace_q[static_cast<std::size_t>(i)].store(0);
    }
    files_.CreateFolder(link::kReceivedFolder);
    runner.StartWorker(Worker::Demodulation);
    runner.StartWorker(Worker::Transmit);
    session_->Abonents().LoadAbonents(files_);
    last_refresh_ = clock_.NowMs();
    started_ = true;
    if (settings_.callsign.empty()) view_.OpenPreferences();
}

void Station::Stop() {
    if (!started_ || stopped_) return;
    stopped_ = true;
    runner_->StopWorker(Worker::Transmit);
    runner_->StopWorker(Worker::Demodulation);
    if (!playback_devices_.Empty()) playback_.Close();
    if (!capture_devices_.Empty()) CloseCapture();
    keying_.Unkey();
    keying_.ClosePort();
}

void Station::EnumerateDevices() {
    capture_devices_.Assign(sound_.CaptureDevices());
    if (capture_devices_.Empty()) {
        Log(LogKind::Error, "Error! DirectSound audio capture devices not found!");
        capture_ready_ = false;
    }
    playback_devices_.Assign(sound_.PlaybackDevices());
    if (playback_devices_.Empty()) {
        Log(LogKind::Error, "Error! DirectSound audio playback devices not found!");
        playback_ready_ = false;
    }
}

void Station::OpenPlayback() {
    const audio::SoundDeviceInfo* device = playback_devices_.Selected();
    if (!device) return;
    if (playback_.Open(sound_, *device)) {
        Log(LogKind::System, "Start playback audio succesfull...");
        playback_ready_ = true;
    } else {
        Log(LogKind::Error, "Error! Can't start playback!");
        playback_ready_ = false;
    }
}

void Station::OpenCapture() {
    const audio::SoundDeviceInfo* device = capture_devices_.Selected();
    if (!device) return;
    if (capture_.Create(sound_, *device) == audio::AudioCapture::OpenResult::Ok) {
        runner_->StartWorker(Worker::Capture);
        capture_worker_running_ = true;
        capture_.BeginLooping();
        Log(LogKind::System, "Start capture audio succesfull...");
        capture_ready_ = true;
        capture_fault_logged_ = false;
        return;
    }
    if (!capture_.HasObject()) Log(LogKind::Error, "Error! Can't start capture audio!");
    if (!capture_.HasBuffer()) Log(LogKind::Error, "Error! Can't create capture audio buffer!");
    capture_ready_ = false;
}

void Station::CloseCapture() {
    if (capture_.HasBuffer()) {
        capture_.StopBuffer();
        if (capture_worker_running_) runner_->StopWorker(Worker::Capture);
        capture_worker_running_ = false;
    }
    capture_.Release();
}

void Station::ApplyModulationType(int modem_type, std::uint32_t modem_type2) {
    const int carrier = modem_type == 1 ? 1500 : 1800;
    tx_carrier_.store(carrier, std::memory_order_relaxed);
    output_.rx_carrier.store(carrier, std::memory_order_relaxed);
    modem_type_.store(modem_type, std::memory_order_relaxed);
    settings_.modem_type = static_cast<std::uint32_t>(modem_type);
    settings_.modem_type2 = modem_type2;
    playback_rate_.store(settings_.PlaybackRate(), std::memory_order_relaxed);
    playback_card_rate_.store(settings_.PlaybackCardRate(), std::memory_order_relaxed);
    feed_.SetRingStep(audio::RingStepFor(modem_type));
}

void Station::ApplyLinkSettings() {
    link::LinkSettings ls;
    ls.own_callsign = settings_.callsign;
    ls.modem_type = static_cast<int>(settings_.modem_type);
    ls.auto_connect = link::AutoAcceptFromSetting(settings_.autoconnect);
    ls.auto_receive = link::AutoAcceptFromSetting(settings_.autoreceive);
    ls.limited_attempts = limited_attempts_;
    ls.connect_attempts = attempts_;
    session_->ApplySettings(ls);
}

void Station::UpdateCaption() {
    caption_ = std::string(kApplicationTitle) + " - " + settings_.callsign;
    const audio::SoundDeviceInfo* capture = capture_devices_.Selected();
    caption_ += capture ? " - capture on " + capture->description : std::string(" - NO CAPTURE AUDIO");
    const audio::SoundDeviceInfo* playback = playback_devices_.Selected();
    caption_ += playback ? " - playback on " + playback->description : std::string(" - NO PLAYBACK AUDIO");
    view_.SetCaption(caption_);
}

void Station::UpdateConnectAvailable() {
    const bool available = playback_ready_ && capture_ready_ && keying_.PortReady();
    session_->SetConnectAvailable(available);
    if (available) Log(LogKind::System, "Wait connection...");
}

// ---- the user-interface thread's steps

void Station::UiStep() {
    PumpStep();
    const std::uint32_t now = clock_.NowMs();
    const link::Question q = session_->OpenQuestion();
    if (q != question_seen_) {
        question_seen_ = q;
        question_tick_ = now;
    } else if (q != link::Question::None && now - question_tick_ >= 1000) {
        question_tick_ += 1000;
        session_->QuestionTimerTick();
        question_seen_ = session_->OpenQuestion();
    }
    if (now - last_refresh_ >= 200) {
        last_refresh_ = now;
        Timer1Timer();
    }
}

bool Station::PumpStep() {
    if (!session_->ReadyForBlock()) return false;
    link::ReceivedBlock block;
    if (!blocks_.Pop(block)) return false;
    session_->HandleReceivedBlock(block);
    ++blocks_handled_;
    return true;
}

void Station::Timer1Timer() {
    session_->StatusRefresh();
    ReportFaults();
}

// What was refused when full and what failed in a device, logged once per episode.
void Station::ReportFaults() {
    ReportDrops(ring_.Dropped(), ring_drops_, "Error! Receiver fell behind the sound card: ", " samples dropped!");
    ReportDrops(blocks_.Dropped(), block_drops_, "Error! Received block queue full: ", " blocks dropped!");
    if (!capture_fault_logged_ && capture_worker_running_) {
        if (const std::string fault = capture_.Fault(); !fault.empty()) {
            Log(LogKind::Error, "Error! Capture audio failed: " + fault);
            capture_fault_logged_ = true;
        }
    }
}

// One line when a drop counter starts to grow; the next only after a refresh in which it did not.
void Station::ReportDrops(std::uint64_t count, DropWatch& watch, std::string_view before, std::string_view after) {
    const bool growing = count != watch.seen;
    if (growing && !watch.growing)
        Log(LogKind::Error, std::string(before) + std::to_string(count - watch.seen) + std::string(after));
    watch.growing = growing;
    watch.seen = count;
}

void Station::Log(LogKind kind, std::string_view text) { view_.AppendLog(kind, text); }

// ---- commands

bool Station::Connect(std::string_view callsign) {
    if (!session_->CommandEnabled(link::Command::Connect)) return false;
    session_->ConnectTo(callsign);
    return true;
}

bool Station::Disconnect() {
    if (!session_->CommandEnabled(link::Command::Disconnect)) return false;
    session_->Disconnect1Click();
    return true;
}

bool Station::SendFile() {
    if (!session_->CommandEnabled(link::Command::SendFile)) return false;
    session_->SendFileClick();
    return true;
}

bool Station::StopTransfer() {
    if (!session_->CommandEnabled(link::Command::StopTransfer)) return false;
    session_->StopTransferClick();
    return true;
}

bool Station::Say(std::string_view text) { return session_->ChatEnter(text); }

bool Station::Answer(bool accept) {
    if (session_->OpenQuestion() == link::Question::None) return false;
    session_->AnswerQuestion(accept);
    question_seen_ = session_->OpenQuestion();
    return true;
}

// ---- Preferences

PreferencesChoice Station::CurrentPreferences() const {
    PreferencesChoice c;
    c.callsign = settings_.callsign;
    c.line = keying_.Settings().line;
    c.use_port = keying_.Settings().use_port;
    c.port_number = keying_.Settings().port_number;
    c.port_device = keying_.Settings().device;
    c.use_sse2 = settings_.use_sse2 != 0 && processor_feature_ != 0;
    c.autoconnect = settings_.autoconnect;
    c.autoreceive = settings_.autoreceive;
    c.limited_attempts = limited_attempts_;
    c.attempts = attempts_;
    c.colours = {settings_.color_sys, settings_.color_err, settings_.color_own, settings_.color_abon};
    c.capture_selected = capture_devices_.selected;
    c.playback_selected = playback_devices_.selected;
    c.modem_type = settings_.modem_type;
    c.modem_type2 = settings_.modem_type2;
    c.corr_freqc = settings_.corr_freqc;
    c.corr_freqp = settings_.corr_freqp;
    c.corr_freqp1 = settings_.corr_freqp1;
    c.tx_carrier = tx_carrier_.load(std::memory_order_relaxed);
    c.rx_carrier = output_.rx_carrier.load(std::memory_order_relaxed);
    return c;
}

void Station::ApplyPreferences(const PreferencesChoice& c) {
    store_.Open();
    settings_.callsign = c.callsign;
    store_.WriteString("CALLSIGN", c.callsign);
    if (c.line != keying_.Settings().line) {
        keying_.SetLine(c.line);
        settings_.dtr_or_rts = c.line == audio::KeyLine::Rts ? 1 : 0;
        store_.WriteNumber("DTR_OR_RTS", settings_.dtr_or_rts);
        keying_.Unkey();
    }
    const audio::KeyingSettings& k = keying_.Settings();
    if (c.use_port != k.use_port || c.port_number != k.port_number || c.port_device != k.device) {
        keying_.SetMethod(c.use_port, c.port_number, c.port_device);
        settings_.use_com_port = c.use_port ? 1 : 0;
        settings_.com_port_number = static_cast<std::uint32_t>(c.port_number);
        settings_.com_port_device = c.port_device;
        store_.WriteNumber("USE_COM_PORT", settings_.use_com_port);
        store_.WriteNumber("COM_PORT_NUMBER", settings_.com_port_number);
        store_.WriteString("COM_PORT_DEVICE", settings_.com_port_device);
        keying_.OpenControlPort(view_);
    }
    settings_.use_sse2 = c.use_sse2 ? 1 : 0;
    store_.WriteNumber("USE_SSE2", settings_.use_sse2);
    wanted_simd_.store(c.use_sse2 && processor_feature_ != 0 ? 1 : 0, std::memory_order_release);
    settings_.autoconnect = c.autoconnect;
    settings_.autoreceive = c.autoreceive;
    store_.WriteNumber("AUTOCONNECT", c.autoconnect);
    store_.WriteNumber("AUTORECEIVE", c.autoreceive);
    limited_attempts_ = c.limited_attempts;
    attempts_ = std::clamp(c.attempts, link::kMinConnectAttempts, link::kMaxConnectAttempts);
    settings_.color_sys = c.colours[0];
    settings_.color_err = c.colours[1];
    settings_.color_own = c.colours[2];
    settings_.color_abon = c.colours[3];
    store_.WriteNumber("COLOR_SYS", c.colours[0]);
    store_.WriteNumber("COLOR_ERR", c.colours[1]);
    store_.WriteNumber("COLOR_OWN", c.colours[2]);
    store_.WriteNumber("COLOR_ABON", c.colours[3]);
    const bool type_changed = c.modem_type != settings_.modem_type;
    if (c.capture_selected != capture_devices_.selected || type_changed) {
        capture_devices_.selected = c.capture_selected;
        if (const auto* d = capture_devices_.Selected()) settings_.capture_device = d->description;
        store_.WriteString("CaptureDevice", settings_.capture_device);
        if (!capture_devices_.Empty()) {
            CloseCapture();
            OpenCapture();
        }
    }
    if (c.playback_selected != playback_devices_.selected || type_changed) {
        playback_devices_.selected = c.playback_selected;
        if (const auto* d = playback_devices_.Selected()) settings_.playback_device = d->description;
        store_.WriteString("PlaybackDevice", settings_.playback_device);
        if (!playback_devices_.Empty()) {
            playback_.Close();
            OpenPlayback();
        }
    }
    settings_.corr_freqc = c.corr_freqc;
    settings_.corr_freqp = c.corr_freqp;
    settings_.corr_freqp1 = c.corr_freqp1;
    ApplyModulationType(static_cast<int>(c.modem_type), c.modem_type2);
    tx_carrier_.store(c.tx_carrier, std::memory_order_relaxed);
    output_.rx_carrier.store(c.rx_carrier, std::memory_order_relaxed);
    output_.card_rate.store(static_cast<int>(c.corr_freqc), std::memory_order_relaxed);
    store_.WriteNumber("MODEM_TYPE", settings_.modem_type);
    store_.WriteNumber("MODEM_TYPE2", settings_.modem_type2);
    store_.WriteNumber("CORR_FREQC", settings_.corr_freqc);
    store_.WriteNumber("CORR_FREQP", settings_.corr_freqp);
    store_.WriteNumber("CORR_FREQP1", settings_.corr_freqp1);
    store_.Close();
    UpdateCaption();
    ApplyLinkSettings();
    UpdateConnectAvailable();
}

void Station::SetCaptureCardRate(std::uint32_t hz) {
    settings_.corr_freqc = hz;
    output_.card_rate.store(static_cast<int>(hz), std::memory_order_relaxed);
}

void Station::SetRxCarrier(int hz) { output_.rx_carrier.store(std::clamp(hz, 0, 3999), std::memory_order_relaxed); }

void Station::SetPlayback(std::uint32_t modem_type2, std::uint32_t corr_freqp, std::uint32_t corr_freqp1) {
    settings_.modem_type2 = modem_type2;
    settings_.corr_freqp = corr_freqp;
    settings_.corr_freqp1 = corr_freqp1;
    playback_rate_.store(settings_.PlaybackRate(), std::memory_order_relaxed);
    playback_card_rate_.store(settings_.PlaybackCardRate(), std::memory_order_relaxed);
}

void Station::SetLogColour(int kind, std::uint32_t colour) {
    switch (kind) {
        case 0: settings_.color_sys = colour; break;
        case 1: settings_.color_err = colour; break;
        case 2: settings_.color_own = colour; break;
        case 3: settings_.color_abon = colour; break;
        default: break;
    }
}

// ---- worker steps

void Station::CaptureStep() noexcept { capture_.Step(keying_.ReceiveEnabled()); }

void Station::DemodulationStep() noexcept {
    const bool want_simd = wanted_simd_.load(std::memory_order_acquire) != 0;
    if (want_simd != simd_active_.load(std::memory_order_relaxed)) {
        receivers_[0]->SelectKernels(want_simd);
        simd_active_.store(want_simd, std::memory_order_relaxed);
    }
    modem::SerialToneReceiver& rx = *receivers_[modem_type_.load(std::memory_order_relaxed) == 1 ? 1 : 0];
    pipeline_.Step(ring_, rx, output_, *session_);
}

void Station::SchedulerPass() { session_->SchedulerPass(); }

StationHealth Station::Health() const noexcept {
    return {ring_.Dropped(), blocks_.Dropped(), sender_->Stopped()};
}

link::BurstSender& Station::Sender() noexcept { return *sender_; }

bool Station::UsingSimdKernels() const noexcept { return simd_active_.load(std::memory_order_relaxed); }

}  // namespace kavra::station
