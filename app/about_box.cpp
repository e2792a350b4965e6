#include "app/about_box.h"

namespace kavra::app {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {}

}  // namespace kavra::app
