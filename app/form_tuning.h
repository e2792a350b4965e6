// TForm7 (placeholder: the window comes next).
#pragma once

#include <QWidget>

#include "app/desktop_station.h"

namespace kavra::app {

class TForm7 : public QWidget {
    Q_OBJECT
public:
    explicit TForm7(DesktopStation& station, QWidget* parent);
    // PLACEHOLDER (main-window branch, until the tuning window is merged): the 200 ms refresh.
    void Refresh();
};

}  // namespace kavra::app
