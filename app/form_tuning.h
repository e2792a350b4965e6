// TForm7, "Tuning to signal": the spectroscope or the received bytes in one 496 x 184 picture,
// the gain / row scroll bar, the 116 x 116 constellation, the receiver's frequency shift and the
// RX carrier field.  The main window shows and hides it and calls Refresh every 200 ms.
#pragma once

#include <array>

#include <QImage>
#include <QWidget>

#include "app/desktop_station.h"

class QAction;
class QLabel;
class QScrollBar;
class QSpinBox;

namespace kavra::app {

class TForm7 : public QWidget {
    Q_OBJECT
public:
    explicit TForm7(DesktopStation& station, QWidget* parent);
    TForm7(station::Station& station, QWidget* parent);

    // The 200 ms refresh: frequency shift, constellation, spectrum when the buffer is full,
    // received-data rows when the pipeline marked them.
    void Refresh();
    // The Preferences' "Default RX carrier frequency" sets this field (and so the receiver).
    void SetRxCarrierField(int hz);

    // The view menu's two items ("Spectroscop", "Received data").
    void ShowSpectroscope();
    void ShowReceivedData();
    bool SpectroscopeShown() const;

    int Gain() const noexcept { return gain_; }
    int FirstRow() const noexcept { return first_row_; }
    const QImage& Picture() const noexcept { return picture_; }
    const QImage& Constellation() const noexcept { return constellation_; }

signals:
    // Shown or hidden by any means (menu, close box, Escape), for the main window's menu item.
    void visibilityChanged(bool visible);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class PictureBox;

    void Scrolled(int position);
    void DrawSpectrum(const std::array<float, 256>& magnitudes);
    void DrawText();
    void DrawConstellation();

    station::Station& station_;
    QImage picture_;
    QImage constellation_;
    PictureBox* area_ = nullptr;
    PictureBox* constellation_box_ = nullptr;
    QScrollBar* scroll_ = nullptr;
    QLabel* frequency_ = nullptr;
    QLabel* shift_ = nullptr;
    QSpinBox* rx_carrier_ = nullptr;
    QAction* spectroscope_ = nullptr;
    QAction* received_data_ = nullptr;
    int gain_ = 0;
    int first_row_ = 0;
    bool text_view_ = false;  // "Received data" rather than "Spectroscop"
    bool placed_ = false;
};

}  // namespace kavra::app
