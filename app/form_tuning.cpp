#include "app/form_tuning.h"

namespace kavra::app {

TForm7::TForm7(DesktopStation&, QWidget* parent) : QWidget(parent) {}

// PLACEHOLDER (main-window branch): replaced by the tuning window's own.
void TForm7::Refresh() {}

}  // namespace kavra::app
