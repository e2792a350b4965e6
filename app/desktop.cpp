#include "app/desktop.h"

#include <QApplication>
#include <QMessageBox>

#include "app/about_box.h"
#include "app/form_abonents.h"
#include "app/form_connection.h"
#include "app/form_main.h"
#include "app/form_options.h"
#include "app/form_request.h"
#include "app/form_tuning.h"
#include "app/qt_station_view.h"

namespace kavra::app {

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

int RunDesktop(int argc, char** argv, const DesktopOptions& options) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Kavra-2400");
    QApplication::setApplicationDisplayName("Kavra-2400");
    try {
        Desktop desktop(options);
        desktop.Show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Kavra-2400", QString::fromStdString(e.what()));
        return 1;
    }
}

}  // namespace kavra::app
