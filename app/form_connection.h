// TForm3 (placeholder: the window comes next).
#pragma once

#include <QDialog>

#include "app/desktop_station.h"

namespace kavra::app {

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent);
};

}  // namespace kavra::app
