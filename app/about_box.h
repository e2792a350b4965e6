// TAboutBox (placeholder: the window comes next).
#pragma once

#include <QDialog>

#include "app/desktop_station.h"

namespace kavra::app {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent);
};

}  // namespace kavra::app
