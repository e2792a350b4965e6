#include "app/form_request.h"

namespace kavra::app {

TForm4::TForm4(DesktopStation&, QWidget* parent) : QDialog(parent) {}

}  // namespace kavra::app
