#include "app/form_abonents.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/qt_station_view.h"
#include "link/abonents.h"

namespace kavra::app {

namespace {

constexpr int kCallsignColumn = 0;
constexpr int kNotesColumn = 1;
constexpr int kAcceptedText = Qt::UserRole;  // the last text the cell took, to go back to

link::AbonentsPage Page(const QTabWidget& pages) {
    return pages.currentIndex() == 1 ? link::AbonentsPage::Privileged : link::AbonentsPage::Data;
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setData(kAcceptedText, text);
    return item;
}

}  // namespace

TForm5::TForm5(DesktopStation& station, QWidget* parent) : QDialog(parent), station_(station) {
    setObjectName("Form5");
    setWindowTitle("Abonents List");
    setModal(true);
    setSizeGripEnabled(true);

    page_control1_ = new QTabWidget(this);
    page_control1_->setObjectName("PageControl1");

    auto* data_page = new QWidget(page_control1_);
    grid_ = new QTableWidget(1, 2, data_page);
    grid_->setObjectName("ValueListEditor1");
    grid_->setHorizontalHeaderLabels({"CALLSIGN", "Notes"});
    grid_->horizontalHeader()->setStretchLastSection(true);
    grid_->setColumnWidth(kCallsignColumn, 120);
    grid_->verticalHeader()->hide();
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setItem(0, kCallsignColumn, Cell(QString()));
    grid_->setItem(0, kNotesColumn, Cell(QString()));
    auto* add = new QPushButton("Add", data_page);
    auto* remove = new QPushButton("Delete", data_page);
    connect(add, &QPushButton::clicked, this, &TForm5::AddRow);
    connect(remove, &QPushButton::clicked, this, &TForm5::DeleteRow);
    connect(grid_, &QTableWidget::itemChanged, this, &TForm5::GridItemChanged);
    auto* row_buttons = new QHBoxLayout;
    row_buttons->addWidget(add);
    row_buttons->addWidget(remove);
    row_buttons->addStretch(1);
    auto* data_layout = new QVBoxLayout(data_page);
    data_layout->addWidget(grid_);
    data_layout->addLayout(row_buttons);
    page_control1_->addTab(data_page, "Abonents data");

    check_list_box1_ = new QListWidget(page_control1_);
    check_list_box1_->setObjectName("CheckListBox1");
    connect(check_list_box1_, &QListWidget::itemChanged, this, [this] { CheckListBox1ClickCheck(); });
    page_control1_->addTab(check_list_box1_, "Privileged list");
    connect(page_control1_, &QTabWidget::currentChanged, this, &TForm5::PageControl1Change);

    hint_ = new QLabel(this);
    hint_->setStyleSheet("color: #b00000");
    hint_->setWordWrap(true);
    hint_->hide();

    auto* close = new QPushButton("Close", this);
    close->setAutoDefault(false);
    close->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(hint_, 1);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(page_control1_);
    layout->addLayout(bottom);
    resize(420, 320);
}

void TForm5::Open() {
    Opened();
    exec();
    Closed();
}

void TForm5::Opened() {
    station::Station& s = station_.Get();
    s.Session().Abonents().WindowOpened(s.Files(), Page(*page_control1_));
    FillGrid();
    FillCheckList();
    hint_->hide();
}

void TForm5::Closed() {
    station::Station& s = station_.Get();
    const link::AbonentsPage page = Page(*page_control1_);
    if (page == link::AbonentsPage::Data) TakeGrid();
    s.Session().Abonents().WindowClosed(s.Files(), page);
}

QString TForm5::Hint() const { return hint_->isHidden() ? QString() : hint_->text(); }

void TForm5::ShowHint(const QString& text) {
    hint_->setText(text);
    hint_->show();
}

void TForm5::FillGrid() {
    filling_ = true;
    const std::vector<link::AbonentRow>& rows = station_.Get().Session().Abonents().Grid();
    grid_->setRowCount(0);
    // An empty list still offers one empty row to type into.
    grid_->setRowCount(rows.empty() ? 1 : static_cast<int>(rows.size()));
    for (int r = 0; r < grid_->rowCount(); ++r) {
        const bool has = static_cast<std::size_t>(r) < rows.size();
        grid_->setItem(r, kCallsignColumn, Cell(has ? QtStationView::FromAir(rows[static_cast<std::size_t>(r)].callsign) : QString()));
        grid_->setItem(r, kNotesColumn, Cell(has ? QtStationView::FromAir(rows[static_cast<std::size_t>(r)].notes) : QString()));
    }
    filling_ = false;
}

void TForm5::FillCheckList() {
    filling_ = true;
    check_list_box1_->clear();
    for (const link::CheckItem& entry : station_.Get().Session().Abonents().CheckList()) {
        auto* item = new QListWidgetItem(QtStationView::FromAir(entry.text), check_list_box1_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(entry.checked ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
}

// Rows without a callsign are not abonents: they are neither listed nor saved.
void TForm5::TakeGrid() {
    std::vector<link::AbonentRow>& rows = station_.Get().Session().Abonents().Grid();
    rows.clear();
    for (int r = 0; r < grid_->rowCount(); ++r) {
        const QTableWidgetItem* callsign = grid_->item(r, kCallsignColumn);
        const QTableWidgetItem* notes = grid_->item(r, kNotesColumn);
        const QString cs = callsign ? callsign->text() : QString();
        if (cs.isEmpty()) continue;
        // Every cell was checked against the character set as it was edited.
        rows.push_back({QtStationView::ToAir(cs).value_or(std::string()),
                        QtStationView::ToAir(notes ? notes->text() : QString()).value_or(std::string())});
    }
}

void TForm5::TakeCheckList() {
    std::vector<link::CheckItem>& items = station_.Get().Session().Abonents().CheckList();
    for (int i = 0; i < check_list_box1_->count() && static_cast<std::size_t>(i) < items.size(); ++i)
        items[static_cast<std::size_t>(i)].checked = check_list_box1_->item(i)->checkState() == Qt::Checked;
}

void TForm5::PageControl1Change(int index) {
    if (index != 1) return;
    TakeGrid();
    station_.Get().Session().Abonents().PrivilegedPageShown();
    FillCheckList();
}

void TForm5::CheckListBox1ClickCheck() {
    if (filling_) return;
    TakeCheckList();
    station_.Get().Session().Abonents().ApplyCheckList();
}

// A cell was edited: a callsign must be one word of the air's character set, unique in the grid;
// notes must be of the air's character set.  A refused edit goes back to the cell's last text.
void TForm5::GridItemChanged(QTableWidgetItem* item) {
    if (filling_ || !item) return;
    const QString text = item->text();
    QString refusal;
    if (!QtStationView::ToAir(text)) {
        refusal = "Only characters of the Windows-1251 set can be stored.";
    } else if (item->column() == kCallsignColumn && !text.isEmpty()) {
        if (text.contains(QRegularExpression("\\s"))) refusal = "A callsign is one word, without spaces.";
        for (int r = 0; r < grid_->rowCount() && refusal.isEmpty(); ++r) {
            const QTableWidgetItem* other = grid_->item(r, kCallsignColumn);
            if (r != item->row() && other && other->text() == text) refusal = "'" + text + "' is already in the list.";
        }
    }
    filling_ = true;
    if (refusal.isEmpty()) {
        item->setData(kAcceptedText, text);
        hint_->hide();
    } else {
        item->setText(item->data(kAcceptedText).toString());
        ShowHint(refusal);
    }
    filling_ = false;
}

void TForm5::AddRow() {
    filling_ = true;
    const int row = grid_->rowCount();
    grid_->insertRow(row);
    grid_->setItem(row, kCallsignColumn, Cell(QString()));
    grid_->setItem(row, kNotesColumn, Cell(QString()));
    filling_ = false;
    grid_->setCurrentCell(row, kCallsignColumn);
    grid_->editItem(grid_->item(row, kCallsignColumn));
}

void TForm5::DeleteRow() {
    const int row = grid_->currentRow();
    if (row >= 0) grid_->removeRow(row);
}

}  // namespace kavra::app
