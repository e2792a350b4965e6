// The station without a peer: settings on start-up and on OK, start-up without devices, keying
// order and port messages, a burst whose playback never ends.
#include <gtest/gtest.h>

#include "link/simulation.h"
#include "station/station.h"
#include "station/transcript_view.h"
#include "station/virtual_time.h"
#include "tests/station/station_fakes.h"

namespace kavra::station {
namespace {

using testing::FakeSound;
using testing::RecordingPorts;
using testing::RecordingRunner;

struct Bench {
    explicit Bench(std::string callsign = "TEST1") {
        if (!callsign.empty()) store.strings["CALLSIGN"] = callsign;
    }
    Station& Make() {
        station = std::make_unique<Station>(StationPorts{clock, view, sound, ports, store, files},
                                            StationOverrides{std::nullopt, std::nullopt, 1u});
        return *station;
    }
    Station& Started() {
        Make().Start(runner);
        return *station;
    }
    std::uint64_t now = 0;
    VirtualClock clock{now};
    TranscriptView view{[this] { return now; }};
    FakeSound sound;
    RecordingPorts ports;
    MemorySettingsStore store;
    link::MemoryFileSystem files;
    RecordingRunner runner;
    std::unique_ptr<Station> station;
};

TEST(StationSettings, FirstRunWritesEveryDefaultAndOpensPreferences) {
    Bench b("");
    Station& s = b.Started();
    for (const char* name : {"CALLSIGN", "MODEM_TYPE2", "MODEM_TYPE", "CORR_FREQC", "CORR_FREQP", "CORR_FREQP1",
                             "USE_COM_PORT", "COM_PORT_NUMBER", "DTR_OR_RTS", "USE_SSE2", "AUTOCONNECT", "AUTORECEIVE",
                             "COLOR_SYS", "COLOR_ERR", "COLOR_OWN", "COLOR_ABON", "CaptureDevice", "PlaybackDevice",
                             "COM_PORT_DEVICE"})
        EXPECT_EQ(b.store.writes[name], 1) << name;
    EXPECT_EQ(b.store.numbers["MODEM_TYPE"], 1u);
    EXPECT_EQ(b.store.numbers["USE_SSE2"], 1u);  // the processor-feature word
    EXPECT_EQ(b.store.numbers["COLOR_OWN"], 0x800000u);
    EXPECT_EQ(b.store.strings["CaptureDevice"], "No selected device");
    EXPECT_EQ(s.ModemType(), 1);
    EXPECT_EQ(s.TxCarrier(), 1500);
    EXPECT_EQ(s.Output().rx_carrier.load(), 1500);
    EXPECT_TRUE(b.view.PreferencesRequested());
    EXPECT_TRUE(b.files.folders.count("RECEIVED"));
    EXPECT_EQ(b.runner.events, (std::vector<std::string>{"start 0", "start 1", "start 2"}));
}

TEST(StationSettings, ReadRangesAndDeviceChoice) {
    Bench b;
    b.store.numbers["MODEM_TYPE"] = 7;
    b.store.numbers["DTR_OR_RTS"] = 3;
    b.store.strings["CALLSIGN"] = "TOOLONGCS";
    b.store.strings["PlaybackDevice"] = "Card B";
    b.store.strings["CaptureDevice"] = "Card C";
    Station& s = b.Started();
    EXPECT_EQ(s.ModemType(), 1);
    EXPECT_EQ(b.store.numbers["MODEM_TYPE"], 7u);  // not rewritten
    EXPECT_EQ(s.Keying().Settings().line, audio::KeyLine::Rts);
    EXPECT_EQ(s.Settings().callsign, "");
    EXPECT_EQ(b.store.strings["CALLSIGN"], "");  // over 8 characters: missing, the default written
    EXPECT_EQ(s.PlaybackDevices().selected, 1);
    EXPECT_EQ(s.CaptureDevices().selected, 0);     // no exact match: the first
    EXPECT_EQ(b.store.strings["CaptureDevice"], "Card C");  // left as stored
}

TEST(StationStartUp, WithoutDevicesTheStationRunsButCannotConnect) {
    for (const bool no_capture : {true, false}) {
        Bench b;
        (no_capture ? b.sound.capture_devices : b.sound.playback_devices).clear();
        Station& s = b.Started();
        EXPECT_TRUE(b.view.Has(no_capture ? "Error! DirectSound audio capture devices not found!"
                                          : "Error! DirectSound audio playback devices not found!",
                               LineKind::Error));
        EXPECT_NE(s.Caption().find(no_capture ? " - NO CAPTURE AUDIO" : " - NO PLAYBACK AUDIO"), std::string::npos);
        EXPECT_FALSE(s.ConnectEnabled());
        EXPECT_FALSE(b.view.Has("Wait connection..."));
        s.Stop();
        const bool capture_thread_stopped =
            std::find(b.runner.events.begin(), b.runner.events.end(), "stop 0") != b.runner.events.end();
        EXPECT_EQ(capture_thread_stopped, !no_capture);
    }
}

TEST(StationStartUp, CaptionAndDeviceFailures) {
    Bench b;
    b.sound.fail_capture_object = true;
    Station& s = b.Started();
    EXPECT_EQ(s.Caption(), "Kavra-2400 - TEST1 - capture on Card A - playback on Card A");
    EXPECT_TRUE(b.view.Has("Error! Can't start capture audio!"));
    EXPECT_TRUE(b.view.Has("Error! Can't create capture audio buffer!"));
    EXPECT_TRUE(b.view.Has("Start playback audio succesfull..."));
    EXPECT_FALSE(s.ConnectEnabled());
    Bench c;
    c.sound.fail_capture_buffer = true;
    c.sound.fail_playback = true;
    c.Started();
    EXPECT_FALSE(c.view.Has("Error! Can't start capture audio!"));
    EXPECT_TRUE(c.view.Has("Error! Can't create capture audio buffer!"));
    EXPECT_TRUE(c.view.Has("Error! Can't start playback!"));
}

TEST(StationKeying, VoxTouchesNoPortAndThePortLineFollowsTheSetting) {
    Bench vox;
    Station& v = vox.Started();
    v.Sender().KeyTransmitter();
    EXPECT_FALSE(v.Keying().ReceiveEnabled());
    v.Sender().UnkeyTransmitter();
    EXPECT_TRUE(v.Keying().ReceiveEnabled());
    EXPECT_TRUE(vox.ports.events.empty());
    EXPECT_FALSE(vox.view.Has("port"));

    Bench b;
    b.store.numbers["USE_COM_PORT"] = 1;
    b.store.numbers["COM_PORT_NUMBER"] = 1;
    b.store.numbers["DTR_OR_RTS"] = 1;
    Station& s = b.Started();
    EXPECT_TRUE(b.view.Has("Open port COM1: succesfull..."));
    EXPECT_EQ(b.ports.events, (std::vector<std::string>{"open 1", "RTS down"}));
    // Port 1 to 2 (and the line to DTR): close message with port 1, open message with port 2.
    b.ports.events.clear();
    PreferencesChoice c = s.CurrentPreferences();
    c.port_number = 2;
    c.line = audio::KeyLine::Dtr;
    s.ApplyPreferences(c);
    EXPECT_EQ(b.ports.events, (std::vector<std::string>{"DTR down", "close 1", "open 2", "DTR down"}));
    EXPECT_LT(*b.view.FirstLine("Close port COM1:"), *b.view.FirstLine("Open port COM2: succesfull..."));
    b.ports.fail_number = 3;
    c.port_number = 3;
    s.ApplyPreferences(c);
    EXPECT_TRUE(b.view.Has("Error! Can't open port COM3: for control transmitter!", LineKind::Error));
    EXPECT_TRUE(s.ConnectEnabled());  // the port step ran
}

TEST(StationKeying, EveryWayOutLowersAKeyedLineBeforeThePortCloses) {
    Bench b;
    b.store.numbers["USE_COM_PORT"] = 1;
    Station& s = b.Started();
    // Key through the sender as the scheduler does, then close the station mid-burst.
    b.ports.events.clear();
    s.Sender().KeyTransmitter();
    s.Stop();
    EXPECT_EQ(b.ports.events, (std::vector<std::string>{"DTR up", "DTR down", "close 1"}));
}

TEST(StationPreferences, OkWritesInOrderAndReopensOnlyWhatChanged) {
    Bench b;
    b.store.numbers["MODEM_TYPE"] = 0;
    Station& s = b.Started();
    b.sound.opened.clear();
    b.store.writes.clear();
    PreferencesChoice c = s.CurrentPreferences();
    c.colours[0] = 0x123456;
    s.ApplyPreferences(c);
    EXPECT_TRUE(b.sound.opened.empty());  // nothing reopened
    EXPECT_EQ(b.store.numbers["COLOR_SYS"], 0x123456u);
    EXPECT_EQ(b.store.writes.count("CaptureDevice"), 0u);
    c.capture_selected = 1;
    s.ApplyPreferences(c);
    EXPECT_EQ(b.sound.opened, (std::vector<std::string>{"capture:c1"}));
    EXPECT_EQ(b.store.strings["CaptureDevice"], "Card B");
    b.sound.opened.clear();
    c.modem_type = 1;  // a new modem type reopens both directions
    c.modem_type2 = 1;
    s.ApplyPreferences(c);
    EXPECT_EQ(b.sound.opened, (std::vector<std::string>{"capture:c1", "playback:p0"}));
    EXPECT_EQ(s.ModemType(), 1);
    EXPECT_EQ(s.PlaybackRate(), 8000);
    EXPECT_EQ(b.store.numbers["MODEM_TYPE2"], 1u);
    EXPECT_NE(s.Caption().find("capture on Card B"), std::string::npos);
}

TEST(StationPlayback, ABurstThatNeverEndsIsStoppedAndTheRadioUnkeyed) {
    Bench b;
    b.store.numbers["MODEM_TYPE"] = 0;
    b.store.numbers["USE_COM_PORT"] = 1;
    Station& s = b.Started();
    b.ports.events.clear();
    const std::vector<std::uint8_t> burst(65, 0x55);
    const std::uint32_t ms = s.Sender().StartBurst(burst, 4);
    ASSERT_GT(ms, 0u);
    EXPECT_EQ(b.sound.playback.buffers_made, 1);
    EXPECT_EQ(b.sound.playback.last_rate, 48000);
    EXPECT_EQ(b.sound.playback.last_bytes % 2, 0u);
    EXPECT_EQ(ms, b.sound.playback.last_bytes / 2 * 1000 / 48000);
    EXPECT_EQ(s.Sender().StartBurst(burst, 4), 0u);  // the previous burst still plays
    EXPECT_EQ(b.sound.playback.buffers_made, 1);
    b.now += ms + kPlaybackOverrunMs;
    EXPECT_TRUE(s.Sender().IsPlaying());
    b.now += 1;
    EXPECT_FALSE(s.Sender().IsPlaying());
    EXPECT_EQ(s.Health().bursts_stopped, 1u);
    EXPECT_TRUE(b.view.Has("Error! Playback did not end in time", LineKind::Error));
}

// The headless transcript prints one line per event: text from the air (a caller's callsign,
// chat, labels quoting them) must neither move the terminal nor start a line of its own.
TEST(StationTranscript, ControlCharactersFromTheAirAreShownAsUnderscores) {
    std::uint64_t now = 0;
    TranscriptView view{[&now] { return now; }};
    view.AppendChat(link::ChatKind::Abonent, "EV\nIL: \x1b[2Jhi\x07\x7f");
    view.AppendLog(link::LogKind::System, "Connecting to 'A\rB\tC'...");
    view.SetLabel(link::StatusLabel::Connection, "Connected: \x1b]0;X\x07\xC0");
    const std::vector<TranscriptLine> lines = view.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "EV_IL: _[2Jhi__");
    EXPECT_EQ(lines[1].text, "Connecting to 'A_B_C'...");
    EXPECT_EQ(lines[2].text, "connection: Connected: _]0;X_\xD0\x90");  // 1251 text still converted
}

}  // namespace
}  // namespace kavra::station
