// TForm4: the request dialog (an incoming call, an incoming file, a file to send).  The station
// opens it, counts its "Cancel, Ns" caption down once a second and closes it; the dialog only
// shows that and answers OK or Cancel (also Esc).  While it is open the station holds the
// received blocks.
#pragma once

#include <QDialog>

#include "app/desktop_station.h"

class QLabel;
class QPushButton;

namespace kavra::app {

class QtStationView;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    TForm4(DesktopStation& station, QWidget* parent);

    // Follows the view's question signals (queued, in call order).
    void Attach(QtStationView& view);

    // The view's signals.
    void ShowQuestion(const QString& caption, const QString& text, const QString& cancel_caption);
    void SetCancelCaption(const QString& cancel_caption);
    void CloseQuestion();

    QLabel* TextLabel() const { return label1_; }
    QPushButton* OkButton() const { return ok_button_; }
    QPushButton* CancelButton() const { return cancel_button_; }

    void accept() override;  // OK
    void reject() override;  // Cancel, Esc

private:
    DesktopStation& station_;
    QLabel* label1_ = nullptr;
    QPushButton* ok_button_ = nullptr;
    QPushButton* cancel_button_ = nullptr;
};

}  // namespace kavra::app
