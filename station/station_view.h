// What the station shows and asks: the link layer's user interface plus the window caption and
// the Preferences dialog that start-up opens when no callsign is set.  The desktop window and the
// headless terminal implement it.
#pragma once

#include <string_view>

#include "link/ports.h"

namespace kavra::station {

class StationView : public link::UserInterface {
public:
    virtual void SetCaption(std::string_view caption) = 0;
    // Start-up found no callsign: open the Preferences dialog as its menu item does.
    virtual void OpenPreferences() = 0;
};

}  // namespace kavra::station
