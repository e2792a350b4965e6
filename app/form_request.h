// TForm4 (placeholder: the window comes next).
#pragma once

#include <QDialog>

#include "app/desktop_station.h"

namespace kavra::app {

class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(DesktopStation& station, QWidget* parent);
};

}  // namespace kavra::app
