// TFormMain: the main window (toolbar, menus, system log, chat output and input, status bar,
// gauges, the 200 ms refresh).  Start-up runs at its first show, shutdown when it closes.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include "app/desktop.h"

namespace kavra::app {

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    TFormMain(DesktopStation& station, QtStationView& view, DesktopWindows& windows);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    DesktopStation& station_;
    QtStationView& view_;
    DesktopWindows& windows_;
    QTimer pump_;    // the received-block pump and station timers, every 1 ms
    bool started_ = false;
};

}  // namespace kavra::app
