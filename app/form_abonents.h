// TForm5 (placeholder: the window comes next).
#pragma once

#include <QDialog>

#include "app/desktop_station.h"

namespace kavra::app {

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(DesktopStation& station, QWidget* parent);
};

}  // namespace kavra::app
