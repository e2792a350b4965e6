#include "app/form_tuning.h"

#include <functional>

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/qt_station_view.h"
#include "app/spectroscope.h"
#include "app/widget_helpers.h"

namespace kavra::app {

namespace {

constexpr QRgb kGreen = 0xFF00FF00u;
constexpr QRgb kWhite = 0xFFFFFFFFu;

QFont PictureFont() {
    QFont font("Liberation Mono");
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(16);
    return font;
}

}  // namespace

// Shows an off-screen picture as it is; reports mouse moves and right-clicks.
class TForm7::PictureBox : public QWidget {
public:
    PictureBox(const QImage& image, QWidget* parent) : QWidget(parent), image_(image) {
        setFixedSize(image.size());
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    std::function<void(int)> mouse_moved;
    std::function<void(QPoint)> menu_requested;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(0, 0, image_);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (mouse_moved) mouse_moved(event->position().toPoint().x());
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        if (menu_requested) menu_requested(event->globalPos());
    }

private:
    const QImage& image_;
};

TForm7::TForm7(DesktopStation& station, QWidget* parent) : TForm7(station.Get(), parent) {}

TForm7::TForm7(station::Station& station, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      station_(station),
      picture_(kPictureWidth, kPictureHeight, QImage::Format_RGB32),
      constellation_(kConstellationSize, kConstellationSize, QImage::Format_RGB32) {
    setWindowTitle("Tuning to signal");
    picture_.fill(Qt::black);
    constellation_.fill(Qt::black);

    area_ = new PictureBox(picture_, this);
    area_->setObjectName("area");
    area_->setMouseTracking(true);
    scroll_ = new QScrollBar(Qt::Vertical, this);
    scroll_->setRange(kMinGain, kMaxGain);
    scroll_->setValue(0);
    scroll_->setFixedHeight(kPictureHeight);
    scroll_->setObjectName("scroll");

    // Scale under the picture, and the frequency under the mouse at its right end.
    auto* scale = new QWidget(this);
    scale->setFixedWidth(kPictureWidth);
    const int label_height = fontMetrics().height() + 2;
    scale->setFixedHeight(label_height);
    const std::array<std::pair<int, const char*>, 4> marks{{{0, "0 Hz"}, {120, "1 kHz"}, {248, "2 kHz"}, {376, "3 kHz"}}};
    for (const auto& [x, text] : marks) {
        auto* mark = new QLabel(text, scale);
        mark->move(x, 0);
    }
    frequency_ = new QLabel("0 Hz", scale);
    frequency_->setObjectName("frequency");
    frequency_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    frequency_->setFrameShape(QFrame::Panel);
    frequency_->setFrameShadow(QFrame::Sunken);
    frequency_->setToolTip("Frequency under the mouse");
    frequency_->setGeometry(kPictureWidth - 72, 0, 72, label_height);

    constellation_box_ = new PictureBox(constellation_, this);
    auto* shift_caption = new QLabel("RX frequency shift", this);
    shift_ = new QLabel("0 Hz", this);
    shift_->setObjectName("shift");
    shift_->setFrameShape(QFrame::Box);
    shift_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* carrier_caption = new QLabel("RX carrier frequency", this);
    rx_carrier_ = new QSpinBox(this);
    rx_carrier_->setObjectName("rx_carrier");
    rx_carrier_->setRange(0, 3999);
    rx_carrier_->setValue(station_.Output().rx_carrier.load(std::memory_order_relaxed));
    SwallowEnter(rx_carrier_);
    connect(rx_carrier_, &QSpinBox::valueChanged, this, [this](int hz) { station_.SetRxCarrier(hz); });

    auto* left = new QVBoxLayout;
    left->setSpacing(0);
    left->addWidget(area_);
    left->addWidget(scale);
    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    right->addWidget(constellation_box_, 0, Qt::AlignHCenter);
    right->addWidget(shift_caption);
    right->addWidget(shift_);
    right->addWidget(carrier_caption);
    auto* carrier_row = new QHBoxLayout;
    carrier_row->addWidget(rx_carrier_, 1);
    carrier_row->addWidget(new QLabel("Hz", this));
    right->addLayout(carrier_row);
    right->addStretch(1);
    auto* scroll_column = new QVBoxLayout;
    scroll_column->addWidget(scroll_);
    scroll_column->addStretch(1);
    auto* top = new QHBoxLayout(this);
    top->setContentsMargins(2, 2, 2, 2);
    top->setSpacing(2);
    top->addLayout(left);
    top->addLayout(scroll_column);
    top->addLayout(right);

    auto* menu = new QMenu(this);
    auto* group = new QActionGroup(menu);
    spectroscope_ = menu->addAction("Spectroscop");
    menu->addSeparator();
    received_data_ = menu->addAction("Received data");
    for (QAction* a : {spectroscope_, received_data_}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    spectroscope_->setChecked(true);
    connect(spectroscope_, &QAction::triggered, this, [this] { ShowSpectroscope(); });
    connect(received_data_, &QAction::triggered, this, [this] { ShowReceivedData(); });
    area_->menu_requested = [menu](QPoint at) { menu->popup(at); };
    area_->mouse_moved = [this](int x) { frequency_->setText(QString::number(FrequencyAtX(x)) + " Hz"); };
    connect(scroll_, &QScrollBar::valueChanged, this, &TForm7::Scrolled);

    // Escape closes from any control; the scroll bar and the field pass it up.
    setFocusPolicy(Qt::StrongFocus);
    adjustSize();
    setFixedSize(sizeHint());
}

bool TForm7::SpectroscopeShown() const { return !text_view_; }

void TForm7::ShowSpectroscope() {
    spectroscope_->setChecked(true);
    if (!text_view_) return;
    text_view_ = false;
    station_.ReceivedData().SetShown(false);
    const QSignalBlocker block(scroll_);
    scroll_->setRange(kMinGain, kMaxGain);
    scroll_->setValue(gain_);
}

void TForm7::ShowReceivedData() {
    received_data_->setChecked(true);
    if (text_view_) return;
    text_view_ = true;
    pipeline::ReceivedDataView& view = station_.ReceivedData();
    {
        const QSignalBlocker block(scroll_);
        scroll_->setRange(0, TextRowMaximum(view.Count()));
        scroll_->setValue(first_row_);
    }
    first_row_ = scroll_->value();
    view.SetFirstRow(first_row_);
    view.SetShown(true);
    DrawText();
}

void TForm7::Scrolled(int position) {
    if (SpectroscopeShown()) {
        gain_ = position;
        return;
    }
    first_row_ = position;
    station_.ReceivedData().SetFirstRow(position);
    DrawText();
}

void TForm7::SetRxCarrierField(int hz) { rx_carrier_->setValue(hz); }

void TForm7::Refresh() {
    modem::ReceiverOutput& out = station_.Output();
    shift_->setText(QString::number(out.freq_offset.load(std::memory_order_relaxed)) + " Hz");
    // The field follows the receiver's carrier when the station set it (modulation type on OK).
    const int carrier = out.rx_carrier.load(std::memory_order_relaxed);
    if (carrier != rx_carrier_->value() && !rx_carrier_->hasFocus()) {
        const QSignalBlocker block(rx_carrier_);
        rx_carrier_->setValue(carrier);
    }
    DrawConstellation();

    if (SpectroscopeShown()) {
        audio::SpectrumBuffer& spectrum = station_.Spectrum();
        if (spectrum.Full()) {
            DrawSpectrum(SpectrumOf(spectrum.Values()));
            spectrum.Release();
        }
        return;
    }
    pipeline::ReceivedDataView& view = station_.ReceivedData();
    const int refresh = view.TakeRefresh();
    if (refresh == 0) return;
    {
        const QSignalBlocker block(scroll_);
        scroll_->setMaximum(TextRowMaximum(view.Count()));
    }
    if (scroll_->value() != first_row_) {  // the maximum moved the position
        first_row_ = scroll_->value();
        view.SetFirstRow(first_row_);
        DrawText();
    } else if (refresh == 2) {
        DrawText();
    }
}

void TForm7::DrawConstellation() {
    const modem::ReceiverOutput& out = station_.Output();
    constellation_.fill(Qt::black);
    for (std::size_t i = 0; i < out.trace_i.size(); ++i) {
        const Pixel p = ConstellationPixel(out.trace_i[i].load(std::memory_order_relaxed),
                                           out.trace_q[i].load(std::memory_order_relaxed));
        constellation_.setPixel(p.column, p.row, kWhite);
    }
    constellation_box_->update();
}

void TForm7::DrawSpectrum(const std::array<float, 256>& magnitudes) {
    picture_.fill(Qt::black);
    QPainter painter(&picture_);
    painter.setPen(QColor::fromRgb(kGreen));
    QPoint from(0, kPictureHeight);
    for (int n = 0; n < kSpectrumDrawnBins; ++n) {
        const QPoint to(2 * n, kPictureHeight - SpectrumLineHeight(magnitudes[static_cast<std::size_t>(n)], gain_));
        painter.drawLine(from, to);
        from = to;
    }
    painter.setPen(Qt::red);
    const int c = CarrierMarkerX(station_.Output().rx_carrier.load(std::memory_order_relaxed));
    painter.drawLine(c, 0, c, kPictureHeight);
    painter.end();
    area_->update();
}

void TForm7::DrawText() {
    picture_.fill(Qt::black);
    QPainter painter(&picture_);
    painter.setPen(QColor::fromRgb(kGreen));
    painter.setFont(PictureFont());
    const std::vector<std::string> rows = TextViewRows(station_.ReceivedData(), first_row_);
    for (int i = 0; i < kTextRows; ++i) {
        const std::string& row = rows[static_cast<std::size_t>(i)];
        for (std::size_t j = 0; j < row.size(); ++j) {
            const QRect cell(static_cast<int>(j) * kTextCellWidth, i * kTextCellHeight, kTextCellWidth, kTextCellHeight);
            painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, QtStationView::FromAir(std::string(1, row[j])));
        }
    }
    painter.end();
    area_->update();
}

void TForm7::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm7::showEvent(QShowEvent* event) {
    if (!placed_ && parentWidget()) {
        const QRect main = parentWidget()->frameGeometry();
        move(main.left() + 1, main.top() + 224);
        placed_ = true;
    }
    QWidget::showEvent(event);
    emit visibilityChanged(true);
}

void TForm7::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit visibilityChanged(false);
}

}  // namespace kavra::app
