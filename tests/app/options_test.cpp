// The Preferences dialog over a station on test doubles with its settings in an INI file: the
// three-state boxes, Enter in number fields, the callsign refusal, the OK sequence, the handlers
// that act at once and the pages a link locks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

#include "app/form_options.h"
#include "app/form_tuning.h"
#include "link/simulation.h"
#include "platform/qt_settings_store.h"
#include "station/station.h"
#include "station/transcript_view.h"
#include "station/virtual_time.h"
#include "tests/station/station_fakes.h"

namespace kavra::app {
namespace {

// A station on test doubles whose settings live in an INI file.
struct OptionsBench {
    explicit OptionsBench(const std::function<void(platform::QtSettingsStore&)>& stored = {}) {
        ini = dir.filePath("kavra.ini").toStdString();
        {
            platform::QtSettingsStore seed(ini);
            seed.Open();
            seed.WriteString("CALLSIGN", "TEST1");
            if (stored) stored(seed);
            seed.Close();
        }
        store = std::make_unique<platform::QtSettingsStore>(ini);
        station = std::make_unique<station::Station>(station::StationPorts{clock, view, sound, ports, *store, files},
                                                     station::StationOverrides{std::nullopt, std::nullopt, 1u});
        station->Start(runner);
    }
    // What the file holds now, read afresh.
    std::optional<std::uint32_t> Number(const char* name) {
        platform::QtSettingsStore s(ini);
        s.Open();
        return s.ReadNumber(name);
    }
    std::optional<std::string> String(const char* name) {
        platform::QtSettingsStore s(ini);
        s.Open();
        return s.ReadString(name);
    }

    QTemporaryDir dir;
    std::string ini;
    std::uint64_t now = 0;
    station::VirtualClock clock{now};
    station::TranscriptView view{[this] { return now; }};
    testing::FakeSound sound;
    testing::RecordingPorts ports;
    std::unique_ptr<platform::QtSettingsStore> store;
    link::MemoryFileSystem files;
    testing::RecordingRunner runner;
    std::unique_ptr<station::Station> station;
};

// Runs OptionsClick, doing `inside` while the dialog is open and closing it with OK or Cancel.
bool RunDialog(TFormOptions& d, bool ok, const std::function<void()>& inside = {}) {
    QTimer::singleShot(0, &d, [&d, ok, inside] {
        if (inside) inside();
        ok ? d.accept() : d.reject();
    });
    return d.OptionsClick();
}

template <class T>
T* Find(const QObject& parent, const char* name) {
    T* w = parent.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class ThreeState : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ThreeState, AutoBoxesShowTheStoredStateAndWriteItBack) {
    const std::uint32_t connect = GetParam(), receive = (GetParam() + 1) % 3;
    OptionsBench b([&](platform::QtSettingsStore& s) {
        s.WriteNumber("AUTOCONNECT", connect);
        s.WriteNumber("AUTORECEIVE", receive);
    });
    TFormOptions d(*b.station, nullptr);
    d.Load();
    const Qt::CheckState states[] = {Qt::Unchecked, Qt::PartiallyChecked, Qt::Checked};
    EXPECT_EQ(Find<QCheckBox>(d, "autoconnect")->checkState(), states[connect]);
    EXPECT_EQ(Find<QCheckBox>(d, "autoreceive")->checkState(), states[receive]);
    EXPECT_FALSE(Find<QCheckBox>(d, "autotranseive")->isEnabled());
    ASSERT_TRUE(RunDialog(d, true));
    EXPECT_EQ(b.Number("AUTOCONNECT"), connect);
    EXPECT_EQ(b.Number("AUTORECEIVE"), receive);
    // And a change made in the box goes out as its state.
    ASSERT_TRUE(RunDialog(d, true, [&] { Find<QCheckBox>(d, "autoconnect")->setCheckState(states[(connect + 1) % 3]); }));
    EXPECT_EQ(b.Number("AUTOCONNECT"), (connect + 1) % 3);
}

INSTANTIATE_TEST_SUITE_P(Options, ThreeState, ::testing::Values(0u, 1u, 2u));

TEST(Options, EnterInANumberFieldDoesNotCloseTheDialog) {
    OptionsBench b;
    TFormOptions d(*b.station, nullptr);
    d.Load();
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    for (const char* name : {"attempts", "tx_carrier", "rx_carrier", "rx_card", "tx_card", "port_number"}) {
        auto* field = Find<QSpinBox>(d, name);
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Enter);
        EXPECT_TRUE(d.isVisible()) << name;
    }
    // Enter elsewhere is the default button.
    QTest::keyClick(Find<QLineEdit>(d, "callsign"), Qt::Key_Return);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST(Options, AnEmptyCallsignKeepsTheDialogOpen) {
    OptionsBench b;
    TFormOptions d(*b.station, nullptr);
    d.Load();
    d.show();
    Find<QLineEdit>(d, "callsign")->clear();
    QString text, title;
    int boxes = 0;
    auto answer_box = [&] {
        auto* box = d.findChild<QMessageBox*>();
        if (!box) return;
        ++boxes;
        text = box->text();
        title = box->windowTitle();
        box->accept();
    };
    for (auto close : {&QDialog::accept, &QDialog::reject}) {
        QTimer::singleShot(0, &d, answer_box);
        (d.*close)();
        EXPECT_TRUE(d.isVisible());
    }
    QTimer::singleShot(0, &d, answer_box);
    d.close();  // the close box
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(boxes, 3);
    EXPECT_EQ(text, "Please, enter CALLSIGN.");
    EXPECT_EQ(title, "Attention");
    Find<QLineEdit>(d, "callsign")->setText("KAVRA1");
    d.accept();
    EXPECT_FALSE(d.isVisible());
}

TEST(Options, OkWritesTheChoiceAndReopensOnlyTheChangedDevice) {
    OptionsBench b([](platform::QtSettingsStore& s) {
        s.WriteNumber("MODEM_TYPE", 0);
        s.WriteString("CaptureDevice", "Card A");
        s.WriteString("PlaybackDevice", "Card A");
    });
    TFormOptions d(*b.station, nullptr);
    b.sound.opened.clear();
    ASSERT_TRUE(RunDialog(d, true, [&] {
        Find<QLineEdit>(d, "callsign")->setText("KAVRA9");
        Find<QComboBox>(d, "capture")->setCurrentIndex(1);
        Find<QRadioButton>(d, "rts")->setChecked(true);
        Find<QRadioButton>(d, "com")->setChecked(true);
        Find<QSpinBox>(d, "port_number")->setValue(3);
        Find<QLineEdit>(d, "port_device")->setText("/dev/ttyUSB0");
    }));
    EXPECT_EQ(b.sound.opened, (std::vector<std::string>{"capture:c1"}));
    EXPECT_EQ(b.String("CaptureDevice"), "Card B");
    EXPECT_EQ(b.String("PlaybackDevice"), "Card A");
    EXPECT_EQ(b.String("CALLSIGN"), "KAVRA9");
    EXPECT_EQ(b.Number("DTR_OR_RTS"), 1u);
    EXPECT_EQ(b.Number("USE_COM_PORT"), 1u);
    EXPECT_EQ(b.Number("COM_PORT_NUMBER"), 3u);
    EXPECT_EQ(b.String("COM_PORT_DEVICE"), "/dev/ttyUSB0");
    EXPECT_EQ(b.Number("MODEM_TYPE"), 0u);
    EXPECT_EQ(b.station->Settings().callsign, "KAVRA9");

    // Cancel puts the device lists back and changes nothing.
    b.sound.opened.clear();
    EXPECT_FALSE(RunDialog(d, false, [&] { Find<QComboBox>(d, "playback")->setCurrentIndex(1); }));
    EXPECT_EQ(Find<QComboBox>(d, "playback")->currentIndex(), 0);
    EXPECT_TRUE(b.sound.opened.empty());

    // A new modulation type reopens both.
    ASSERT_TRUE(RunDialog(d, true, [&] { Find<QRadioButton>(d, "modulation1")->setChecked(true); }));
    EXPECT_EQ(b.sound.opened, (std::vector<std::string>{"capture:c1", "playback:p0"}));
    EXPECT_EQ(b.Number("MODEM_TYPE"), 1u);
    EXPECT_EQ(b.station->ModemType(), 1);
}

TEST(Options, ModulationTypeSetsCarriersPlayListAndCardFields) {
    OptionsBench b([](platform::QtSettingsStore& s) {
        s.WriteNumber("MODEM_TYPE", 1);
        s.WriteNumber("MODEM_TYPE2", 1);
        s.WriteNumber("CORR_FREQC", 48010);
        s.WriteNumber("CORR_FREQP", 47990);
        s.WriteNumber("CORR_FREQP1", 8002);
    });
    QWidget main;
    auto* d = new TFormOptions(*b.station, &main);
    auto* tuning = new TForm7(*b.station, &main);
    d->Load();
    auto* tx = Find<QSpinBox>(*d, "tx_carrier");
    auto* rx = Find<QSpinBox>(*d, "rx_carrier");
    auto* play = Find<QComboBox>(*d, "play_frequency");
    auto* tx_card = Find<QSpinBox>(*d, "tx_card");
    EXPECT_EQ(tx->value(), 1500);
    EXPECT_EQ(rx->value(), 1500);
    EXPECT_TRUE(play->isEnabled());
    EXPECT_EQ(play->currentIndex(), 1);
    EXPECT_EQ(Find<QSpinBox>(*d, "rx_card")->value(), 48010);
    EXPECT_EQ(tx_card->value(), 8002);

    Find<QRadioButton>(*d, "modulation0")->setChecked(true);
    EXPECT_EQ(tx->value(), 1800);
    EXPECT_EQ(rx->value(), 1800);
    EXPECT_FALSE(play->isEnabled());
    EXPECT_EQ(tx_card->value(), 47990);
    EXPECT_EQ(b.station->ModemType(), 1);  // the station's type changes only on OK
    EXPECT_EQ(b.station->Output().rx_carrier.load(), 1800);
    EXPECT_EQ(tuning->findChild<QSpinBox*>("rx_carrier")->value(), 1800);

    // Type 1 at 8000 Hz: the TX card field is CORR_FREQP1; at 48000 Hz it is CORR_FREQP.
    Find<QRadioButton>(*d, "modulation1")->setChecked(true);
    EXPECT_EQ(tx_card->value(), 8002);
    tx_card->setValue(7999);
    EXPECT_EQ(b.station->PlaybackRate(), 8000);  // the station is of type 1 with 8000 Hz
    play->setCurrentIndex(0);
    EXPECT_EQ(b.station->PlaybackRate(), 48000);  // at once
    EXPECT_EQ(tx_card->value(), 47990);
    tx_card->setValue(48003);
    station::PreferencesChoice c = d->Choice();
    EXPECT_EQ(c.corr_freqp1, 7999u);
    EXPECT_EQ(c.corr_freqp, 48003u);
    EXPECT_EQ(c.modem_type2, 0u);

    // RX card frequency and RX carrier act at once.
    Find<QSpinBox>(*d, "rx_card")->setValue(47995);
    EXPECT_EQ(b.station->Output().card_rate.load(), 47995);
    rx->setValue(1234);
    EXPECT_EQ(b.station->Output().rx_carrier.load(), 1234);
    EXPECT_EQ(tuning->findChild<QSpinBox*>("rx_carrier")->value(), 1234);
}

TEST(Options, EnableRulesAndTheSse2Box) {
    OptionsBench b;
    TFormOptions d(*b.station, nullptr);
    d.Load();
    auto* port = Find<QSpinBox>(d, "port_number");
    EXPECT_FALSE(port->isEnabled());
    Find<QRadioButton>(d, "com")->setChecked(true);
    EXPECT_TRUE(port->isEnabled());
    EXPECT_TRUE(Find<QRadioButton>(d, "rts")->isEnabled());
    Find<QRadioButton>(d, "vox")->setChecked(true);
    EXPECT_FALSE(Find<QRadioButton>(d, "rts")->isEnabled());
    auto* attempts = Find<QSpinBox>(d, "attempts");
    EXPECT_TRUE(attempts->isEnabled());
    Find<QRadioButton>(d, "unlimited")->setChecked(true);
    EXPECT_FALSE(attempts->isEnabled());
    EXPECT_TRUE(Find<QCheckBox>(d, "sse2")->isEnabled());  // the feature word is 1 here
    EXPECT_FALSE(Find<QCheckBox>(d, "turbo")->isEnabled());
}

TEST(Options, ColourActsAtOnceButIsStoredOnlyByOk) {
    OptionsBench b;
    TFormOptions d(*b.station, nullptr);
    EXPECT_FALSE(RunDialog(d, false, [&] { d.ColourChosen(2, 0x123456); }));
    EXPECT_EQ(b.station->Settings().color_own, 0x123456u);
    EXPECT_EQ(b.Number("COLOR_OWN"), 0x800000u);
    ASSERT_TRUE(RunDialog(d, true));
    EXPECT_EQ(b.Number("COLOR_OWN"), 0x123456u);
}

TEST(Options, ALinkInProgressLeavesOnlyColors) {
    OptionsBench b;
    TFormOptions d(*b.station, nullptr);
    b.station->Session().ConnectTo("KAVRA2");
    ASSERT_FALSE(b.station->Session().LinkIdle());
    std::vector<bool> enabled;
    ASSERT_TRUE(RunDialog(d, true, [&] {
        for (int i = 0; i < 5; ++i) enabled.push_back(d.Pages()->widget(i)->isEnabled());
    }));
    EXPECT_EQ(enabled, (std::vector<bool>{false, false, false, false, true}));
    // OK on the locked pages writes back what they show.
    EXPECT_EQ(b.Number("USE_SSE2"), 1u);
    EXPECT_EQ(b.Number("AUTOCONNECT"), 2u);
}

// With KAVRA_SCREENSHOTS=<folder> (under Xvfb): every page of the dialog, PNG.
TEST(Options, Screenshot) {
    const QString folder = qEnvironmentVariable("KAVRA_SCREENSHOTS");
    if (folder.isEmpty()) GTEST_SKIP() << "KAVRA_SCREENSHOTS not set";
    OptionsBench b;
    TFormOptions d(*b.station, nullptr);
    RunDialog(d, false, [&] {
        for (int i = 0; i < 5; ++i) {
            d.Pages()->setCurrentIndex(i);
            QTest::qWait(50);
            EXPECT_TRUE(d.grab().save(folder + QString("/options_%1.png").arg(i)));
        }
    });
}

}  // namespace
}  // namespace kavra::app
