// The Connection dialog: the abonents' callsigns offered in order, an empty entry refused, text
// the air cannot carry refused with a hint, the callsign answered as typed in Windows-1251.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/form_connection.h"

namespace kavra::app {
namespace {

TEST(ConnectionDialog, RefusesAnEmptyEntryAndAnswersTheCallsignAsTyped) {
    TForm3 dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Connection");
    dialog.Prepare({"AB1CD", "KAVRA2", "\xc0\xc1"});  // the last one Cyrillic in 1251
    ASSERT_EQ(dialog.ComboBox1()->count(), 3);
    EXPECT_EQ(dialog.ComboBox1()->itemText(0), "AB1CD");
    EXPECT_EQ(dialog.ComboBox1()->itemText(2), QString::fromUtf8("АБ"));
    EXPECT_TRUE(dialog.ComboBox1()->currentText().isEmpty());

    dialog.show();
    QTest::mouseClick(dialog.ConnectButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());  // empty: stays open

    dialog.ComboBox1()->setEditText(QString::fromUtf8("日本"));
    QTest::mouseClick(dialog.ConnectButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.Hint().isEmpty());

    dialog.ComboBox1()->setEditText(QString::fromUtf8("кв1 long-callsign"));
    EXPECT_TRUE(dialog.Hint().isEmpty());  // the hint goes with the next edit
    QTest::mouseClick(dialog.ConnectButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Entry(), std::optional<std::string>("\xea\xe2\x31 long-callsign"));  // as typed, not cut
}

TEST(ConnectionDialog, AskAnswersNothingWhenCancelledAndRefillsTheList) {
    TForm3 dialog(nullptr);
    QTimer::singleShot(50, &dialog, [&] {
        dialog.ComboBox1()->setEditText("KAVRA2");
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    });
    EXPECT_EQ(dialog.Ask({"ONE", "TWO"}), std::nullopt);

    QTimer::singleShot(50, &dialog, [&] {
        EXPECT_TRUE(dialog.ComboBox1()->currentText().isEmpty());  // emptied on every opening
        dialog.ComboBox1()->setCurrentIndex(0);
        QTest::keyClick(dialog.ComboBox1(), Qt::Key_Return);  // the default button
    });
    EXPECT_EQ(dialog.Ask({"THREE"}), std::optional<std::string>("THREE"));
    EXPECT_EQ(dialog.ComboBox1()->count(), 1);
}

}  // namespace
}  // namespace kavra::app
