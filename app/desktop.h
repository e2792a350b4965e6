// The desktop program: the seven windows, created at start in their order and kept for the run,
// over one DesktopStation.
#pragma once

#include "app/desktop_station.h"

namespace kavra::app {

class QtStationView;
class TFormMain;
class TFormOptions;
class TForm3;
class TForm4;
class TForm5;
class TAboutBox;
class TForm7;

// The windows, for each other and for tests.
struct DesktopWindows {
    TFormMain* main = nullptr;        // main window
    TFormOptions* options = nullptr;  // Preferences
    TForm3* connection = nullptr;     // Connection dialog
    TForm4* request = nullptr;        // connection / file request dialog
    TForm5* abonents = nullptr;       // abonents list
    TAboutBox* about = nullptr;
    TForm7* tuning = nullptr;         // tuning window
};

// Everything one run of the desktop owns; the windows are created in the constructor, the
// station starts when the main window is first shown and stops when it closes.
class Desktop {
public:
    Desktop(const DesktopOptions& options);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    DesktopWindows& Windows() noexcept { return windows_; }
    DesktopStation& Station() noexcept { return *station_; }
    QtStationView& View() noexcept { return *view_; }
    void Show();
    void CloseMain();

private:
    std::unique_ptr<QtStationView> view_;
    std::unique_ptr<DesktopStation> station_;
    DesktopWindows windows_;
};

// kavra-station without --headless: a QApplication, the windows, the event loop.  Answers the
// exit code.
int RunDesktop(int argc, char** argv, const DesktopOptions& options);

}  // namespace kavra::app
