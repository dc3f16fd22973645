// The report-style list and the drop-down list, with their rows and items.
//
// The list handles the mouse itself so that its events come as the program
// expects them: the press selects the row under it (or clears the selection on
// the empty area), the release reports the click, a double-click reports the
// click and then itself, and a drag reports its start without moving the
// selection. Enter on the selected row is told as its double-click. Cells
// keep the program's bytes beside the text they show, so a cell gives back
// exactly what was put in.
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardItemModel>
#include <QTreeView>
#include <algorithm>
#include <vector>

#include "gui/gui.h"
#include "gui/qt/qt_backend.h"

namespace {

constexpr int BytesRole = Qt::UserRole + 1;
constexpr int OpenedListHeight = 350;

QStandardItem* Cell(std::string_view text) {
    auto* cell = new QStandardItem(ToQt(text));
    cell->setData(QByteArray(text.data(), static_cast<qsizetype>(text.size())), BytesRole);
    cell->setEditable(false);
    return cell;
}

std::string BytesOf(const QVariant& data) {
    return data.toByteArray().toStdString();
}

bool IsClickButton(Qt::MouseButton button) {
    return button == Qt::LeftButton || button == Qt::RightButton;
}

class ReportList : public QTreeView {
  public:
    explicit ReportList(int number);
    QStandardItemModel* Model() const { return model_; }
    int Selected() const;
    void SelectByProgram(int row);
    void RemoveRow(int row);

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    struct Press {
        bool active = false;
        Qt::MouseButton button = Qt::NoButton;
        QPoint at;
        int row = -1;
        bool dragged = false, doubled = false;
    };
    int RowAt(QPoint point) const;
    void Select(int row);
    void BeginPress(const QMouseEvent* event, bool doubled);
    int RowPitch() const;
    void DrawGrid();

    QStandardItemModel* model_;
    int number_;
    Press press_;
};

ReportList::ReportList(int number) : model_(new QStandardItemModel(this)), number_(number) {
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectRows);
    setEditTriggers(NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The selected row stays highlighted while another control has the focus.
    QPalette colours = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    }
    setPalette(colours);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!ProgramChange::Active()) QueueControlEvent(number_, SelectionChange, true);
    });
}

int ReportList::Selected() const {
    QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ReportList::Select(int row) {
    if (row >= 0 && row < model_->rowCount()) {
        selectionModel()->setCurrentIndex(
            model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        selectionModel()->clearSelection();
    }
}

void ReportList::SelectByProgram(int row) {
    Select(row);
    if (row >= 0 && row < model_->rowCount()) scrollTo(model_->index(row, 0));
}

void ReportList::RemoveRow(int row) {
    int selected = Selected();
    ProgramChange own;
    model_->removeRow(row);
    // Qt's view selects a neighbour of a removed current row; the list does not.
    Select(selected == row ? -1 : selected > row ? selected - 1 : selected);
}

int ReportList::RowAt(QPoint point) const {
    // The whole line of a row counts, also right of the last column.
    QModelIndex index = indexAt(QPoint(std::max(columnViewportPosition(0), 0), point.y()));
    return index.isValid() ? index.row() : -1;
}

void ReportList::BeginPress(const QMouseEvent* event, bool doubled) {
    setFocus(Qt::MouseFocusReason);
    QPoint at = event->position().toPoint();
    press_ = {true, event->button(), at, RowAt(at), false, doubled};
    Select(press_.row);
}

void ReportList::mousePressEvent(QMouseEvent* event) {
    if (IsClickButton(event->button())) BeginPress(event, false);
}

void ReportList::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!IsClickButton(event->button())) return;
    BeginPress(event, true);
    bool left = event->button() == Qt::LeftButton;
    QueueControlEvent(number_, left ? LeftDoubleClick : RightDoubleClick, true);
}

void ReportList::mouseReleaseEvent(QMouseEvent* event) {
    if (!press_.active || event->button() != press_.button) return;
    press_.active = false;
    if (press_.dragged || press_.doubled) return;
    bool left = press_.button == Qt::LeftButton;
    QueueControlEvent(number_, left ? LeftClick : RightClick, true);
}

void ReportList::mouseMoveEvent(QMouseEvent* event) {
    if (!press_.active || press_.dragged || press_.button != Qt::LeftButton || press_.row < 0) {
        return;
    }
    QPoint moved = event->position().toPoint() - press_.at;
    if (moved.manhattanLength() < QApplication::startDragDistance()) return;
    press_.dragged = true;
    QueueControlEvent(number_, DragStart, true);
}

void ReportList::focusInEvent(QFocusEvent* event) {
    // Qt makes the top row current, unselected, when the focus arrives, so the
    // first arrow key would select the row below it; with no current row the
    // arrow keys start at the top.
    bool had_current = currentIndex().isValid();
    QTreeView::focusInEvent(event);
    if (!had_current) selectionModel()->clearCurrentIndex();
}

void ReportList::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return QTreeView::keyPressEvent(event);
    if (Selected() >= 0) QueueControlEvent(number_, LeftDoubleClick, true);
}

void ReportList::paintEvent(QPaintEvent* event) {
    QTreeView::paintEvent(event);
    DrawGrid();
}

int ReportList::RowPitch() const {
    if (model_->rowCount() > 0) return rowHeight(model_->index(0, 0));
    return fontMetrics().height() + 3;
}

// Lines at every row and column boundary, on down through the empty area.
void ReportList::DrawGrid() {
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Button).darker(112));
    const int width = viewport()->width(), height = viewport()->height();
    for (int column = 0; column < header()->count(); ++column) {
        int x = columnViewportPosition(column) + columnWidth(column) - 1;
        painter.drawLine(x, 0, x, height);
    }
    const int pitch = RowPitch();
    if (pitch <= 0) return;
    int y = (model_->rowCount() > 0 ? visualRect(model_->index(0, 0)).top() : 0) + pitch - 1;
    if (y < 0) y += (-y + pitch - 1) / pitch * pitch;
    for (; y < height; y += pitch)
        painter.drawLine(0, y, width, y);
}

class DropDownList : public QComboBox {
  public:
    explicit DropDownList(int number) {
        setEditable(false);
        setMaxVisibleItems(100);
        // The opened list is at most this tall and scrolls beyond it.
        view()->parentWidget()->setMaximumHeight(OpenedListHeight);
        // activated, unlike currentIndexChanged, comes only from the user.
        connect(this, &QComboBox::activated, this,
                [number] { QueueControlEvent(number, SelectionChange, true); });
    }
};

ReportList* List(int control) {
    return static_cast<ReportList*>(ControlOfKind(control, ControlKind::List));
}

QComboBox* Combo(int control) {
    return static_cast<QComboBox*>(ControlOfKind(control, ControlKind::Combo));
}

int AddRow(ReportList* list, int position, std::string_view text) {
    QStandardItemModel* model = list->Model();
    int at = position == -1 || position > model->rowCount() ? model->rowCount() : position;
    std::vector<std::string_view> parts = SplitColumns(text);
    QList<QStandardItem*> cells;
    for (int column = 0; column < model->columnCount(); ++column) {
        size_t part = static_cast<size_t>(column);
        cells.append(Cell(part < parts.size() ? parts[part] : std::string_view()));
    }
    ProgramChange own;
    model->insertRow(at, cells);
    return at;
}

int AddComboItem(QComboBox* combo, int position, std::string_view text) {
    int at = position == -1 || position > combo->count() ? combo->count() : position;
    combo->insertItem(at, ToQt(text), QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    return at;
}

}  // namespace

int CreateListView(int control, int x, int y, int width, int height, std::string_view firstTitle,
                   int firstWidth) {
    if (!WindowWidget(ControlWindowNumber())) return 0;
    auto* list = new ReportList(control);
    list->Model()->setColumnCount(1);
    list->Model()->setHorizontalHeaderItem(0, Cell(firstTitle));
    list->header()->resizeSection(0, std::max(firstWidth, 0));
    return AddControl(control, ControlKind::List, list, x, y, width, height);
}

int AddListColumn(int control, int position, std::string_view title, int width) {
    ReportList* list = List(control);
    if (!list || position < 0) return 0;
    QStandardItemModel* model = list->Model();
    int at = std::min(position, model->columnCount());
    QList<QStandardItem*> cells;
    for (int row = 0; row < model->rowCount(); ++row)
        cells.append(Cell(""));
    int selected = list->Selected();
    {
        ProgramChange own;
        model->insertColumn(at, cells);
        list->SelectByProgram(selected);  // the highlight spans the new column too
    }
    model->setHorizontalHeaderItem(at, Cell(title));
    list->header()->resizeSection(at, std::max(width, 0));
    return 1;
}

int CreateDropDownList(int control, int x, int y, int width, int height) {
    if (!WindowWidget(ControlWindowNumber())) return 0;
    return AddControl(control, ControlKind::Combo, new DropDownList(control), x, y, width, height);
}

int AddItem(int control, int position, std::string_view text) {
    if (position < -1) return -1;
    if (ReportList* list = List(control)) return AddRow(list, position, text);
    if (QComboBox* combo = Combo(control)) return AddComboItem(combo, position, text);
    return -1;
}

void RemoveItem(int control, int index) {
    if (ReportList* list = List(control)) {
        if (index >= 0 && index < list->Model()->rowCount()) list->RemoveRow(index);
    } else if (QComboBox* combo = Combo(control)) {
        if (index < 0 || index >= combo->count()) return;
        bool was_selected = combo->currentIndex() == index;
        combo->removeItem(index);
        if (was_selected) combo->setCurrentIndex(-1);
    }
}

void ClearItems(int control) {
    if (ReportList* list = List(control)) {
        ProgramChange own;
        list->Model()->removeRows(0, list->Model()->rowCount());
    } else if (QComboBox* combo = Combo(control)) {
        combo->clear();
    }
}

int CountItems(int control) {
    if (ReportList* list = List(control)) return list->Model()->rowCount();
    if (QComboBox* combo = Combo(control)) return combo->count();
    return 0;
}

int SelectedIndex(int control) {
    if (ReportList* list = List(control)) return list->Selected();
    if (QComboBox* combo = Combo(control)) return combo->currentIndex();
    return -1;
}

void SelectIndex(int control, int index) {
    if (ReportList* list = List(control)) {
        list->SelectByProgram(index);
    } else if (QComboBox* combo = Combo(control)) {
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    }
}

std::string ItemText(int control, int index, int column) {
    if (ReportList* list = List(control)) {
        QStandardItemModel* model = list->Model();
        if (column < 0 || column >= model->columnCount() || index < -1) return "";
        QStandardItem* cell =
            index == -1 ? model->horizontalHeaderItem(column) : model->item(index, column);
        return cell ? BytesOf(cell->data(BytesRole)) : "";
    }
    QComboBox* combo = Combo(control);
    if (!combo || column != 0 || index < 0 || index >= combo->count()) return "";
    return BytesOf(combo->itemData(index));
}

void SetItemText(int control, int index, std::string_view text, int column) {
    ReportList* list = List(control);
    if (!list || column < 0 || column >= list->Model()->columnCount()) return;
    QStandardItemModel* model = list->Model();
    if (index == -1) {
        model->setHorizontalHeaderItem(column, Cell(text));
    } else if (index >= 0 && index < model->rowCount()) {
        QStandardItem* cell = model->item(index, column);
        if (!cell) return model->setItem(index, column, Cell(text));
        // Changed in place, the cell keeps its selection.
        cell->setText(ToQt(text));
        cell->setData(QByteArray(text.data(), static_cast<qsizetype>(text.size())), BytesRole);
    }
}

void SetItemTip(int control, int index, std::string_view text, int column) {
    ReportList* list = List(control);
    if (!list || column < 0 || column >= list->Model()->columnCount()) return;
    QStandardItemModel* model = list->Model();
    if (index < 0 || index >= model->rowCount()) return;
    QStandardItem* cell = model->item(index, column);
    if (!cell) {
        cell = Cell("");
        model->setItem(index, column, cell);
    }
    // The view asks its cell for the tip on hovering, so the tip travels with the row.
    cell->setToolTip(ToQt(text));
}
