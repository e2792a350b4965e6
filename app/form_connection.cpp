#include "app/form_connection.h"

namespace kavra::app {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {}

}  // namespace kavra::app
