#include "app/form_connection.h"

#include <QComboBox>
#include <QCompleter>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_station_view.h"

namespace kavra::app {

TForm3::TForm3(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("Form3");
    setWindowTitle("Connection");
    setModal(true);

    auto* label = new QLabel("Enter CALLSIGN your abonent", this);
    combo_box1_ = new QComboBox(this);
    combo_box1_->setObjectName("ComboBox1");
    combo_box1_->setEditable(true);
    combo_box1_->setInsertPolicy(QComboBox::NoInsert);
    // The list drops down while typing, offering the callsigns that begin with the entry.
    combo_box1_->completer()->setCompletionMode(QCompleter::PopupCompletion);
    combo_box1_->completer()->setCaseSensitivity(Qt::CaseSensitive);
    label->setBuddy(combo_box1_);

    hint_ = new QLabel(this);
    hint_->setStyleSheet("color: #b00000");
    hint_->setWordWrap(true);
    hint_->hide();

    connect_button_ = new QPushButton("Connect...", this);
    connect_button_->setDefault(true);
    connect_button_->setAutoDefault(true);
    cancel_button_ = new QPushButton("Cancel", this);
    cancel_button_->setAutoDefault(false);
    connect(connect_button_, &QPushButton::clicked, this, &TForm3::accept);
    connect(cancel_button_, &QPushButton::clicked, this, &TForm3::reject);
    connect(combo_box1_, &QComboBox::editTextChanged, hint_, &QLabel::hide);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(connect_button_);
    buttons->addWidget(cancel_button_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(combo_box1_);
    layout->addWidget(hint_);
    layout->addLayout(buttons);
    setMinimumWidth(280);
}

void TForm3::Prepare(const std::vector<std::string>& callsigns) {
    combo_box1_->clear();
    for (const std::string& callsign : callsigns) combo_box1_->addItem(QtStationView::FromAir(callsign));
    combo_box1_->setCurrentIndex(-1);
    combo_box1_->setEditText(QString());
    hint_->hide();
    combo_box1_->setFocus();
}

std::optional<std::string> TForm3::Entry() const { return QtStationView::ToAir(combo_box1_->currentText()); }

QString TForm3::Hint() const { return hint_->isHidden() ? QString() : hint_->text(); }

void TForm3::accept() {
    const QString text = combo_box1_->currentText();
    if (text.isEmpty()) return;  // an empty callsign cannot be confirmed
    if (!Entry()) {
        hint_->setText("Only characters of the Windows-1251 set can go on the air.");
        hint_->show();
        return;
    }
    QDialog::accept();
}

std::optional<std::string> TForm3::Ask(const std::vector<std::string>& callsigns) {
    Prepare(callsigns);
    if (exec() != QDialog::Accepted) return std::nullopt;
    return Entry();
}

}  // namespace kavra::app
