#include "platform/qt_settings_store.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kavra::platform {
namespace {

namespace fs = std::filesystem;

class QtSettingsStoreTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kavra-settings-" + std::to_string(::getpid()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path() const { return (dir_ / "sub" / "station.ini").string(); }
    std::string FileText() const {
        std::ifstream in(Path());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir_;
};

TEST_F(QtSettingsStoreTest, ValuesSurviveReopeningWithoutAnApplicationObject) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    std::string every_byte;
    for (int b = 1; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
    {
        QtSettingsStore store(Path());
        store.Open();
        EXPECT_TRUE(fs::exists(Path())) << "the file is created by Open";
        store.WriteString("CALLSIGN", "\xCA\xC0\xC2\xD0\xC0");  // Windows-1251 text
        store.WriteString("HEXLIKE", "\xC0" "ABCDEF09 \xFF" "a");  // escapes followed by hex digits
        store.WriteString("BYTES", every_byte);
        store.WriteString("DIGITS", "12345");
        store.WriteString("EMPTY", "");
        store.WriteString("CaptureDevice", "ALSA: pulse");
        store.WriteNumber("ZERO", 0);
        store.WriteNumber("COLOR_OWN", 0x800000);
        store.WriteNumber("MAX", 4294967295u);
        store.Close();
    }
    QtSettingsStore store(Path());
    store.Open();
    EXPECT_EQ(store.ReadString("CALLSIGN"), "\xCA\xC0\xC2\xD0\xC0");
    EXPECT_EQ(store.ReadString("BYTES"), every_byte);
    EXPECT_EQ(store.ReadString("HEXLIKE"), "\xC0" "ABCDEF09 \xFF" "a");
    EXPECT_EQ(store.ReadString("DIGITS"), "12345");
    EXPECT_EQ(store.ReadString("EMPTY"), "");
    EXPECT_EQ(store.ReadString("CaptureDevice"), "ALSA: pulse");
    EXPECT_EQ(store.ReadNumber("ZERO"), 0u);
    EXPECT_EQ(store.ReadNumber("COLOR_OWN"), 0x800000u);
    EXPECT_EQ(store.ReadNumber("MAX"), 4294967295u);
    // Missing, and the other type.
    EXPECT_EQ(store.ReadString("NOT_THERE"), std::nullopt);
    EXPECT_EQ(store.ReadNumber("NOT_THERE"), std::nullopt);
    EXPECT_EQ(store.ReadNumber("DIGITS"), std::nullopt);
    EXPECT_EQ(store.ReadNumber("CALLSIGN"), std::nullopt);
    EXPECT_EQ(store.ReadString("COLOR_OWN"), std::nullopt);
    // Overwriting with the other type.
    store.WriteNumber("CALLSIGN", 7);
    EXPECT_EQ(store.ReadString("CALLSIGN"), std::nullopt);
    EXPECT_EQ(store.ReadNumber("CALLSIGN"), 7u);
    store.Close();
}

TEST_F(QtSettingsStoreTest, ReadsAHandWrittenFile) {
    fs::create_directories(fs::path(Path()).parent_path());
    std::ofstream(Path()) << "CALLSIGN=KAVRA1\n"
                             "MODEM_TYPE=0\n"
                             "CORR_FREQC=48010\n"
                             "CaptureDevice=ALSA: pulse\n"
                             "PlaybackDevice=\"ALSA: pulse\"\n"
                             "NEGATIVE=-1\n"
                             "TOO_BIG=4294967296\n"
                             "HEX=0x10\n"
                             "CYRILLIC=\xD0\x96\n";  // UTF-8, beyond one byte per character
    QtSettingsStore store(Path());
    store.Open();
    EXPECT_EQ(store.ReadString("CALLSIGN"), "KAVRA1");
    EXPECT_EQ(store.ReadNumber("MODEM_TYPE"), 0u);
    EXPECT_EQ(store.ReadNumber("CORR_FREQC"), 48010u);
    EXPECT_EQ(store.ReadString("CaptureDevice"), "ALSA: pulse");
    EXPECT_EQ(store.ReadString("PlaybackDevice"), "ALSA: pulse");
    EXPECT_EQ(store.ReadNumber("NEGATIVE"), std::nullopt);
    EXPECT_EQ(store.ReadNumber("TOO_BIG"), std::nullopt);
    EXPECT_EQ(store.ReadNumber("HEX"), std::nullopt);
    EXPECT_EQ(store.ReadString("CYRILLIC"), std::nullopt);

    // Writing keeps what was there.
    store.WriteNumber("MODEM_TYPE", 1);
    store.Close();
    const std::string text = FileText();
    EXPECT_NE(text.find("MODEM_TYPE=1"), std::string::npos) << text;
    EXPECT_NE(text.find("CORR_FREQC=48010"), std::string::npos) << text;
}

TEST_F(QtSettingsStoreTest, TheUserStoreIsOneFileInTheConfigFolder) {
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    QtSettingsStore store;
    store.Open();
    store.WriteNumber("MODEM_TYPE", 1);
    store.Close();
    EXPECT_EQ(store.Location(), (dir_ / "Kavra_Modem.conf").string());
    EXPECT_TRUE(fs::exists(dir_ / "Kavra_Modem.conf"));
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace kavra::platform
