// Small pieces the windows share: station colours as Qt colours, and number fields that swallow
// Enter.
#pragma once

#include <QColor>

#include <cstdint>

class QWidget;

namespace kavra::app {

// A station colour (24-bit, red in the low byte, blue in the high byte) as a QColor, and back.
QColor StationColour(std::uint32_t bgr);
std::uint32_t StationColourValue(const QColor& colour);

// Enter pressed in `field` does nothing (it neither closes the dialog nor activates a button).
void SwallowEnter(QWidget* field);

}  // namespace kavra::app
