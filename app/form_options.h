// TFormOptions, "Options": the Preferences dialog's five pages.  Its handlers that act at once
// forward to the station; OK hands the whole choice to Station::ApplyPreferences.
#pragma once

#include <array>
#include <cstdint>

#include <QDialog>

#include "app/desktop_station.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace kavra::app {

class TFormOptions : public QDialog {
    Q_OBJECT
public:
    explicit TFormOptions(DesktopStation& station, QWidget* parent);
    TFormOptions(station::Station& station, QWidget* parent);

    // The menu item "&Preferences...": pages by link state, modal dialog, Cancel restores the
    // device lists, OK applies.  Answers whether OK was pressed.
    bool OptionsClick();

    // Fills the controls from the station (the first OptionsClick does it; afterwards the
    // controls keep what the user left in them, as the live home of their values).
    void Load();
    // The controls as the station takes them on OK.
    station::PreferencesChoice Choice() const;
    // A colour sample's dialog confirmed: the station's colour and the sample change at once.
    void ColourChosen(int kind, std::uint32_t colour);

    QTabWidget* Pages() const noexcept { return pages_; }

protected:
    // Refuses to close (OK, Cancel, close box) while the callsign is empty.
    void done(int result) override;

private:
    QWidget* BuildConnectionPage();
    QWidget* BuildModulationPage();
    QWidget* BuildHardwarePage();
    QWidget* BuildTransmitterPage();
    QWidget* BuildColorsPage();
    QSpinBox* NumberField(const char* name, int minimum, int maximum);

    void ModulationTypeChosen(int type);
    void PlayFrequencyChosen(int index);
    void TxCardFrequencyChanged(int hz);
    void RxCarrierChanged(int hz);
    void ControlMethodChosen();
    void AttemptsChosen();
    void ShowColour(int kind);
    void PickColour(int kind);
    void RestoreDeviceLists();
    int ModulationType() const;

    station::Station& station_;
    bool loaded_ = false;

    QTabWidget* pages_ = nullptr;
    // Connection
    QLineEdit* callsign_ = nullptr;
    QCheckBox* autoconnect_ = nullptr;
    QCheckBox* autoreceive_ = nullptr;
    QCheckBox* autotranseive_ = nullptr;
    QRadioButton* unlimited_ = nullptr;
    QRadioButton* limited_ = nullptr;
    QLabel* attempts_label_ = nullptr;
    QSpinBox* attempts_ = nullptr;
    // Modulation
    QButtonGroup* modulation_ = nullptr;
    QSpinBox* tx_carrier_ = nullptr;
    QSpinBox* rx_carrier_ = nullptr;
    QComboBox* play_frequency_ = nullptr;
    // Hardware
    QComboBox* capture_ = nullptr;
    QComboBox* playback_ = nullptr;
    QSpinBox* rx_card_ = nullptr;
    QSpinBox* tx_card_ = nullptr;
    QCheckBox* sse2_ = nullptr;
    QCheckBox* turbo_ = nullptr;
    // Transmitter Control
    QButtonGroup* method_ = nullptr;
    QLabel* port_label_ = nullptr;
    QSpinBox* port_number_ = nullptr;
    QLabel* device_label_ = nullptr;
    QLineEdit* port_device_ = nullptr;
    QWidget* line_box_ = nullptr;
    QRadioButton* dtr_ = nullptr;
    QRadioButton* rts_ = nullptr;
    // Colors
    std::array<QPushButton*, 4> samples_{};
    std::array<std::uint32_t, 4> colours_{};

    // Card rates the TX field shows and edits by modulation type and play frequency.
    std::uint32_t modem_type2_ = 0;
    std::uint32_t corr_freqp_ = 48000;
    std::uint32_t corr_freqp1_ = 8000;
};

}  // namespace kavra::app
