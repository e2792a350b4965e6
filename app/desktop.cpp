#include "app/desktop.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <atomic>
#include <csignal>

#include "app/about_box.h"
#include "app/form_abonents.h"
#include "app/form_connection.h"
#include "app/form_main.h"
#include "app/form_options.h"
#include "app/form_request.h"
#include "app/form_tuning.h"
#include "app/qt_station_view.h"

namespace kavra::app {

namespace {
std::atomic<bool> g_stop_requested{false};  // set by SIGINT / SIGTERM, polled by the window
extern "C" void OnStopSignal(int) { g_stop_requested.store(true); }
}  // namespace

Desktop::Desktop(const DesktopOptions& options)
    : view_(std::make_unique<QtStationView>()), station_(std::make_unique<DesktopStation>(options, *view_)) {
    // In this order, one of each for the whole run.
    windows_.main = new TFormMain(*station_, *view_, windows_);
    windows_.options = new TFormOptions(*station_, windows_.main);
    windows_.connection = new TForm3(windows_.main);
    windows_.request = new TForm4(*station_, windows_.main);
    windows_.abonents = new TForm5(*station_, windows_.main);
    windows_.about = new TAboutBox(windows_.main);
    windows_.tuning = new TForm7(*station_, windows_.main);
}

Desktop::~Desktop() {
    station_->Stop();
    delete windows_.main;  // the other windows are its children
}

void Desktop::Show() { windows_.main->show(); }

void Desktop::CloseMain() { windows_.main->close(); }

int RunDesktop(int argc, char** argv, const DesktopOptions& options) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Kavra-2400");
    QApplication::setApplicationDisplayName("Kavra-2400");
    try {
        Desktop desktop(options);
        // Ctrl-C or SIGTERM close the window as its close box would: shutdown runs and the radio
        // is unkeyed before the port closes.
        std::signal(SIGINT, OnStopSignal);
        std::signal(SIGTERM, OnStopSignal);
        QTimer signal_poll;
        QObject::connect(&signal_poll, &QTimer::timeout, [&] {
            if (g_stop_requested.load()) desktop.CloseMain();
        });
        signal_poll.start(100);
        desktop.Show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Kavra-2400", QString::fromStdString(e.what()));
        return 1;
    }
}

}  // namespace kavra::app
