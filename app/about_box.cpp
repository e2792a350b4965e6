#include "app/about_box.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/widget_helpers.h"

namespace kavra::app {

namespace {
constexpr std::uint32_t kHoverColour = 0x0000FF;  // red, in the station's blue-green-red order
constexpr std::uint32_t kRestColour = 0x800000;   // navy
}  // namespace

ContactLabel::ContactLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setCursor(Qt::PointingHandCursor);
    setObjectName("Label1");
    SetColour(kRestColour);
}

void ContactLabel::SetColour(std::uint32_t bgr) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, StationColour(bgr));
    setPalette(p);
}

QColor ContactLabel::TextColour() const { return palette().color(QPalette::WindowText); }

void ContactLabel::enterEvent(QEnterEvent* event) {
    SetColour(kHoverColour);
    QLabel::enterEvent(event);
}

void ContactLabel::leaveEvent(QEvent* event) {
    SetColour(kRestColour);
    QLabel::leaveEvent(event);
}

void ContactLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(event);
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutBox");
    setWindowTitle("About");
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(":/icons/station.svg").pixmap(64, 64));
    auto* product = new QLabel("Kavra-2400", this);
    QFont big = product->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    product->setFont(big);
    auto* comments = new QLabel(
        "HF data modem station: chat and file transfer between two stations\n"
        "over a serial-tone 8-PSK modem (2400 and 2000 symbols/s).",
        this);
    label1_ = new ContactLabel(ContactAddress(), this);
    QFont underlined = label1_->font();
    underlined.setUnderline(true);
    label1_->setFont(underlined);
    label1_->setToolTip("Write to the author");
    connect(label1_, &ContactLabel::clicked, this, [] { Label1Click(); });

    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(product);
    text->addWidget(comments);
    text->addSpacing(6);
    text->addWidget(label1_);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString TAboutBox::ContactAddress() { return "kavra2400@example.net"; }

bool TAboutBox::Label1Click() {
    return QDesktopServices::openUrl(QUrl("mailto:" + ContactAddress() + "?subject=Kavra-2400"));
}

}  // namespace kavra::app
