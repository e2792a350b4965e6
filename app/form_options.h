// TFormOptions (placeholder: the window comes next).
#pragma once

#include <QDialog>

#include "app/desktop_station.h"

namespace kavra::app {

class TFormOptions : public QDialog {
    Q_OBJECT
public:
    explicit TFormOptions(DesktopStation& station, QWidget* parent);
    // PLACEHOLDER (main-window branch, until the Preferences dialog is merged): shows the dialog
    // modally; true when closed with OK.
    bool OptionsClick();
};

}  // namespace kavra::app
