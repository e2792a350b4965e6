// TForm7 (placeholder: the window comes next).
#pragma once

#include <QWidget>

#include "app/desktop_station.h"

namespace kavra::app {

class TForm7 : public QWidget {
    Q_OBJECT
public:
    explicit TForm7(DesktopStation& station, QWidget* parent);
};

}  // namespace kavra::app
