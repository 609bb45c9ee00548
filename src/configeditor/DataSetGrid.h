#pragma once
// A data grid over an open table, behaving as the configuration editor's
// users expect of such a grid:
// - typing into an editable cell changes the row; moving to another row (or
//   Post) stores it, Escape abandons it;
// - Insert, or moving down past the last row, opens a new empty row, which
//   joins the table only if something is typed into it;
// - Ctrl+Delete deletes the current row after the question "Delete record?".
// The grid keeps a copy of the rows for display and writes to the table only
// when a row is stored or deleted, so the table is never left half-edited.
// The model remembers the rows as it first read them and which of them each
// row now shown started as, so that the user's own changes can be told
// apart (edited, added, deleted rows). The table must have no index and be
// changed only through the model: row N of the grid is row N of the table.

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include <optional>
#include <vector>

namespace velkaro {

class TDataSet;

struct GridColumn {
    QString fieldName;
    int width = 64;
    bool readOnly = false;
};

class DataSetGridModel : public QAbstractTableModel {
    Q_OBJECT

public:
    DataSetGridModel(TDataSet* dataSet, std::vector<GridColumn> columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    const std::vector<GridColumn>& Columns() const { return columns_; }
    // Width in characters a cell accepts (the field's size), 0 for no limit.
    int MaxLength(int column) const;

    // Reloads the copy of the rows from the table (drops pending changes);
    // these are now the loaded rows, and no row counts as changed.
    void Reload();
    // The rows as the last Reload read them, one value per column.
    const std::vector<QStringList>& LoadedRows() const { return loaded_; }
    // Which loaded row Row started as (an index into LoadedRows()), or -1 for
    // a row added since. A loaded row that is no Origin of any row was
    // deleted.
    int Origin(int row) const { return origins_[size_t(row)]; }
    void SetCurrentRow(int row);
    int CurrentRow() const { return currentRow_; }
    // Opens a new empty row at Row (before it; at the end when Row equals the
    // number of rows).
    void InsertRow(int row);
    // Stores the pending row into the table; an inserted row with nothing
    // typed into it is dropped instead. Raises the table's errors.
    void Post();
    // Abandons the pending row.
    void Cancel();
    void DeleteRow(int row);
    bool HasPendingRow() const { return pending_.has_value(); }
    int PendingRow() const { return pending_ ? pending_->row : -1; }

private:
    struct Pending {
        int row = 0;
        bool inserted = false;
        bool changed = false;
        QStringList values;
    };
    QString cell(int row, int column) const;
    // Reads the rows again after the model changed the table; every row
    // keeps its origin.
    void reread();

    TDataSet* dataSet_;
    std::vector<GridColumn> columns_;
    std::vector<QStringList> rows_;
    std::vector<int> origins_; // one per row of rows_
    std::vector<QStringList> loaded_;
    std::optional<Pending> pending_;
    int currentRow_ = 0;
};

class DataSetGrid : public QTableView {
    Q_OBJECT

public:
    explicit DataSetGrid(QWidget* parent = nullptr);
    void SetGridModel(DataSetGridModel* model);
    DataSetGridModel* GridModel() const { return model_; }
    // Ends any cell editing, keeping what was typed, and stores the pending row.
    void PostEdits();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    DataSetGridModel* model_ = nullptr;
};

} // namespace velkaro
