#include "app/form_options.h"

namespace kavra::app {

TFormOptions::TFormOptions(DesktopStation&, QWidget* parent) : QDialog(parent) {}

}  // namespace kavra::app
