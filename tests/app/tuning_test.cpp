// The tuning window: the FFT over the bit-reversed buffer against a plain DFT, the gain, marker
// and constellation arithmetic, the received-data rows, and the window's refresh over a station
// on test doubles.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "app/form_tuning.h"
#include "app/spectroscope.h"
#include "link/simulation.h"
#include "station/station.h"
#include "station/transcript_view.h"
#include "station/virtual_time.h"
#include "tests/station/station_fakes.h"

namespace kavra::app {
namespace {

FftValues BitReversed(const std::vector<float>& samples) {
    FftValues v{};
    for (std::uint32_t n = 0; n < kFftPoints; ++n) v[audio::Reverse9Bits(n)] = {samples[n], 0.0f};
    return v;
}

TEST(Spectroscope, TransformMatchesAPlainDft) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(-32768.0f, 32767.0f);
    std::vector<float> x(kFftPoints);
    for (float& s : x) s = level(random);
    FftValues values = BitReversed(x);
    TransformBitReversed(values);
    double worst = 0.0, peak = 0.0;
    for (int k = 0; k < kFftPoints; ++k) {
        std::complex<double> sum;
        for (int n = 0; n < kFftPoints; ++n)
            sum += static_cast<double>(x[static_cast<std::size_t>(n)]) *
                   std::polar(1.0, -2.0 * std::numbers::pi * k * n / kFftPoints);
        const auto& got = values[static_cast<std::size_t>(k)];
        worst = std::max(worst, std::abs(sum - std::complex<double>(got.re, got.im)));
        peak = std::max(peak, std::abs(sum));
    }
    EXPECT_LT(worst / peak, 1e-5);
}

TEST(Spectroscope, ToneAt1800HzPeaksInItsBin) {
    std::vector<float> x(kFftPoints);
    for (int n = 0; n < kFftPoints; ++n)
        x[static_cast<std::size_t>(n)] = 10000.0f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1800.0 * n / 8000.0));
    const auto m = SpectrumOf(BitReversed(x));
    EXPECT_EQ(std::max_element(m.begin(), m.end()) - m.begin(), 115);  // 1800 / 15.625 = 115.2
}

TEST(Spectroscope, GainScalesTheLineAndTheTopClips) {
    EXPECT_EQ(SpectrumLineHeight(32768.0f, 0), 92);
    EXPECT_EQ(SpectrumLineHeight(32768.0f, 2), 46);
    EXPECT_EQ(SpectrumLineHeight(32768.0f, -2), 184);
    EXPECT_EQ(SpectrumLineHeight(65536.0f, 0), 184);
    EXPECT_EQ(SpectrumLineHeight(1e12f, -25), 184);
    EXPECT_EQ(SpectrumLineHeight(0.0f, 0), 0);
    EXPECT_EQ(SpectrumLineHeight(356.0f, 0), 0);    // 356 * 184 < 65536
    EXPECT_EQ(SpectrumLineHeight(357.0f, 0), 1);
    EXPECT_EQ(SpectrumLineHeight(65536.0f, 25), 7);  // 2621.44 * 184 / 65536
}

TEST(Spectroscope, MarkerMouseAndConstellationPositions) {
    EXPECT_EQ(CarrierMarkerX(1800), 230);
    EXPECT_EQ(CarrierMarkerX(1500), 192);
    EXPECT_EQ(CarrierMarkerX(3999), 511);
    EXPECT_EQ(FrequencyAtX(256), 2000);
    EXPECT_EQ(FrequencyAtX(495), 3867);
    EXPECT_EQ(ConstellationPixel(0, 0).column, 58);
    EXPECT_EQ(ConstellationPixel(10, -20).column, 78);
    EXPECT_EQ(ConstellationPixel(10, -20).row, 48);
    EXPECT_EQ(ConstellationPixel(-500, 500).column, 0);
    EXPECT_EQ(ConstellationPixel(-500, 500).row, 115);
}

TEST(Spectroscope, TextRowsOf100Bytes) {
    pipeline::ReceivedDataView view;
    for (int i = 0; i < 100; ++i) view.Append(static_cast<std::uint8_t>('A' + i % 26));
    EXPECT_EQ(TextRowMaximum(view.Count()), 2);
    auto rows = TextViewRows(view, 0);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[0].size(), 44u);
    EXPECT_EQ(rows[1].size(), 44u);
    EXPECT_EQ(rows[2].size(), 12u);
    EXPECT_TRUE(rows[3].empty());
    EXPECT_EQ(rows[1][0], static_cast<char>('A' + 44 % 26));
    rows = TextViewRows(view, 2);
    EXPECT_EQ(rows[0].size(), 12u);
    EXPECT_TRUE(rows[1].empty());
    EXPECT_EQ(TextRowMaximum(0), 0);
    EXPECT_EQ(TextRowMaximum(44), 1);
}

// A started station on test doubles.
struct TuningBench {
    TuningBench() {
        store.strings["CALLSIGN"] = "TEST1";
        station = std::make_unique<station::Station>(station::StationPorts{clock, view, sound, ports, store, files},
                                                     station::StationOverrides{std::nullopt, 0, 1u});
        station->Start(runner);
    }
    std::uint64_t now = 0;
    station::VirtualClock clock{now};
    station::TranscriptView view{[this] { return now; }};
    testing::FakeSound sound;
    testing::RecordingPorts ports;
    station::MemorySettingsStore store;
    link::MemoryFileSystem files;
    testing::RecordingRunner runner;
    std::unique_ptr<station::Station> station;
};

TEST(TForm7, SpectrumDrawsWhenFullThenHandsTheBufferBack) {
    TuningBench b;
    TForm7 w(*b.station, nullptr);
    audio::SpectrumBuffer& spectrum = b.station->Spectrum();
    for (int n = 0; n < kFftPoints - 1; ++n) spectrum.Put(0);
    w.Refresh();  // not full yet: left alone
    EXPECT_EQ(spectrum.FillIndex(), 511u);
    for (int n = 0; n < 2; ++n) spectrum.Put(20000);
    b.station->Output().freq_offset.store(-7);
    w.Refresh();
    EXPECT_EQ(spectrum.FillIndex(), 0u);
    EXPECT_EQ(w.findChild<QLabel*>("shift")->text(), "-7 Hz");
    const QImage& p = w.Picture();
    EXPECT_EQ(QColor(p.pixel(CarrierMarkerX(1800), 5)), QColor(Qt::red));  // type 0: 1800 Hz
    EXPECT_EQ(QColor(p.pixel(CarrierMarkerX(1800) + 40, 5)), QColor(Qt::black));
    int green = 0;
    for (int x = 0; x < kPictureWidth; ++x)
        for (int y = 0; y < kPictureHeight; ++y) green += QColor(p.pixel(x, y)) == QColor(0, 255, 0);
    EXPECT_GT(green, 100);

    // The carrier field moves the receiver at once and the marker at the next drawing.
    w.findChild<QSpinBox*>("rx_carrier")->setValue(1500);
    EXPECT_EQ(b.station->Output().rx_carrier.load(), 1500);
    for (int n = 0; n < kFftPoints; ++n) spectrum.Put(0);
    w.Refresh();
    EXPECT_EQ(QColor(w.Picture().pixel(192, 100)), QColor(Qt::red));
}

TEST(TForm7, ConstellationPointsAreWhite) {
    TuningBench b;
    TForm7 w(*b.station, nullptr);
    modem::ReceiverOutput& out = b.station->Output();
    for (std::size_t i = 0; i < out.trace_i.size(); ++i) {
        out.trace_i[i].store(30);
        out.trace_q[i].store(-30);
    }
    out.trace_i[0].store(10);
    out.trace_q[0].store(-20);
    w.Refresh();
    EXPECT_EQ(QColor(w.Constellation().pixel(78, 48)), QColor(Qt::white));
    EXPECT_EQ(QColor(w.Constellation().pixel(88, 28)), QColor(Qt::white));
    EXPECT_EQ(QColor(w.Constellation().pixel(58, 58)), QColor(Qt::black));
}

TEST(TForm7, ReceivedDataScrollsOverItsRowsAndFollowsAFrameStart) {
    TuningBench b;
    TForm7 w(*b.station, nullptr);
    auto* scroll = w.findChild<QScrollBar*>("scroll");
    scroll->setValue(-3);
    EXPECT_EQ(w.Gain(), -3);
    pipeline::ReceivedDataView& view = b.station->ReceivedData();
    for (int i = 0; i < 100; ++i) view.Append('x');
    w.ShowReceivedData();
    EXPECT_FALSE(w.SpectroscopeShown());
    EXPECT_EQ(scroll->minimum(), 0);
    EXPECT_EQ(scroll->maximum(), 2);
    EXPECT_EQ(w.FirstRow(), 0);
    scroll->setValue(2);
    EXPECT_EQ(w.FirstRow(), 2);
    // Only the 12 bytes of row 2 are drawn: green in the first row of cells, none in the second.
    auto green_in = [&](int top) {
        int n = 0;
        for (int x = 0; x < kPictureWidth; ++x)
            for (int y = top; y < top + kTextCellHeight; ++y) n += QColor(w.Picture().pixel(x, y)).green() > 128;
        return n;
    };
    EXPECT_GT(green_in(0), 0);
    EXPECT_EQ(green_in(kTextCellHeight), 0);

    // A new frame empties the view: the next refresh brings the maximum back to 0.
    view.Clear();
    view.MarkRefresh(0);
    w.Refresh();
    EXPECT_EQ(scroll->maximum(), 0);
    EXPECT_EQ(w.FirstRow(), 0);

    // Back to the spectroscope: the gain survived.
    w.ShowSpectroscope();
    EXPECT_EQ(scroll->minimum(), -25);
    EXPECT_EQ(scroll->value(), -3);
}

TEST(TForm7, MouseFrequencyAndTheViewMenu) {
    TuningBench b;
    TForm7 w(*b.station, nullptr);
    auto* frequency = w.findChild<QLabel*>("frequency");
    EXPECT_EQ(frequency->text(), "0 Hz");
    QWidget* area = w.findChild<QWidget*>("area");
    QMouseEvent move(QEvent::MouseMove, QPointF(256, 50), area->mapToGlobal(QPointF(256, 50)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(area, &move);
    EXPECT_EQ(frequency->text(), "2000 Hz");
    auto* menu = w.findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    const auto items = menu->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), "Spectroscop");
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), "Received data");
    items[2]->trigger();
    EXPECT_FALSE(w.SpectroscopeShown());
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_TRUE(b.station->ReceivedData().Count() == 0);
    items[0]->trigger();
    EXPECT_TRUE(w.SpectroscopeShown());
    EXPECT_FALSE(items[2]->isChecked());
}

TEST(TForm7, EscapeClosesAndEnterIsSwallowed) {
    TuningBench b;
    QWidget main;
    main.setGeometry(100, 100, 600, 400);
    auto* w = new TForm7(*b.station, &main);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    auto* carrier = w->findChild<QSpinBox*>("rx_carrier");
    carrier->setValue(1234);
    QTest::keyClick(carrier, Qt::Key_Return);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(b.station->Output().rx_carrier.load(), 1234);
    QTest::keyClick(carrier, Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
}

// With KAVRA_SCREENSHOTS=<folder> (under Xvfb): the window with a two-tone spectrum, PNG.
TEST(TForm7, Screenshot) {
    const QString folder = qEnvironmentVariable("KAVRA_SCREENSHOTS");
    if (folder.isEmpty()) GTEST_SKIP() << "KAVRA_SCREENSHOTS not set";
    TuningBench b;
    TForm7 w(*b.station, nullptr);
    modem::ReceiverOutput& out = b.station->Output();
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (std::size_t i = 0; i < out.trace_i.size(); ++i) {  // 8-PSK points with noise
        const double a = 2.0 * std::numbers::pi * static_cast<double>(i % 8) / 8.0;
        out.trace_i[i].store(static_cast<int>(44.0 * std::cos(a) + 3.0 * noise(random)));
        out.trace_q[i].store(static_cast<int>(44.0 * std::sin(a) + 3.0 * noise(random)));
    }
    out.freq_offset.store(12);
    for (int n = 0; n < kFftPoints; ++n)
        b.station->Spectrum().Put(static_cast<std::int16_t>(
            120.0 * std::sin(2.0 * std::numbers::pi * 1800.0 * n / 8000.0) +
            60.0 * std::sin(2.0 * std::numbers::pi * 700.0 * n / 8000.0) + 8.0 * noise(random)));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Refresh();
    QTest::qWait(100);
    EXPECT_TRUE(w.grab().save(folder + "/tuning_spectrum.png"));
    for (int i = 0; i < 300; ++i) b.station->ReceivedData().Append(static_cast<std::uint8_t>("KAVRA2 de KAVRA1 "[i % 17]));
    w.ShowReceivedData();
    QTest::qWait(100);
    EXPECT_TRUE(w.grab().save(folder + "/tuning_text.png"));
}

}  // namespace
}  // namespace kavra::app
