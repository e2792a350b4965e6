#include "app/form_request.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_station_view.h"

namespace kavra::app {

TForm4::TForm4(DesktopStation& station, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), station_(station) {
    setObjectName("Form4");
    // Modal, yet shown without a nested event loop: the station keeps running while it waits.
    setModal(true);

    label1_ = new QLabel(this);
    label1_->setObjectName("Label1");
    label1_->setWordWrap(true);
    QFont bold = label1_->font();
    bold.setBold(true);
    label1_->setFont(bold);
    label1_->setMinimumWidth(300);
    label1_->setTextFormat(Qt::PlainText);

    ok_button_ = new QPushButton("OK", this);
    ok_button_->setDefault(true);
    cancel_button_ = new QPushButton("Cancel, 30s", this);
    cancel_button_->setAutoDefault(false);
    connect(ok_button_, &QPushButton::clicked, this, &TForm4::accept);
    connect(cancel_button_, &QPushButton::clicked, this, &TForm4::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_button_);
    buttons->addWidget(cancel_button_);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label1_);
    layout->addSpacing(8);
    layout->addLayout(buttons);
}

void TForm4::Attach(QtStationView& view) {
    connect(&view, &QtStationView::questionShown, this, &TForm4::ShowQuestion, Qt::QueuedConnection);
    connect(&view, &QtStationView::questionCancelCaptionChanged, this, &TForm4::SetCancelCaption, Qt::QueuedConnection);
    connect(&view, &QtStationView::questionClosed, this, &TForm4::CloseQuestion, Qt::QueuedConnection);
}

void TForm4::ShowQuestion(const QString& caption, const QString& text, const QString& cancel_caption) {
    setWindowTitle(caption);
    label1_->setText(text);
    cancel_button_->setText(cancel_caption);
    adjustSize();
    show();
    raise();
    activateWindow();
    ok_button_->setFocus();
}

void TForm4::SetCancelCaption(const QString& cancel_caption) { cancel_button_->setText(cancel_caption); }

// The station closed the question (answered, refused by the countdown, or the link ended).
void TForm4::CloseQuestion() {
    if (isVisible()) QDialog::done(QDialog::Rejected);
}

void TForm4::accept() {
    QDialog::accept();
    station_.Get().Answer(true);
}

void TForm4::reject() {
    QDialog::reject();
    station_.Get().Answer(false);
}

}  // namespace kavra::app
