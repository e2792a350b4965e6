#include "app/form_abonents.h"

namespace kavra::app {

TForm5::TForm5(DesktopStation&, QWidget* parent) : QDialog(parent) {}

}  // namespace kavra::app
