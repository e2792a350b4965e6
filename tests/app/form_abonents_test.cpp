// The abonents list window over the station's list and "abonents.txt": load, the privileged list,
// a save and a reload, unique callsigns, a renamed callsign losing its privilege.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <sstream>

#include "app/desktop.h"
#include "app/form_abonents.h"
#include "app/form_connection.h"
#include "app/form_main.h"
#include "app/qt_station_view.h"

namespace kavra::app {
namespace {

std::string ReadAll(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const QString& path, const std::string& text) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << text;
}

QStringList GridRows(const QTableWidget& grid) {
    QStringList rows;
    for (int r = 0; r < grid.rowCount(); ++r)
        rows << grid.item(r, 0)->text() + "|" + grid.item(r, 1)->text();
    return rows;
}

QStringList Checks(const QListWidget& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i)
        items << list.item(i)->text() + (list.item(i)->checkState() == Qt::Checked ? "+" : "-");
    return items;
}

struct StartedDemo {
    StartedDemo() {
        DesktopOptions o;
        o.demo = true;
        o.demo_folder = folder.path().toStdString();
        desktop = std::make_unique<Desktop>(o);
        desktop->Show();
        file = folder.filePath("KAVRA1/abonents.txt");
    }
    ~StartedDemo() { desktop->Windows().main->close(); }
    TForm5& Window() { return *desktop->Windows().abonents; }
    QTemporaryDir folder;
    std::unique_ptr<Desktop> desktop;
    QString file;
};

TEST(AbonentsWindow, GridAndPrivilegesSurviveSavingAndReloading) {
    StartedDemo d;
    TForm5& w = d.Window();
    EXPECT_EQ(w.windowTitle(), "Abonents List");
    EXPECT_EQ(w.PageControl1()->tabText(0), "Abonents data");
    EXPECT_EQ(w.PageControl1()->tabText(1), "Privileged list");
    EXPECT_EQ(w.Grid()->horizontalHeaderItem(0)->text(), "CALLSIGN");
    EXPECT_EQ(w.Grid()->horizontalHeaderItem(1)->text(), "Notes");
    WriteAll(d.file, "AB1CD 1 evening schedule\nXY2Z 0\n\xca\xc2\x31 0 \xe4\xed\xe5\xec\n");

    w.PageControl1()->setCurrentIndex(0);
    w.Opened();
    EXPECT_EQ(GridRows(*w.Grid()), QStringList({"AB1CD|evening schedule", "XY2Z|", QString::fromUtf8("КВ1|днем")}));
    w.PageControl1()->setCurrentIndex(1);
    EXPECT_EQ(Checks(*w.CheckListBox1()), QStringList({"AB1CD+", "XY2Z-", QString::fromUtf8("КВ1-")}));
    w.CheckListBox1()->item(1)->setCheckState(Qt::Checked);
    w.CheckListBox1()->item(0)->setCheckState(Qt::Unchecked);
    w.Closed();
    EXPECT_EQ(ReadAll(d.file), "AB1CD 0 evening schedule\nXY2Z 1 \n\xca\xc2\x31 0 \xe4\xed\xe5\xec\n");
    // The auto-accept rule and the Connection dialog see the store.
    link::AbonentsList& list = d.desktop->Station().Get().Session().Abonents();
    EXPECT_TRUE(list.IsPrivileged("XY2Z"));
    EXPECT_FALSE(list.IsPrivileged("AB1CD"));

    // Reopened on the privileged page: the checks come back from the file.
    w.Opened();
    EXPECT_EQ(Checks(*w.CheckListBox1()), QStringList({"AB1CD-", "XY2Z+", QString::fromUtf8("КВ1-")}));
    w.Closed();

    // On the data page: a duplicate callsign is refused, a renamed one loses its privilege.
    w.PageControl1()->setCurrentIndex(0);
    w.Opened();
    w.Grid()->item(0, 0)->setText("XY2Z");
    EXPECT_EQ(w.Grid()->item(0, 0)->text(), "AB1CD");
    EXPECT_FALSE(w.Hint().isEmpty());
    w.Grid()->item(2, 0)->setText("two words");
    EXPECT_EQ(w.Grid()->item(2, 0)->text(), QString::fromUtf8("КВ1"));
    w.Grid()->item(1, 0)->setText("XY3Z");
    EXPECT_EQ(w.Grid()->item(1, 0)->text(), "XY3Z");
    EXPECT_TRUE(w.Hint().isEmpty());
    w.Grid()->item(1, 1)->setText(QString::fromUtf8("日本"));  // notes outside the set
    EXPECT_EQ(w.Grid()->item(1, 1)->text(), "");
    w.AddRow();
    w.Grid()->item(3, 0)->setText("NEW1");
    w.Grid()->item(3, 1)->setText("added");
    w.AddRow();  // left empty: not an abonent
    w.Closed();
    EXPECT_EQ(ReadAll(d.file), "AB1CD 0 evening schedule\nXY3Z 0 \n\xca\xc2\x31 0 \xe4\xed\xe5\xec\nNEW1 0 added\n");
    EXPECT_EQ(list.Callsigns(), (std::vector<std::string>{"AB1CD", "XY3Z", "\xca\xc2\x31", "NEW1"}));
}

TEST(AbonentsWindow, AnEmptyGridWritesAnEmptyFile) {
    StartedDemo d;
    TForm5& w = d.Window();
    WriteAll(d.file, "ONE 1 x\n");
    w.PageControl1()->setCurrentIndex(0);
    w.Opened();
    w.Grid()->setCurrentCell(0, 0);
    w.DeleteRow();
    EXPECT_EQ(w.Grid()->rowCount(), 0);
    w.Closed();
    EXPECT_EQ(ReadAll(d.file), "");
    w.Opened();
    EXPECT_EQ(w.Grid()->rowCount(), 1);  // one empty row to type into
    w.Closed();
    EXPECT_EQ(ReadAll(d.file), "");
}

}  // namespace
}  // namespace kavra::app
