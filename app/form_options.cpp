#include "app/form_options.h"

namespace kavra::app {

TFormOptions::TFormOptions(DesktopStation&, QWidget* parent) : QDialog(parent) {}

// PLACEHOLDER (main-window branch): replaced by the Preferences dialog's own.
bool TFormOptions::OptionsClick() { return exec() == QDialog::Accepted; }

}  // namespace kavra::app
