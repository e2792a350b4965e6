// TAboutBox: the program's About window, shown modally from "&About".  Its contact label turns red
// under the pointer, navy otherwise, and a click opens the user's mail program.
#pragma once

#include <QDialog>
#include <QLabel>

#include "app/desktop_station.h"

namespace kavra::app {

// The contact label: colours on hover, a click asks the desktop for a mail message.
class ContactLabel : public QLabel {
    Q_OBJECT
public:
    ContactLabel(const QString& text, QWidget* parent);
    QColor TextColour() const;

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;  // Label1MouseEnter
    void leaveEvent(QEvent* event) override;       // Label1MouseLeave
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetColour(std::uint32_t bgr);
};

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent);

    ContactLabel* Label1() const { return label1_; }
    static QString ContactAddress();
    // Label1Click: the user's mail program with a new message to the contact address.
    static bool Label1Click();

private:
    ContactLabel* label1_ = nullptr;
};

}  // namespace kavra::app
