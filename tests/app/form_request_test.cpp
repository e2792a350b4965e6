// The request dialog shows what the station's view says: caption, text, the counting-down cancel
// caption, and closes when the station closes the question (the refusal at the end of the count).
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/desktop.h"
#include "app/form_request.h"
#include "app/qt_station_view.h"

namespace kavra::app {
namespace {

TEST(RequestDialog, FollowsTheViewsQuestionSignals) {
    QTemporaryDir folder;
    DesktopOptions o;
    o.demo = true;
    o.demo_folder = folder.path().toStdString();
    QtStationView view;
    DesktopStation station(o, view);
    TForm4 dialog(station, nullptr);
    dialog.Attach(view);
    EXPECT_EQ(dialog.CancelButton()->text(), "Cancel, 30s");

    view.ShowQuestion("Connection request...", "Station 'KAVRA2' wants to connect. Accept?", "Cancel, 30s");
    EXPECT_FALSE(dialog.isVisible());  // queued
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.windowTitle(), "Connection request...");
    EXPECT_EQ(dialog.TextLabel()->text(), "Station 'KAVRA2' wants to connect. Accept?");
    EXPECT_TRUE(dialog.TextLabel()->font().bold());
    EXPECT_TRUE(dialog.TextLabel()->wordWrap());

    // The station counts down once a second; after 30 ticks it refuses and closes the question.
    for (int n = 29; n >= 1; --n) {
        view.SetQuestionCancelCaption("Cancel, " + std::to_string(n) + "s");
        QCoreApplication::processEvents();
        ASSERT_EQ(dialog.CancelButton()->text(), QString("Cancel, %1s").arg(n));
        ASSERT_TRUE(dialog.isVisible());
    }
    view.CloseQuestion();
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.isVisible());

    // The next question opens with its own texts.
    view.ShowQuestion("File receive request...", "File 'a.txt'", "Cancel, 30s");
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.CancelButton()->text(), "Cancel, 30s");
    EXPECT_EQ(dialog.TextLabel()->text(), "File 'a.txt'");
    view.CloseQuestion();
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace kavra::app
