#include "app/form_tuning.h"

namespace kavra::app {

TForm7::TForm7(DesktopStation&, QWidget* parent) : QWidget(parent) {}

}  // namespace kavra::app
