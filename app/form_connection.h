// TForm3 "Connection": the callsign of the station to call, typed or chosen from the abonents'
// callsigns.  "Connect..." is refused while the entry is empty or holds characters the air's
// character set (Windows-1251) cannot carry.
#pragma once

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

#include "app/desktop_station.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace kavra::app {

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent);

    // Offers `callsigns` (Windows-1251, list order), shows the dialog modally and answers the
    // entered callsign as typed (Windows-1251), or nothing when cancelled.
    std::optional<std::string> Ask(const std::vector<std::string>& callsigns);

    // The steps of Ask without the modal loop, for tests: fill the list and empty the entry.
    void Prepare(const std::vector<std::string>& callsigns);
    // The entered text in Windows-1251; nothing when the set cannot hold it.
    std::optional<std::string> Entry() const;

    QComboBox* ComboBox1() const { return combo_box1_; }
    QPushButton* ConnectButton() const { return connect_button_; }
    QPushButton* CancelButton() const { return cancel_button_; }
    QString Hint() const;

    void accept() override;

private:
    QComboBox* combo_box1_ = nullptr;
    QPushButton* connect_button_ = nullptr;
    QPushButton* cancel_button_ = nullptr;
    QLabel* hint_ = nullptr;
};

}  // namespace kavra::app
