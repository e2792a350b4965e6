#include "app/form_main.h"

#include <QCloseEvent>

namespace kavra::app {

TFormMain::TFormMain(DesktopStation& station, QtStationView& view, DesktopWindows& windows)
    : station_(station), view_(view), windows_(windows) {
    setWindowTitle("Kavra-2400");
    resize(640, 480);
    connect(&pump_, &QTimer::timeout, this, [this] { station_.Tick(); });
}

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (started_) return;
    started_ = true;
    station_.Start();
    pump_.start(1);
}

void TFormMain::closeEvent(QCloseEvent* event) {
    pump_.stop();
    station_.Stop();
    event->accept();
}

}  // namespace kavra::app
