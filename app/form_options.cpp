#include "app/form_options.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/form_tuning.h"
#include "app/qt_station_view.h"
#include "app/widget_helpers.h"

namespace kavra::app {

namespace {

constexpr char kAutoConnectHint[] =
    "Checked - allow autoconnect with all abonents, grayed - allow autoconnect with abonents from privileged list";
constexpr char kAutoReceiveHint[] =
    "Checked - allow autoreceive all files, grayed - allow autoreceive files for abonents from privileged list";
constexpr std::array<const char*, 4> kColourNames{"System Messages", "Error Messages", "User Messages",
                                                  "Abonent Messages"};


Qt::CheckState ToCheckState(std::uint32_t v) {
    return v == 2 ? Qt::Checked : v == 1 ? Qt::PartiallyChecked : Qt::Unchecked;
}
std::uint32_t FromCheckState(Qt::CheckState s) { return s == Qt::Checked ? 2u : s == Qt::PartiallyChecked ? 1u : 0u; }

QCheckBox* ThreeStateBox(const char* text, const char* name, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setTristate(true);
    return box;
}

int CarrierFor(int type) { return type == 1 ? 1500 : 1800; }

}  // namespace

TFormOptions::TFormOptions(DesktopStation& station, QWidget* parent) : TFormOptions(station.Get(), parent) {}

TFormOptions::TFormOptions(station::Station& station, QWidget* parent) : QDialog(parent), station_(station) {
    setWindowTitle("Options");
    setModal(true);
    pages_ = new QTabWidget(this);
    pages_->addTab(BuildConnectionPage(), "Connection");
    pages_->addTab(BuildModulationPage(), "Modulation");
    pages_->addTab(BuildHardwarePage(), "Hardware");
    pages_->addTab(BuildTransmitterPage(), "Transmitter Control");
    pages_->addTab(BuildColorsPage(), "Colors");

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QSpinBox* TFormOptions::NumberField(const char* name, int minimum, int maximum) {
    auto* field = new QSpinBox(this);
    field->setObjectName(name);
    field->setRange(minimum, maximum);
    field->setMinimumWidth(90);
    SwallowEnter(field);
    return field;
}

QWidget* TFormOptions::BuildConnectionPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel("Your CALLSIGN for connecting", page));
    callsign_ = new QLineEdit(page);
    callsign_->setObjectName("callsign");
    callsign_->setMaxLength(8);
    layout->addWidget(callsign_);
    autoconnect_ = ThreeStateBox("Enable AutoConnect", "autoconnect", page);
    autoconnect_->setToolTip(kAutoConnectHint);
    autoreceive_ = ThreeStateBox("Enable AutoReceive", "autoreceive", page);
    autoreceive_->setToolTip(kAutoReceiveHint);
    autotranseive_ = ThreeStateBox("Enable AutoTranseive", "autotranseive", page);
    autotranseive_->setEnabled(false);
    for (QCheckBox* box : {autoconnect_, autoreceive_, autotranseive_}) layout->addWidget(box);

    unlimited_ = new QRadioButton("Unlimited count connecnting attempts", page);
    unlimited_->setObjectName("unlimited");
    limited_ = new QRadioButton("Limited count connecting attempts", page);
    limited_->setObjectName("limited");
    limited_->setChecked(true);
    auto* group = new QButtonGroup(page);
    group->addButton(unlimited_);
    group->addButton(limited_);
    layout->addWidget(unlimited_);
    layout->addWidget(limited_);
    auto* row = new QHBoxLayout;
    attempts_label_ = new QLabel("Connecting attempts count", page);
    attempts_ = NumberField("attempts", 1, 10);
    attempts_->setValue(5);
    row->addWidget(attempts_label_);
    row->addWidget(attempts_);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    connect(unlimited_, &QRadioButton::toggled, this, [this] { AttemptsChosen(); });
    return page;
}

QWidget* TFormOptions::BuildModulationPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* type_box = new QGroupBox("Modulation type", page);
    auto* type_layout = new QVBoxLayout(type_box);
    modulation_ = new QButtonGroup(page);
    auto* type0 = new QRadioButton("MIL-STD-188-11A - band 0,3-3,3 kHz - 2400 baud - carrier 1800 Hz", type_box);
    auto* type1 = new QRadioButton("Non-standart - band 0,3-2,7 kHz - 2000 baud - carrier 1500 Hz", type_box);
    type0->setObjectName("modulation0");
    type1->setObjectName("modulation1");
    modulation_->addButton(type0, 0);
    modulation_->addButton(type1, 1);
    // Starts with no choice, so that the first setting runs the handler too.
    modulation_->setExclusive(true);
    type_layout->addWidget(type0);
    type_layout->addWidget(type1);
    layout->addWidget(type_box);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    tx_carrier_ = NumberField("tx_carrier", 1, 4000);
    rx_carrier_ = NumberField("rx_carrier", 1, 4000);
    tx_carrier_->setValue(1800);
    rx_carrier_->setValue(1800);
    play_frequency_ = new QComboBox(page);
    play_frequency_->setObjectName("play_frequency");
    play_frequency_->addItems({"48000 Hz", "8000 Hz"});
    play_frequency_->setEnabled(false);
    form->addRow("Default TX carrier frequency", tx_carrier_);
    form->addRow("Default RX carrier frequency", rx_carrier_);
    form->addRow("Non-standart mode    play frequency", play_frequency_);
    layout->addLayout(form);
    layout->addStretch(1);

    connect(modulation_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on) ModulationTypeChosen(id);
    });
    connect(play_frequency_, &QComboBox::currentIndexChanged, this, &TFormOptions::PlayFrequencyChosen);
    connect(rx_carrier_, &QSpinBox::valueChanged, this, &TFormOptions::RxCarrierChanged);
    return page;
}

QWidget* TFormOptions::BuildHardwarePage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel("DirectSound audio capture device for INPUT", page));
    capture_ = new QComboBox(page);
    capture_->setObjectName("capture");
    layout->addWidget(capture_);
    layout->addWidget(new QLabel("DirectSound audio playback device for OUTPUT", page));
    playback_ = new QComboBox(page);
    playback_->setObjectName("playback");
    layout->addWidget(playback_);
    for (QComboBox* list : {capture_, playback_}) {
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list->setMinimumContentsLength(36);
    }

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    rx_card_ = NumberField("rx_card", 1, 999999);
    tx_card_ = NumberField("tx_card", 1, 999999);
    rx_card_->setValue(48000);
    tx_card_->setValue(48000);
    form->addRow("RX real card frequency", rx_card_);
    form->addRow("TX real card frequency", tx_card_);
    layout->addLayout(form);
    sse2_ = new QCheckBox("Use SSE2 optimization", page);
    sse2_->setObjectName("sse2");
    sse2_->setToolTip("Usage SSE2 feature will reduce CPU utilization");
    turbo_ = new QCheckBox("Use turbo-equalization", page);
    turbo_->setObjectName("turbo");
    turbo_->setEnabled(false);
    layout->addWidget(sse2_);
    layout->addWidget(turbo_);
    layout->addStretch(1);

    connect(rx_card_, &QSpinBox::valueChanged, this,
            [this](int hz) { station_.SetCaptureCardRate(static_cast<std::uint32_t>(hz)); });
    connect(tx_card_, &QSpinBox::valueChanged, this, &TFormOptions::TxCardFrequencyChanged);
    return page;
}

QWidget* TFormOptions::BuildTransmitterPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* method_box = new QGroupBox("Transmitter control method", page);
    auto* method_layout = new QVBoxLayout(method_box);
    method_ = new QButtonGroup(page);
    auto* vox = new QRadioButton("No control (VOX transceiver)", method_box);
    auto* com = new QRadioButton("Use COM port", method_box);
    vox->setObjectName("vox");
    com->setObjectName("com");
    vox->setChecked(true);
    method_->addButton(vox, 0);
    method_->addButton(com, 1);
    method_layout->addWidget(vox);
    method_layout->addWidget(com);
    layout->addWidget(method_box);

    auto* grid = new QGridLayout;
    port_label_ = new QLabel("Used COM port number", page);
    port_number_ = NumberField("port_number", 1, 255);
    device_label_ = new QLabel("Device (optional):", page);
    port_device_ = new QLineEdit(page);
    port_device_->setObjectName("port_device");
    port_device_->setPlaceholderText("/dev/ttyUSB0");
    port_device_->setToolTip("A serial device used instead of the port number, e.g. /dev/ttyUSB0");
    grid->addWidget(port_label_, 0, 0);
    grid->addWidget(port_number_, 0, 1);
    grid->addWidget(device_label_, 1, 0);
    grid->addWidget(port_device_, 1, 1);
    layout->addLayout(grid);

    auto* line_box = new QGroupBox("COM port line", page);
    line_box_ = line_box;
    auto* line_layout = new QHBoxLayout(line_box);
    dtr_ = new QRadioButton("DTR", line_box);
    rts_ = new QRadioButton("RTS", line_box);
    dtr_->setObjectName("dtr");
    rts_->setObjectName("rts");
    dtr_->setChecked(true);
    line_layout->addWidget(dtr_);
    line_layout->addWidget(rts_);
    line_layout->addStretch(1);
    layout->addWidget(line_box);
    layout->addStretch(1);

    connect(method_, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) ControlMethodChosen();
    });
    ControlMethodChosen();
    return page;
}

QWidget* TFormOptions::BuildColorsPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    for (int kind = 0; kind < 4; ++kind) {
        auto* sample = new QPushButton(kColourNames[static_cast<std::size_t>(kind)], page);
        sample->setObjectName(QString("colour%1").arg(kind));
        sample->setFlat(true);
        sample->setAutoDefault(false);
        samples_[static_cast<std::size_t>(kind)] = sample;
        layout->addWidget(sample);
        connect(sample, &QPushButton::clicked, this, [this, kind] { PickColour(kind); });
    }
    layout->addStretch(1);
    colours_ = station_.CurrentPreferences().colours;
    for (int kind = 0; kind < 4; ++kind) ShowColour(kind);
    return page;
}

// ---- loading and the choice

void TFormOptions::Load() {
    const station::PreferencesChoice c = station_.CurrentPreferences();
    callsign_->setText(QtStationView::FromAir(c.callsign));
    autoconnect_->setCheckState(ToCheckState(c.autoconnect));
    autoreceive_->setCheckState(ToCheckState(c.autoreceive));
    autotranseive_->setCheckState(Qt::Unchecked);
    (c.limited_attempts ? limited_ : unlimited_)->setChecked(true);
    attempts_->setValue(c.attempts);
    AttemptsChosen();

    corr_freqp_ = c.corr_freqp;
    corr_freqp1_ = c.corr_freqp1;
    modem_type2_ = c.modem_type2;
    {
        const QSignalBlocker block(play_frequency_);
        play_frequency_->setCurrentIndex(c.modem_type2 == 1 ? 1 : 0);
    }
    {
        const QSignalBlocker block(rx_card_);
        rx_card_->setValue(static_cast<int>(c.corr_freqc));
    }
    const int type = c.modem_type == 1 ? 1 : 0;
    if (modulation_->checkedId() == type) ModulationTypeChosen(type);
    else modulation_->button(type)->setChecked(true);
    tx_carrier_->setValue(c.tx_carrier);
    rx_carrier_->setValue(c.rx_carrier);

    capture_->clear();
    for (const auto& d : station_.CaptureDevices().devices) capture_->addItem(QString::fromStdString(d.description));
    playback_->clear();
    for (const auto& d : station_.PlaybackDevices().devices) playback_->addItem(QString::fromStdString(d.description));
    RestoreDeviceLists();
    sse2_->setEnabled(station_.ProcessorFeature() != 0);
    sse2_->setChecked(c.use_sse2 && station_.ProcessorFeature() != 0);
    turbo_->setChecked(false);

    method_->button(c.use_port ? 1 : 0)->setChecked(true);
    port_number_->setValue(c.port_number);
    port_device_->setText(QString::fromStdString(c.port_device));
    (c.line == audio::KeyLine::Rts ? rts_ : dtr_)->setChecked(true);
    ControlMethodChosen();

    colours_ = c.colours;
    for (int kind = 0; kind < 4; ++kind) ShowColour(kind);
    loaded_ = true;
}

station::PreferencesChoice TFormOptions::Choice() const {
    station::PreferencesChoice c;
    c.callsign = QtStationView::ToAir(callsign_->text()).value_or(std::string());
    c.line = rts_->isChecked() ? audio::KeyLine::Rts : audio::KeyLine::Dtr;
    c.use_port = method_->checkedId() == 1;
    c.port_number = port_number_->value();
    c.port_device = port_device_->text().trimmed().toStdString();
    c.use_sse2 = station_.ProcessorFeature() != 0 && sse2_->isChecked();
    c.autoconnect = FromCheckState(autoconnect_->checkState());
    c.autoreceive = FromCheckState(autoreceive_->checkState());
    c.limited_attempts = limited_->isChecked();
    c.attempts = attempts_->value();
    c.colours = colours_;
    c.capture_selected = capture_->currentIndex();
    c.playback_selected = playback_->currentIndex();
    c.modem_type = static_cast<std::uint32_t>(ModulationType());
    c.modem_type2 = modem_type2_;
    c.corr_freqc = static_cast<std::uint32_t>(rx_card_->value());
    c.corr_freqp = corr_freqp_;
    c.corr_freqp1 = corr_freqp1_;
    c.tx_carrier = tx_carrier_->value();
    c.rx_carrier = rx_carrier_->value();
    return c;
}

int TFormOptions::ModulationType() const { return modulation_->checkedId() == 1 ? 1 : 0; }

bool TFormOptions::OptionsClick() {
    if (!loaded_) Load();
    const bool idle = station_.Session().LinkIdle();
    for (int page = 0; page < 4; ++page) pages_->widget(page)->setEnabled(idle);
    pages_->widget(4)->setEnabled(true);
    if (exec() != QDialog::Accepted) {
        RestoreDeviceLists();
        return false;
    }
    station_.ApplyPreferences(Choice());
    return true;
}

void TFormOptions::done(int result) {
    if (callsign_->text().isEmpty()) {
        QMessageBox box(QMessageBox::NoIcon, "Attention", "Please, enter CALLSIGN.", QMessageBox::Ok, this);
        box.exec();
        return;
    }
    if (!QtStationView::ToAir(callsign_->text())) {
        QMessageBox box(QMessageBox::NoIcon, "Attention",
                        "The CALLSIGN may hold only characters of the Windows-1251 set (Latin, Cyrillic, digits).",
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    QDialog::done(result);
}

// ---- handlers that act at once

void TFormOptions::ModulationTypeChosen(int type) {
    tx_carrier_->setValue(CarrierFor(type));
    rx_carrier_->setValue(CarrierFor(type));
    play_frequency_->setEnabled(type == 1);
    const QSignalBlocker block(tx_card_);
    tx_card_->setValue(static_cast<int>(type == 1 && modem_type2_ == 1 ? corr_freqp1_ : corr_freqp_));
}

void TFormOptions::PlayFrequencyChosen(int index) {
    modem_type2_ = index == 1 ? 1u : 0u;
    {
        const QSignalBlocker block(tx_card_);
        tx_card_->setValue(static_cast<int>(modem_type2_ == 1 ? corr_freqp1_ : corr_freqp_));
    }
    station_.SetPlayback(modem_type2_, corr_freqp_, corr_freqp1_);
}

void TFormOptions::TxCardFrequencyChanged(int hz) {
    if (ModulationType() == 1 && modem_type2_ == 1) corr_freqp1_ = static_cast<std::uint32_t>(hz);
    else corr_freqp_ = static_cast<std::uint32_t>(hz);
    station_.SetPlayback(modem_type2_, corr_freqp_, corr_freqp1_);
}

void TFormOptions::RxCarrierChanged(int hz) {
    // Through the tuning window's field when there is one, as the receiver's carrier lives there.
    if (parentWidget())
        if (auto* tuning = parentWidget()->findChild<TForm7*>(QString(), Qt::FindDirectChildrenOnly))
            tuning->SetRxCarrierField(hz);
    station_.SetRxCarrier(hz);
}

void TFormOptions::ControlMethodChosen() {
    const bool port = method_->checkedId() == 1;
    for (QWidget* w : {static_cast<QWidget*>(port_label_), static_cast<QWidget*>(port_number_),
                       static_cast<QWidget*>(device_label_), static_cast<QWidget*>(port_device_), line_box_})
        w->setEnabled(port);
}

void TFormOptions::AttemptsChosen() {
    const bool limited = limited_->isChecked();
    attempts_label_->setEnabled(limited);
    attempts_->setEnabled(limited);
}

void TFormOptions::ShowColour(int kind) {
    const QColor c = StationColour(colours_[static_cast<std::size_t>(kind)]);
    samples_[static_cast<std::size_t>(kind)]->setStyleSheet(
        QString("QPushButton { background: white; color: %1; border: 1px solid gray; padding: 4px; }").arg(c.name()));
}

void TFormOptions::PickColour(int kind) {
    const QColor chosen = QColorDialog::getColor(StationColour(colours_[static_cast<std::size_t>(kind)]), this);
    if (chosen.isValid()) ColourChosen(kind, StationColourValue(chosen));
}

void TFormOptions::ColourChosen(int kind, std::uint32_t colour) {
    colours_[static_cast<std::size_t>(kind)] = colour;
    station_.SetLogColour(kind, colour);
    ShowColour(kind);
}

void TFormOptions::RestoreDeviceLists() {
    capture_->setCurrentIndex(station_.CaptureDevices().selected);
    playback_->setCurrentIndex(station_.PlaybackDevices().selected);
}

}  // namespace kavra::app
