// TFormMain: the main window (toolbar, menus, system log, chat output and input, status bar,
// gauges, the 200 ms refresh).  Start-up runs at its first show, shutdown when it closes.  It only
// shows what the station's view reports and forwards the user's commands to the station.
#pragma once

#include <QColor>
#include <QMainWindow>
#include <QTimer>

#include <array>
#include <cstdint>

#include "app/desktop.h"
#include "app/widget_helpers.h"
#include "link/ports.h"

class QAction;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTextEdit;
class QToolButton;

namespace kavra::app {

// Adds `text` as a new line in `colour` at the end of a rich-text pane and scrolls to it.  The
// text is taken as plain characters, never as markup.
void AppendColouredLine(QTextEdit& pane, const QColor& colour, const QString& text);

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    TFormMain(DesktopStation& station, QtStationView& view, DesktopWindows& windows);
    ~TFormMain() override;

    // The toolbar buttons, left to right.
    enum class Tool { Connect, Disconnect, SendFile, StopTransfer, Abonents, Preferences, Tuning };

    // For the other windows and tests.
    QAction* CommandAction(link::Command command) const { return commands_[static_cast<std::size_t>(command)]; }
    QAction* TuningAction() const { return tuning1_; }
    QToolButton* ToolButton(Tool tool) const { return tools_[static_cast<std::size_t>(tool)]; }
    QTextEdit* SystemLog() const { return rich_edit1_; }
    QTextEdit* ChatOutput() const { return rich_edit3_; }
    QLineEdit* ChatInput() const { return rich_edit2_; }
    QLabel* StatusField(link::StatusLabel label) const { return labels_[static_cast<std::size_t>(label)]; }
    QProgressBar* FileGauge() const { return cgauge1_; }
    QProgressBar* TransmitGauge() const { return cgauge2_; }
    // The hint shown when the chat input was refused (empty when the last Enter was taken).
    const QString& ChatHint() const { return chat_hint_; }
    // Time spent in the last and the longest 200 ms refresh, in microseconds.
    qint64 Timer1LastCostUs() const { return timer1_last_us_; }
    qint64 Timer1MaxCostUs() const { return timer1_max_us_; }

    // The command handlers (menu items and their tool buttons).
    void Connect1Click();
    void Disconnect1Click();
    void Sendfile1Click();
    void Stoptransfer1Click();
    void Abonentlist1Click();
    void OptionsClick();
    void Tuning1Click();
    void About1Click();
    void Exit1Click();
    // Enter in the chat input.
    void RichEdit2KeyPress();
    // The 200 ms refresh of the tuning window.
    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildPanes();
    void BuildStatusBar();
    void ConnectView();
    void ConnectWindows();
    void SetCommandEnabled(int command, bool enabled);
    void ShowTuningState();
    std::uint32_t Colour(int which);  // 0 system, 1 error, 2 own, 3 abonent
    std::optional<std::string> AskCallsign(const std::vector<std::string>& callsigns);
    std::optional<std::string> ChooseFile();

    DesktopStation& station_;
    QtStationView& view_;
    DesktopWindows& windows_;
    QTimer pump_;    // the received-block pump and station timers, every 1 ms
    QTimer timer1_;  // the 200 ms refresh of the tuning window
    bool started_ = false;
    bool windows_connected_ = false;

    std::array<QAction*, link::kCommandCount> commands_{};
    QAction* abonent_list1_ = nullptr;
    QAction* options1_ = nullptr;
    QAction* tuning1_ = nullptr;
    QAction* about1_ = nullptr;
    QAction* exit1_ = nullptr;
    std::array<QToolButton*, 7> tools_{};
    QTextEdit* rich_edit1_ = nullptr;  // system log
    QTextEdit* rich_edit3_ = nullptr;  // chat output
    QLineEdit* rich_edit2_ = nullptr;  // chat input
    std::array<QLabel*, 6> labels_{};  // by link::StatusLabel
    QProgressBar* cgauge1_ = nullptr;
    QProgressBar* cgauge2_ = nullptr;
    QString chat_hint_;
    qint64 timer1_last_us_ = 0;
    qint64 timer1_max_us_ = 0;
};

}  // namespace kavra::app
