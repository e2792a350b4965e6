// TForm5 "Abonents List": the grid of callsigns and notes and the privileged check list over the
// station's abonents list, which reads "abonents.txt" when the window opens and writes it when
// the window closes.
#pragma once

#include <QDialog>

#include "app/desktop_station.h"

class QLabel;
class QListWidget;
class QTableWidget;
class QTabWidget;
class QTableWidgetItem;

namespace kavra::app {

class TForm5 : public QDialog {
    Q_OBJECT
public:
    TForm5(DesktopStation& station, QWidget* parent);

    // "Abonents List": load, show modally, then save however the window was closed.
    void Open();
    // The two halves of Open around the modal loop (for tests).
    void Opened();
    void Closed();

    QTabWidget* PageControl1() const { return page_control1_; }
    QTableWidget* Grid() const { return grid_; }
    QListWidget* CheckListBox1() const { return check_list_box1_; }
    QString Hint() const;
    // A row added at the end (the grid's "Add" button).
    void AddRow();
    // The current row removed (the grid's "Delete" button).
    void DeleteRow();

private:
    void FillGrid();
    void FillCheckList();
    void TakeGrid();       // the grid widget into the station's model
    void TakeCheckList();  // the check states into the station's model
    void PageControl1Change(int index);
    void CheckListBox1ClickCheck();
    void GridItemChanged(QTableWidgetItem* item);
    void ShowHint(const QString& text);

    DesktopStation& station_;
    QTabWidget* page_control1_ = nullptr;
    QTableWidget* grid_ = nullptr;
    QListWidget* check_list_box1_ = nullptr;
    QLabel* hint_ = nullptr;
    bool filling_ = false;
};

}  // namespace kavra::app
