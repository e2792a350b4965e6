#include "app/form_main.h"

#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/about_box.h"
#include "app/form_abonents.h"
#include "app/form_connection.h"
#include "app/form_options.h"
#include "app/form_request.h"
#include "app/form_tuning.h"
#include "app/qt_station_view.h"
#include "link/chat.h"

// The toolbar pictures live in this static library: register them before the first use.
static void InitIcons() { Q_INIT_RESOURCE(icons); }

namespace kavra::app {

void AppendColouredLine(QTextEdit& pane, const QColor& colour, const QString& text) {
    QTextCursor cursor(pane.document());
    cursor.movePosition(QTextCursor::End);
    if (!pane.document()->isEmpty()) cursor.insertBlock();
    QTextCharFormat format;
    format.setForeground(colour);
    cursor.insertText(text, format);
    pane.verticalScrollBar()->setValue(pane.verticalScrollBar()->maximum());
}

namespace {

// The first installed family of a list, for fonts named after another platform's families.
QFont NearestFont(const QStringList& families, int point_size) {
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : families)
        if (installed.contains(family)) return QFont(family, point_size);
    QFont font;
    font.setPointSize(point_size);
    return font;
}

QFont SansFont(int point_size) { return NearestFont({"Arial", "Liberation Sans", "DejaVu Sans"}, point_size); }

// The characters of `text` that Windows-1251 cannot hold, each once.
QString Unsendable(const QString& text) {
    QString bad;
    for (const QChar c : text)
        if (!QtStationView::ToAir(QString(c)) && !bad.contains(c)) bad += c;
    return bad;
}

constexpr int kLogHeight = 135;
constexpr int kChatInputHeight = 22;
constexpr int kStatusBarHeight = 20;
constexpr int kLogLines = 20000;  // older lines leave the panes

}  // namespace

TFormMain::TFormMain(DesktopStation& station, QtStationView& view, DesktopWindows& windows)
    : station_(station), view_(view), windows_(windows) {
    InitIcons();
    setObjectName("FormMain");
    setWindowTitle("Kavra-2400");
    setWindowIcon(QIcon(":/icons/station.svg"));
    setFont(NearestFont({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"}, 8));
    setMinimumSize(640, 480);
    resize(640, 480);

    BuildMenus();
    BuildToolBar();
    BuildPanes();
    BuildStatusBar();
    ConnectView();

    connect(&pump_, &QTimer::timeout, this, [this] { station_.Tick(); });
    connect(&timer1_, &QTimer::timeout, this, &TFormMain::Timer1Timer);
}

// The view outlives the window: its dialog hooks must not reach a window that is gone.
TFormMain::~TFormMain() {
    view_.ask_callsign = nullptr;
    view_.choose_file = nullptr;
}

void TFormMain::BuildMenus() {
    QMenu* work = menuBar()->addMenu("&Work");
    QAction* connect1 = work->addAction("&Connect", this, &TFormMain::Connect1Click);
    QAction* disconnect1 = work->addAction("&Disconnect", this, &TFormMain::Disconnect1Click);
    disconnect1->setEnabled(false);
    work->addSeparator();
    exit1_ = work->addAction("&Exit", this, &TFormMain::Exit1Click);

    QMenu* transfer = menuBar()->addMenu("&Transfer");
    QAction* send_file1 = transfer->addAction("&Send file", this, &TFormMain::Sendfile1Click);
    send_file1->setEnabled(false);
    QAction* stop_transfer1 = transfer->addAction("Stop transfe&r", this, &TFormMain::Stoptransfer1Click);
    stop_transfer1->setEnabled(false);

    QMenu* options = menuBar()->addMenu("&Options");
    abonent_list1_ = options->addAction("Abonents &List", this, &TFormMain::Abonentlist1Click);
    options->addSeparator();
    options1_ = options->addAction("&Preferences...", this, &TFormMain::OptionsClick);
    options->addSeparator();
    tuning1_ = options->addAction("T&uning to signal");
    tuning1_->setCheckable(true);
    // The check mark follows the window, not the click.
    connect(tuning1_, &QAction::triggered, this, [this] { Tuning1Click(); });

    QMenu* help = menuBar()->addMenu("&?");
    about1_ = help->addAction("&About", this, &TFormMain::About1Click);

    commands_ = {connect1, disconnect1, send_file1, stop_transfer1};
}

void TFormMain::BuildToolBar() {
    QToolBar* bar = addToolBar("Toolbar");
    bar->setObjectName("ToolBar1");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(32, 32));
    bar->setContextMenuPolicy(Qt::PreventContextMenu);

    struct Button {
        Tool tool;
        const char* name;
        const char* icon;
        const char* hint;
        void (TFormMain::*handler)();
        bool separator_before;
    };
    const Button buttons[] = {
        {Tool::Connect, "ToolButtonC", "connect", "Connect", &TFormMain::Connect1Click, false},
        {Tool::Disconnect, "ToolButtonD", "disconnect", "Disconnect", &TFormMain::Disconnect1Click, false},
        {Tool::SendFile, "ToolButtonT", "send_file", "Send file", &TFormMain::Sendfile1Click, true},
        {Tool::StopTransfer, "ToolButtonS", "stop_transfer", "Stop transfer", &TFormMain::Stoptransfer1Click, false},
        {Tool::Abonents, "ToolButtonL", "abonents", "Abonents List", &TFormMain::Abonentlist1Click, true},
        {Tool::Preferences, "ToolButtonO", "preferences", "Preferences", &TFormMain::OptionsClick, true},
        {Tool::Tuning, "ToolButtonF", "tuning", "Tuning to signal", &TFormMain::Tuning1Click, true},
    };
    for (const Button& b : buttons) {
        if (b.separator_before) bar->addSeparator();
        // Plain buttons, not the menu items' twins: a tool button is never disabled; its handler
        // checks the menu item.
        auto* button = new QToolButton(bar);
        button->setObjectName(b.name);
        button->setIcon(QIcon(QString(":/icons/%1.svg").arg(b.icon)));
        button->setIconSize(QSize(32, 32));
        button->setFixedSize(39, 38);
        button->setAutoRaise(true);
        button->setToolTip(b.hint);
        button->setStatusTip(b.hint);
        connect(button, &QToolButton::clicked, this, b.handler);
        bar->addWidget(button);
        tools_[static_cast<std::size_t>(b.tool)] = button;
    }
    ToolButton(Tool::Tuning)->setCheckable(true);
}

void TFormMain::BuildPanes() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);

    rich_edit1_ = new QTextEdit(central);
    rich_edit1_->setObjectName("RichEdit1");
    rich_edit1_->setReadOnly(true);
    rich_edit1_->setFixedHeight(kLogHeight);
    rich_edit1_->setFont(SansFont(9));
    rich_edit1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    rich_edit1_->setToolTip("System log");
    rich_edit1_->document()->setMaximumBlockCount(kLogLines);

    rich_edit3_ = new QTextEdit(central);
    rich_edit3_->setObjectName("RichEdit3");
    rich_edit3_->setReadOnly(true);
    rich_edit3_->setFont(SansFont(10));
    rich_edit3_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    rich_edit3_->setToolTip("Chat output");
    rich_edit3_->document()->setMaximumBlockCount(kLogLines);

    rich_edit2_ = new QLineEdit(central);
    rich_edit2_->setObjectName("RichEdit2");
    rich_edit2_->setFixedHeight(kChatInputHeight);
    rich_edit2_->setFont(SansFont(10));
    rich_edit2_->setMaxLength(static_cast<int>(link::kMaxChatInput));
    rich_edit2_->setToolTip("Chat input");
    connect(rich_edit2_, &QLineEdit::returnPressed, this, &TFormMain::RichEdit2KeyPress);

    layout->addWidget(rich_edit1_);
    layout->addWidget(rich_edit3_, 1);
    layout->addWidget(rich_edit2_);
    setCentralWidget(central);
}

void TFormMain::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setFixedHeight(kStatusBarHeight);
    bar->setSizeGripEnabled(false);
    const QFontMetrics metrics(font());
    auto make_label = [&](link::StatusLabel which, const char* name, const QString& hint, const QString& widest) {
        auto* label = new QLabel(bar);
        label->setObjectName(name);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setToolTip(hint);
        label->setMinimumWidth(metrics.horizontalAdvance(widest) + 8);
        labels_[static_cast<std::size_t>(which)] = label;
        return label;
    };
    auto make_gauge = [&](const char* name, const QString& hint) {
        auto* gauge = new QProgressBar(bar);
        gauge->setObjectName(name);
        gauge->setRange(0, 100);
        gauge->setValue(0);
        gauge->setToolTip(hint);
        gauge->setFixedWidth(64);
        gauge->setAlignment(Qt::AlignCenter);
        return gauge;
    };
    using link::StatusLabel;
    QLabel* label1 = make_label(StatusLabel::Connection, "Label1", "Connection status", "Connected: WWWWWWWW");
    label1->setText("No connection");
    QLabel* label3 = make_label(StatusLabel::ReceivedMode, "Label3", "Received block mode", "2400 short");
    QLabel* label2 = make_label(StatusLabel::ReceivedSnr, "Label2", "Received block signal-to-noise ratio", "S/N:-10 dB");
    cgauge1_ = make_gauge("CGauge1", "Progress of transfer file ");
    cgauge2_ = make_gauge("CGauge2", "Progress of transeive block");
    QLabel* label4 = make_label(StatusLabel::TransmitStatus, "Label4", "Transeive status", "Transfer data...");
    QLabel* label6 = make_label(StatusLabel::TransmittedMode, "Label6", "Transeived block mode", "2400 short");
    QLabel* label5 = make_label(StatusLabel::RemoteSnr, "Label5", "Transeived block middle signal-to-noise ratio", "S/N:-10 dB");
    bar->addWidget(label1, 1);
    bar->addWidget(label3);
    bar->addWidget(label2);
    bar->addWidget(cgauge1_);
    bar->addWidget(cgauge2_);
    bar->addWidget(label4);
    bar->addWidget(label6);
    bar->addWidget(label5);
}

void TFormMain::ConnectView() {
    constexpr auto queued = Qt::QueuedConnection;
    connect(&view_, &QtStationView::logAppended, this, [this](int kind, const QString& text) {
        AppendColouredLine(*rich_edit1_, StationColour(Colour(kind == static_cast<int>(link::LogKind::System) ? 0 : 1)), text);
    }, queued);
    connect(&view_, &QtStationView::chatAppended, this, [this](int kind, const QString& text) {
        AppendColouredLine(*rich_edit3_, StationColour(Colour(kind == static_cast<int>(link::ChatKind::Own) ? 2 : 3)), text);
    }, queued);
    connect(&view_, &QtStationView::labelChanged, this, [this](int label, const QString& text) {
        if (label >= 0 && label < static_cast<int>(labels_.size())) labels_[static_cast<std::size_t>(label)]->setText(text);
    }, queued);
    connect(&view_, &QtStationView::commandEnabled, this, &TFormMain::SetCommandEnabled, queued);
    connect(&view_, &QtStationView::fileProgressChanged, cgauge1_, &QProgressBar::setValue, queued);
    connect(&view_, &QtStationView::transmitProgressChanged, cgauge2_, &QProgressBar::setValue, queued);
    connect(&view_, &QtStationView::captionChanged, this, &QWidget::setWindowTitle, queued);
    connect(&view_, &QtStationView::preferencesRequested, this, &TFormMain::OptionsClick, queued);
    view_.ask_callsign = [this](const std::vector<std::string>& callsigns) { return AskCallsign(callsigns); };
    view_.choose_file = [this] { return ChooseFile(); };
}

// The other windows exist once the desktop has created all seven.
void TFormMain::ConnectWindows() {
    if (windows_connected_) return;
    windows_connected_ = true;
    if (windows_.request) windows_.request->Attach(view_);
    if (windows_.tuning) windows_.tuning->installEventFilter(this);
    ShowTuningState();
}

void TFormMain::SetCommandEnabled(int command, bool enabled) {
    if (command >= 0 && command < link::kCommandCount) commands_[static_cast<std::size_t>(command)]->setEnabled(enabled);
}

std::uint32_t TFormMain::Colour(int which) {
    if (!started_) {
        constexpr std::uint32_t defaults[] = {station::kBlack, station::kRed, station::kNavy, station::kGreen};
        return defaults[which];
    }
    const station::StationSettings& s = station_.Get().Settings();
    switch (which) {
        case 0: return s.color_sys;
        case 1: return s.color_err;
        case 2: return s.color_own;
        default: return s.color_abon;
    }
}

// ---- commands

void TFormMain::Connect1Click() {
    if (!started_ || !CommandAction(link::Command::Connect)->isEnabled()) return;
    station_.Get().Session().Connect1Click();
}

void TFormMain::Disconnect1Click() {
    if (!started_ || !CommandAction(link::Command::Disconnect)->isEnabled()) return;
    station_.Get().Session().Disconnect1Click();
}

void TFormMain::Sendfile1Click() {
    if (!started_ || !CommandAction(link::Command::SendFile)->isEnabled()) return;
    station_.Get().Session().SendFileClick();
}

void TFormMain::Stoptransfer1Click() {
    if (!started_ || !CommandAction(link::Command::StopTransfer)->isEnabled()) return;
    station_.Get().Session().StopTransferClick();
}

void TFormMain::Abonentlist1Click() {
    if (started_ && windows_.abonents) windows_.abonents->Open();
}

void TFormMain::OptionsClick() {
    if (started_ && windows_.options) windows_.options->OptionsClick();
}

void TFormMain::Tuning1Click() {
    if (windows_.tuning) windows_.tuning->setVisible(!windows_.tuning->isVisible());
    ShowTuningState();
}

void TFormMain::About1Click() {
    if (windows_.about) windows_.about->exec();
}

void TFormMain::Exit1Click() { close(); }

std::optional<std::string> TFormMain::AskCallsign(const std::vector<std::string>& callsigns) {
    return windows_.connection ? windows_.connection->Ask(callsigns) : std::nullopt;
}

std::optional<std::string> TFormMain::ChooseFile() {
    const QString path = QFileDialog::getOpenFileName(this, "Send file", ".");
    if (path.isEmpty()) return std::nullopt;
    std::optional<std::string> air = QtStationView::ToAir(path);
    if (!air) {
        QMessageBox::warning(this, "Send file",
                             "The file cannot be sent: its name or folder holds characters outside the "
                             "Windows-1251 set (" + Unsendable(path) + ").\nRename it or copy it to a "
                             "folder with a Latin or Cyrillic name.");
    }
    return air;
}

void TFormMain::RichEdit2KeyPress() {
    if (!started_) return;
    const QString text = rich_edit2_->text();
    const std::optional<std::string> air = QtStationView::ToAir(text);
    if (!air) {
        chat_hint_ = "Not sent: these characters cannot go on the air (Windows-1251 set only): " + Unsendable(text);
        QToolTip::showText(rich_edit2_->mapToGlobal(QPoint(0, 0)), chat_hint_, rich_edit2_);
        return;
    }
    chat_hint_.clear();
    if (station_.Get().Session().ChatEnter(*air)) rich_edit2_->clear();
}

// ---- the 200 ms refresh

void TFormMain::Timer1Timer() {
    QElapsedTimer cost;
    cost.start();
    if (windows_.tuning && windows_.tuning->isVisible()) windows_.tuning->Refresh();
    timer1_last_us_ = cost.nsecsElapsed() / 1000;
    timer1_max_us_ = std::max(timer1_max_us_, timer1_last_us_);
}

void TFormMain::ShowTuningState() {
    const bool visible = windows_.tuning && windows_.tuning->isVisible();
    tuning1_->setChecked(visible);
    ToolButton(Tool::Tuning)->setChecked(visible);
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windows_.tuning && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        QTimer::singleShot(0, this, [this] { ShowTuningState(); });
    return QMainWindow::eventFilter(watched, event);
}

// ---- start-up and shutdown

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (started_) return;
    started_ = true;
    ConnectWindows();
    station_.Start();
    pump_.start(1);
    timer1_.start(200);
}

void TFormMain::closeEvent(QCloseEvent* event) {
    timer1_.stop();
    pump_.stop();
    station_.Stop();
    event->accept();
}

}  // namespace kavra::app
