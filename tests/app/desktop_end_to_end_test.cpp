// The desktop end to end on a real X server (CI runs it under xvfb-run): the demonstration window
// calls its peer through the menu and the Connection dialog, chats through the chat input, sends a
// file through the menu, the file dialog and the request dialog, and the peer's copy is compared.
// A second test walks the same way taking the screenshots of docs/screenshots (only when
// KAVRA_SCREENSHOTS names a folder).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPointer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include "app/desktop.h"
#include "app/form_abonents.h"
#include "app/form_connection.h"
#include "app/form_main.h"
#include "app/form_options.h"
#include "app/form_request.h"
#include "app/form_tuning.h"

namespace kavra::app {
namespace {

using link::Command;
using link::StatusLabel;

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeout_ms) return false;
        QTest::qWait(10);
    }
    return true;
}

// Runs `act` on the first visible window for which `match` holds, as soon as it appears (a modal
// dialog runs its own event loop, so the action is polled from a timer), and again every half
// second while that window stays open (a file dialog may still be reading its folder).
// The timer belongs to `owner` (the main window) and goes with it.
void WhenShown(QObject* owner, const std::function<QWidget*()>& match, const std::function<void(QWidget*)>& act) {
    auto* timer = new QTimer(owner);
    auto acted = std::make_shared<QPointer<QWidget>>();
    auto last = std::make_shared<QElapsedTimer>();
    auto busy = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, [timer, match, act, acted, last, busy] {
        if (*busy) return;  // the action waits inside (a nested event loop)
        if (*acted && !(*acted)->isVisible()) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        if (*acted && last->elapsed() < 500) return;
        if (QWidget* w = match(); w && w->isVisible()) {
            *acted = w;
            *busy = true;
            act(w);
            *busy = false;
            last->start();
        }
    });
    timer->start(50);
}

// The visible window of type W (a dialog shown by the code under test).
template <class W>
QWidget* TopLevel() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<W*>(w); found && found->isVisible()) return found;
    for (QWidget* w : QApplication::allWidgets())
        if (auto* found = qobject_cast<W*>(w); found && found->isVisible() && found->isWindow()) return found;
    return nullptr;
}

QAbstractButton* Button(QWidget* w, const QString& text_start) {
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
        if (b->text().startsWith(text_start) && b->isVisible()) return b;
    return nullptr;
}

std::vector<char> ReadFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct DemoRun {
    explicit DemoRun(double snr = 20.0) {
        DesktopOptions o;
        o.demo = true;
        o.demo_fading = "good";
        o.demo_snr = snr;
        o.demo_folder = folder.path().toStdString();
        desktop = std::make_unique<Desktop>(o);
    }
    TFormMain& Main() { return *desktop->Windows().main; }
    QString Status(StatusLabel l) { return Main().StatusField(l)->text(); }

    // Connect through the menu item and the Connection dialog.
    bool Connect() {
        WhenShown(&Main(), [&] { return desktop->Windows().connection; }, [](QWidget* dialog) {
            dialog->findChild<QLineEdit*>()->setText("KAVRA2");
            if (QAbstractButton* b = Button(dialog, "Connect")) QTest::mouseClick(b, Qt::LeftButton);
        });
        Main().CommandAction(Command::Connect)->trigger();
        return WaitUntil([&] { return Status(StatusLabel::Connection) == "Connected: KAVRA2"; }, 120000);
    }
    // A line typed into the chat input and sent with Enter.
    void Say(const QString& text) {
        // One key event per character: the test library's key clicks know only ASCII.
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(Main().ChatInput(), &press);
        }
        QTest::keyClick(Main().ChatInput(), Qt::Key_Return);
    }
    // A file chosen in the file dialog and confirmed in the request dialog; `on_question` sees the
    // request dialog before OK is pressed.
    void SendFile(const QString& path, const std::function<void(QWidget*)>& on_question = {}) {
        WhenShown(&Main(), [] { return TopLevel<QFileDialog>(); }, [path](QWidget* w) {
            // The file's whole path typed into the name field, then Enter, as a user would.
            auto* name = w->findChild<QLineEdit*>("fileNameEdit");
            name->setText(path);
            QTest::keyClick(name, Qt::Key_Return);
        });
        Main().CommandAction(Command::SendFile)->trigger();
        WhenShown(&Main(), [&] { return desktop->Windows().request; }, [on_question](QWidget* dialog) {
            if (on_question) on_question(dialog);
            if (QAbstractButton* b = Button(dialog, "OK")) QTest::mouseClick(b, Qt::LeftButton);
        });
    }

    QTemporaryDir folder;
    std::unique_ptr<Desktop> desktop;
};

bool OnXServer() { return QGuiApplication::platformName() == "xcb"; }

TEST(DesktopEndToEnd, DemoWindowConnectsChatsAndSendsAFile) {
    if (!OnXServer()) GTEST_SKIP() << "needs an X server (ctest runs it under xvfb-run)";
    DemoRun d;
    d.desktop->Show();
    ASSERT_TRUE(WaitUntil([&] { return d.Main().CommandAction(Command::Connect)->isEnabled(); }, 10000));
    ASSERT_TRUE(d.Connect());
    d.Say("hello from the desktop");
    ASSERT_TRUE(WaitUntil([&] { return d.Main().ChatOutput()->toPlainText().contains("copied \"hello from the desktop\""); },
                          120000));
    const QString path = d.folder.filePath("to-send.bin");
    {
        std::ofstream out(path.toStdString(), std::ios::binary);
        for (int i = 0; i < 2500; ++i) out.put(static_cast<char>(i * 37 + 1));
    }
    d.SendFile(path);
    const QString copy = d.folder.filePath("KAVRA2/RECEIVED/to-send.bin");
    ASSERT_TRUE(WaitUntil([&] { return d.Main().SystemLog()->toPlainText().contains("sended succesfully") &&
                                       d.Main().CommandAction(Command::SendFile)->isEnabled(); },
                          300000));
    EXPECT_EQ(ReadFile(copy), ReadFile(path));
    d.Main().CommandAction(Command::Disconnect)->trigger();
    EXPECT_TRUE(WaitUntil([&] { return d.Status(StatusLabel::Connection) == "No connection"; }, 60000));
}

// The screenshots, from a live run of the demo: main window during a transfer, Preferences (two
// pages), the request dialog counting down, the abonents list, the tuning window with a live
// spectrum and with a received constellation.  Also measures the 200 ms refresh.
TEST(DesktopEndToEnd, Screenshots) {
    const QString out = qEnvironmentVariable("KAVRA_SCREENSHOTS");
    if (out.isEmpty() || !OnXServer()) GTEST_SKIP() << "KAVRA_SCREENSHOTS not set, or no X server";
    DemoRun d(18.0);
    {
        std::ofstream abonents(d.folder.filePath("KAVRA1/abonents.txt").toStdString(), std::ios::binary);
        abonents << "KAVRA2 1 demonstration peer, always on\nAB1CD 0 evening schedule, 7.045 MHz\nEF2GH 1 club station\n";
    }
    d.desktop->Show();
    d.Main().move(20, 20);
    ASSERT_TRUE(WaitUntil([&] { return d.Main().CommandAction(Command::Connect)->isEnabled(); }, 10000));
    // Preferences, two pages, before the link (every page enabled).
    WhenShown(&d.Main(), [] { return TopLevel<TFormOptions>(); }, [out](QWidget* w) {
        auto* options = static_cast<TFormOptions*>(w);
        options->Pages()->setCurrentIndex(1);
        QTest::qWait(200);
        options->grab().save(out + "/preferences-modulation.png");
        options->Pages()->setCurrentIndex(2);
        QTest::qWait(200);
        options->grab().save(out + "/preferences-hardware.png");
        options->reject();
    });
    d.Main().OptionsClick();
    // The abonents list.
    WhenShown(&d.Main(), [] { return TopLevel<TForm5>(); }, [out](QWidget* w) {
        QTest::qWait(200);
        w->grab().save(out + "/abonents.png");
        static_cast<QDialog*>(w)->reject();
    });
    d.Main().Abonentlist1Click();
    ASSERT_TRUE(d.Connect());
    d.Main().TuningAction()->trigger();
    TForm7& tuning = *d.desktop->Windows().tuning;
    tuning.move(d.Main().x() + d.Main().width() + 20, d.Main().y());
    d.Say(QString::fromUtf8("Good afternoon! Привет, how do you copy?"));
    ASSERT_TRUE(WaitUntil([&] { return d.Main().ChatOutput()->toPlainText().contains("copied"); }, 120000));
    // A file: the request dialog grabbed while it counts down.
    const QString path = d.folder.filePath("station-log.txt");
    {
        std::ofstream file(path.toStdString(), std::ios::binary);
        for (int i = 0; i < 300; ++i) file << "Line " << i << " of the station log, sent over the simulated HF channel.\n";
    }
    d.SendFile(path, [out](QWidget* dialog) {
        QTest::qWait(3300);
        dialog->grab().save(out + "/request-countdown.png");
    });
    ASSERT_TRUE(WaitUntil([&] { return d.Main().FileGauge()->value() >= 30 && !d.Status(StatusLabel::TransmitStatus).isEmpty(); },
                          300000));
    d.Say("The file is on its way.");
    QTest::qWait(1500);
    d.Main().grab().save(out + "/main-window-transfer.png");
    // The tuning window while the peer's acknowledgement burst is received: live spectrum, then
    // the constellation of that frame in the received-data view's place.
    ASSERT_TRUE(WaitUntil([&] { return !d.Status(StatusLabel::ReceivedMode).isEmpty(); }, 300000));
    // The gain scroll bar turned down, as an operator would for a strong signal.
    if (auto* gain = tuning.findChild<QScrollBar*>()) gain->setValue(12);
    QTest::qWait(1200);
    tuning.grab().save(out + "/tuning-spectrum.png");
    ASSERT_TRUE(WaitUntil([&] { return d.Main().SystemLog()->toPlainText().contains("sended succesfully"); }, 600000));
    tuning.ShowReceivedData();
    QTest::qWait(600);
    tuning.grab().save(out + "/tuning-received-data.png");
    std::printf("200 ms refresh of the main and tuning windows: last %lld us, longest %lld us\n",
                static_cast<long long>(d.Main().Timer1LastCostUs()), static_cast<long long>(d.Main().Timer1MaxCostUs()));
    d.Main().CommandAction(Command::Disconnect)->trigger();
    WaitUntil([&] { return d.Status(StatusLabel::Connection) == "No connection"; }, 60000);
}

}  // namespace
}  // namespace kavra::app
