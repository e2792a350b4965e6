// The main window: colours, menus and toolbar, the chat input's limits, and the command states
// through a real call to the demonstration peer on virtual air (real time: connect, chat, the file
// confirmation refused by its countdown, a file sent, disconnect).
#include <gtest/gtest.h>

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include <chrono>
#include <fstream>
#include <functional>

#include "app/desktop.h"
#include "app/about_box.h"
#include "app/form_abonents.h"
#include "app/form_connection.h"
#include "app/form_main.h"
#include "app/form_request.h"
#include "app/form_tuning.h"
#include "app/qt_station_view.h"

namespace kavra::app {
namespace {

using link::Command;
using link::StatusLabel;

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QTest::qWait(5);
    }
    return true;
}

// The colours of the characters of one line of a pane.
QColor LineColour(const QTextEdit& pane, int line) {
    const QTextBlock block = pane.document()->findBlockByNumber(line);
    return block.begin().fragment().charFormat().foreground().color();
}

// Typing that QTest::keyClicks cannot do (characters beyond ASCII): one key event per character.
void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &release);
    }
}

QStringList Lines(const QTextEdit& pane) { return pane.toPlainText().split('\n'); }

struct DemoDesktop {
    DemoDesktop() {
        DesktopOptions o;
        o.demo = true;
        o.demo_fading = "none";
        o.demo_snr = 25.0;
        o.demo_folder = folder.path().toStdString();
        desktop = std::make_unique<Desktop>(o);
    }
    TFormMain& Main() { return *desktop->Windows().main; }
    bool Enabled(Command c) { return Main().CommandAction(c)->isEnabled(); }
    std::string Enables() {
        std::string s;
        for (Command c : {Command::Connect, Command::Disconnect, Command::SendFile, Command::StopTransfer})
            s += Enabled(c) ? '1' : '0';
        return s;
    }
    QTemporaryDir folder;
    std::unique_ptr<Desktop> desktop;
};

void WriteAbonents(DemoDesktop& d) {
    std::ofstream out(d.folder.filePath("KAVRA1/abonents.txt").toStdString(), std::ios::binary);
    out << "AB1CD 1 evening schedule\nKAVRA2 0 the demonstration peer\n";
}

TEST(MainWindow, StationColoursHaveRedInTheLowByte) {
    EXPECT_EQ(StationColour(0x0000FF), QColor(255, 0, 0));    // red
    EXPECT_EQ(StationColour(0x800000), QColor(0, 0, 128));    // navy
    EXPECT_EQ(StationColour(0x008000), QColor(0, 128, 0));    // green
    EXPECT_EQ(StationColour(0x123456), QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(StationColour(0xFF123456), QColor(0x56, 0x34, 0x12));  // the high byte is not a colour

    // Lines keep their own colour and are taken as plain characters, not markup.
    QTextEdit pane;
    AppendColouredLine(pane, StationColour(0x0000FF), "Error! <b>x</b>");
    AppendColouredLine(pane, StationColour(0x800000), "KAVRA1: & hello");
    EXPECT_EQ(Lines(pane), QStringList({"Error! <b>x</b>", "KAVRA1: & hello"}));
    EXPECT_EQ(LineColour(pane, 0), QColor(255, 0, 0));
    EXPECT_EQ(LineColour(pane, 1), QColor(0, 0, 128));
}

TEST(MainWindow, MenusToolbarAndStatusBarAsTheUserSeesThem) {
    DemoDesktop d;  // not shown: nothing starts
    TFormMain& w = d.Main();
    EXPECT_EQ(w.size(), QSize(640, 480));
    EXPECT_EQ(w.minimumSize(), QSize(640, 480));

    QStringList menus;
    for (QAction* menu : w.menuBar()->actions()) {
        QString line = menu->text() + ":";
        for (QAction* item : menu->menu()->actions()) {
            line += item->isSeparator() ? QString(" |") : " " + item->text();
            if (!item->isSeparator() && !item->isEnabled()) line += "(off)";
            if (item->isCheckable()) line += "(check)";
        }
        menus << line;
    }
    EXPECT_EQ(menus, QStringList({"&Work: &Connect &Disconnect(off) | &Exit",
                                  "&Transfer: &Send file(off) Stop transfe&r(off)",
                                  "&Options: Abonents &List | &Preferences... | T&uning to signal(check)",
                                  "&?: &About"}));

    auto* bar = w.findChild<QToolBar*>("ToolBar1");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->iconSize(), QSize(32, 32));
    QStringList tools;
    for (QAction* a : bar->actions()) {
        if (a->isSeparator()) {
            tools << "|";
            continue;
        }
        auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->size(), QSize(39, 38));
        EXPECT_FALSE(button->icon().isNull()) << button->toolTip().toStdString();
        tools << button->toolTip();
    }
    EXPECT_EQ(tools, QStringList({"Connect", "Disconnect", "|", "Send file", "Stop transfer", "|", "Abonents List", "|",
                                  "Preferences", "|", "Tuning to signal"}));

    EXPECT_EQ(w.StatusField(StatusLabel::Connection)->text(), "No connection");
    EXPECT_EQ(w.StatusField(StatusLabel::ReceivedMode)->toolTip(), "Received block mode");
    EXPECT_EQ(w.StatusField(StatusLabel::ReceivedSnr)->toolTip(), "Received block signal-to-noise ratio");
    EXPECT_EQ(w.FileGauge()->toolTip(), "Progress of transfer file ");
    EXPECT_EQ(w.TransmitGauge()->toolTip(), "Progress of transeive block");
    EXPECT_EQ(w.StatusField(StatusLabel::TransmitStatus)->toolTip(), "Transeive status");
    EXPECT_EQ(w.StatusField(StatusLabel::TransmittedMode)->toolTip(), "Transeived block mode");
    EXPECT_EQ(w.StatusField(StatusLabel::RemoteSnr)->toolTip(), "Transeived block middle signal-to-noise ratio");
    EXPECT_EQ(w.SystemLog()->toolTip(), "System log");
    EXPECT_EQ(w.ChatOutput()->toolTip(), "Chat output");
    EXPECT_EQ(w.ChatInput()->toolTip(), "Chat input");
}

TEST(MainWindow, ViewSignalsReachTheirWidgets) {
    DemoDesktop d;
    TFormMain& w = d.Main();
    QtStationView& view = d.desktop->View();
    view.SetLabel(StatusLabel::Connection, "Connected: KAVRA2");
    view.SetLabel(StatusLabel::RemoteSnr, "S/N:12 dB");
    view.SetCommandEnabled(Command::StopTransfer, true);
    view.SetCommandEnabled(Command::Connect, false);
    view.SetFileProgress(42);
    view.SetTransmitProgress(7);
    view.SetCaption("Kavra-2400 - KAVRA1 - NO CAPTURE AUDIO - NO PLAYBACK AUDIO");
    view.AppendLog(link::LogKind::Error, "Error! Can't start playback!");
    view.AppendChat(link::ChatKind::Abonent, "KAVRA2: \xcf\xf0\xe8\xe2\xe5\xf2");  // Cyrillic in 1251
    // Queued: nothing shows before the event loop runs.
    EXPECT_EQ(w.StatusField(StatusLabel::Connection)->text(), "No connection");
    QCoreApplication::processEvents();
    EXPECT_EQ(w.StatusField(StatusLabel::Connection)->text(), "Connected: KAVRA2");
    EXPECT_EQ(w.StatusField(StatusLabel::RemoteSnr)->text(), "S/N:12 dB");
    EXPECT_EQ(d.Enables(), "0001");
    EXPECT_EQ(w.FileGauge()->value(), 42);
    EXPECT_EQ(w.TransmitGauge()->value(), 7);
    EXPECT_EQ(w.windowTitle(), "Kavra-2400 - KAVRA1 - NO CAPTURE AUDIO - NO PLAYBACK AUDIO");
    EXPECT_EQ(w.SystemLog()->toPlainText(), "Error! Can't start playback!");
    EXPECT_EQ(LineColour(*w.SystemLog(), 0), QColor(255, 0, 0));
    EXPECT_EQ(w.ChatOutput()->toPlainText(), QString::fromUtf8("KAVRA2: Привет"));
    EXPECT_EQ(LineColour(*w.ChatOutput(), 0), QColor(0, 128, 0));
}

TEST(MainWindow, ChatInputHoldsAtMost115Characters) {
    DemoDesktop d;
    QLineEdit* input = d.Main().ChatInput();
    QTest::keyClicks(input, QString(130, QChar('a')));
    EXPECT_EQ(input->text(), QString(115, QChar('a')));
    input->clear();
    Type(input, QString::fromUtf8("Я") + QString(120, QChar('b')));
    EXPECT_EQ(input->text().size(), 115);
}

TEST(MainWindow, TuningButtonAndMenuItemFollowTheTuningWindow) {
    DemoDesktop d;
    TFormMain& w = d.Main();
    QWidget& tuning = *d.desktop->Windows().tuning;
    tuning.setWindowFlag(Qt::Window, true);  // a window of its own, as the desktop shows it
    tuning.hide();
    d.desktop->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto pressed = [&] { return w.ToolButton(TFormMain::Tool::Tuning)->isChecked(); };
    auto checked = [&] { return w.TuningAction()->isChecked(); };
    EXPECT_FALSE(pressed());
    EXPECT_FALSE(checked());
    QTest::mouseClick(w.ToolButton(TFormMain::Tool::Tuning), Qt::LeftButton);
    EXPECT_TRUE(tuning.isVisible());
    EXPECT_TRUE(WaitUntil([&] { return pressed() && checked(); }, 1000));
    w.TuningAction()->trigger();
    EXPECT_FALSE(tuning.isVisible());
    EXPECT_TRUE(WaitUntil([&] { return !pressed() && !checked(); }, 1000));
    tuning.show();  // shown or closed by other means: the state still follows
    EXPECT_TRUE(WaitUntil([&] { return pressed() && checked(); }, 1000));
    tuning.close();
    EXPECT_TRUE(WaitUntil([&] { return !pressed() && !checked(); }, 1000));
    w.close();
}

// One call to the demonstration peer through the window's commands, in real time.
TEST(MainWindow, CommandStatesThroughConnectChatTransferAndDisconnect) {
    DemoDesktop d;
    TFormMain& w = d.Main();
    QtStationView& view = d.desktop->View();
    TForm4& request = *d.desktop->Windows().request;
    int asked = 0;
    int chosen = 0;
    view.ask_callsign = [&](const std::vector<std::string>&) {
        ++asked;
        return std::optional<std::string>("KAVRA2");
    };
    view.choose_file = [&] {
        ++chosen;
        return std::optional<std::string>("note.txt");
    };
    d.desktop->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ASSERT_TRUE(WaitUntil([&] { return d.Enables() == "1000"; }, 5000)) << d.Enables();
    EXPECT_TRUE(w.windowTitle().startsWith("Kavra-2400 - KAVRA1")) << w.windowTitle().toStdString();
    {
        std::ofstream note(d.folder.filePath("KAVRA1/note.txt").toStdString(), std::ios::binary);
        note << std::string(300, 'x');
    }

    // Disabled items do nothing, from the tool buttons too (which are never disabled).
    QTest::mouseClick(w.ToolButton(TFormMain::Tool::SendFile), Qt::LeftButton);
    QTest::mouseClick(w.ToolButton(TFormMain::Tool::Disconnect), Qt::LeftButton);
    QTest::mouseClick(w.ToolButton(TFormMain::Tool::StopTransfer), Qt::LeftButton);
    EXPECT_TRUE(w.ToolButton(TFormMain::Tool::SendFile)->isEnabled());
    EXPECT_EQ(chosen, 0);
    EXPECT_EQ(d.desktop->Station().Get().Session().State(), link::LinkState::Idle);
    // Chat before a link: the text stays in the input.
    QTest::keyClicks(w.ChatInput(), "early");
    QTest::keyClick(w.ChatInput(), Qt::Key_Return);
    EXPECT_EQ(w.ChatInput()->text(), "early");
    w.ChatInput()->clear();

    QTest::mouseClick(w.ToolButton(TFormMain::Tool::Connect), Qt::LeftButton);
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(WaitUntil([&] { return d.Enables() == "0100"; }, 1000)) << d.Enables();  // calling
    ASSERT_TRUE(WaitUntil([&] { return w.StatusField(StatusLabel::Connection)->text() == "Connected: KAVRA2"; }, 60000))
        << w.SystemLog()->toPlainText().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return d.Enables() == "0110"; }, 1000)) << d.Enables();
    EXPECT_TRUE(w.SystemLog()->toPlainText().contains("Connecting to 'KAVRA2'..."));

    // Text the air's character set cannot hold is refused and kept; Cyrillic goes out.
    Type(w.ChatInput(), QString::fromUtf8("日本 ok"));
    QTest::keyClick(w.ChatInput(), Qt::Key_Return);
    EXPECT_EQ(w.ChatInput()->text(), QString::fromUtf8("日本 ok"));
    EXPECT_TRUE(w.ChatHint().contains(QString::fromUtf8("日本"))) << w.ChatHint().toStdString();
    w.ChatInput()->clear();
    Type(w.ChatInput(), QString::fromUtf8("привет"));
    QTest::keyClick(w.ChatInput(), Qt::Key_Return);
    EXPECT_TRUE(w.ChatHint().isEmpty());
    EXPECT_TRUE(w.ChatInput()->text().isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return w.ChatOutput()->toPlainText() == QString::fromUtf8("KAVRA1: привет"); }, 1000));
    EXPECT_EQ(LineColour(*w.ChatOutput(), 0), QColor(0, 0, 128));

    // The confirmation of the file to send, left unanswered: refused after 30 countdown ticks.
    QTest::mouseClick(w.ToolButton(TFormMain::Tool::SendFile), Qt::LeftButton);
    EXPECT_EQ(chosen, 1);
    ASSERT_TRUE(WaitUntil([&] { return request.isVisible(); }, 1000)) << w.SystemLog()->toPlainText().toStdString();
    EXPECT_EQ(request.windowTitle(), "File send request...");
    EXPECT_EQ(request.CancelButton()->text(), "Cancel, 30s");
    link::LinkSession& session = d.desktop->Station().Get().Session();
    session.QuestionTimerTick();
    QCoreApplication::processEvents();
    EXPECT_EQ(request.CancelButton()->text(), "Cancel, 29s");
    for (int i = 1; i < 29; ++i) session.QuestionTimerTick();
    QCoreApplication::processEvents();
    EXPECT_EQ(request.CancelButton()->text(), "Cancel, 1s");
    EXPECT_TRUE(request.isVisible());
    session.QuestionTimerTick();
    ASSERT_TRUE(WaitUntil([&] { return !request.isVisible(); }, 1000));
    EXPECT_EQ(session.State(), link::LinkState::Connected);
    EXPECT_EQ(d.Enables(), "0110");

    // Esc refuses too; OK sends the file.
    QTest::mouseClick(w.ToolButton(TFormMain::Tool::SendFile), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return request.isVisible(); }, 1000));
    QTest::keyClick(&request, Qt::Key_Escape);
    EXPECT_FALSE(request.isVisible());
    EXPECT_EQ(session.State(), link::LinkState::Connected);
    QTest::mouseClick(w.ToolButton(TFormMain::Tool::SendFile), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return request.isVisible(); }, 1000));
    EXPECT_TRUE(request.TextLabel()->text().contains("note.txt"));
    QTest::mouseClick(request.OkButton(), Qt::LeftButton);
    EXPECT_FALSE(request.isVisible());
    ASSERT_TRUE(WaitUntil([&] { return d.Enables() == "0100"; }, 1000)) << d.Enables();  // offering
    ASSERT_TRUE(WaitUntil([&] { return d.Enables() == "0101"; }, 60000)) << d.Enables();  // sending
    ASSERT_TRUE(WaitUntil([&] { return d.Enables() == "0110"; }, 90000))
        << d.Enables() << w.SystemLog()->toPlainText().toStdString();
    EXPECT_EQ(w.FileGauge()->value(), 100) << w.SystemLog()->toPlainText().toStdString();

    QTest::mouseClick(w.ToolButton(TFormMain::Tool::Disconnect), Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return w.SystemLog()->toPlainText().contains("Disconnecting from 'KAVRA2'"); }, 1000));
    ASSERT_TRUE(WaitUntil([&] { return d.Enables() == "1000"; }, 60000)) << d.Enables();
    EXPECT_EQ(w.StatusField(StatusLabel::Connection)->text(), "No connection");
    EXPECT_GE(w.Timer1MaxCostUs(), 0);
    w.close();
}

}  // namespace
}  // namespace kavra::app

namespace kavra::app {
namespace {

// Pictures of the windows for a look under a real display (Xvfb):
//   KAVRA_SHOTS=/tmp/shots QT_QPA_PLATFORM=xcb app_tests --gtest_also_run_disabled_tests
//   --gtest_filter='*Screenshots*'
TEST(MainWindow, DISABLED_Screenshots) {
    const QString dir = qEnvironmentVariable("KAVRA_SHOTS", "/tmp");
    DemoDesktop d;
    TFormMain& w = d.Main();
    d.desktop->View().ask_callsign = [](const std::vector<std::string>&) { return std::optional<std::string>("KAVRA2"); };
    d.desktop->Show();
    ASSERT_TRUE(WaitUntil([&] { return d.Enables() == "1000"; }, 5000));
    QTest::mouseClick(w.ToolButton(TFormMain::Tool::Connect), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return w.StatusField(StatusLabel::Connection)->text() == "Connected: KAVRA2"; }, 60000));
    Type(w.ChatInput(), QString::fromUtf8("Привет, KAVRA2! How do you copy?"));
    QTest::keyClick(w.ChatInput(), Qt::Key_Return);
    WaitUntil([&] { return w.ChatOutput()->toPlainText().contains("KAVRA2:"); }, 40000);
    Type(w.ChatInput(), QString::fromUtf8("日本"));
    QTest::keyClick(w.ChatInput(), Qt::Key_Return);
    WaitUntil([&] { return !w.StatusField(StatusLabel::TransmitStatus)->text().isEmpty(); }, 20000);
    QTest::qWait(1500);
    w.grab().save(dir + "/main_window.png");
    d.desktop->View().ShowQuestion("Connection request...", "Station 'KAVRA3' wants to connect. Accept the call?", "Cancel, 30s");
    QTest::qWait(300);
    d.desktop->Windows().request->grab().save(dir + "/request.png");
    d.desktop->Windows().request->hide();
    TForm3& connection = *d.desktop->Windows().connection;
    connection.Prepare({"AB1CD", "KAVRA2"});
    connection.show();
    QTest::qWait(300);
    connection.grab().save(dir + "/connection.png");
    connection.hide();
    TForm5& abonents = *d.desktop->Windows().abonents;
    WriteAbonents(d);
    abonents.Opened();
    abonents.show();
    QTest::qWait(300);
    abonents.grab().save(dir + "/abonents.png");
    abonents.PageControl1()->setCurrentIndex(1);
    QTest::qWait(300);
    abonents.grab().save(dir + "/abonents_privileged.png");
    abonents.hide();
    abonents.Closed();
    d.desktop->Windows().about->show();
    QTest::qWait(300);
    d.desktop->Windows().about->grab().save(dir + "/about.png");
    d.desktop->Windows().about->hide();
    w.resize(900, 600);
    QTest::qWait(300);
    w.grab().save(dir + "/main_window_large.png");
    w.close();
}

}  // namespace
}  // namespace kavra::app
