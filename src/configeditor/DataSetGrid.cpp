#include "configeditor/DataSetGrid.h"

#include "core/ErrorDisplay.h"
#include "core/Exceptions.h"
#include "data/DataSet.h"
#include "data/Field.h"
#include "platform/MessageDisplay.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>

#include <numeric>

namespace velkaro {

namespace {

class MaxLengthDelegate : public QStyledItemDelegate {
public:
    explicit MaxLengthDelegate(DataSetGrid* grid)
        : QStyledItemDelegate(grid)
        , grid_(grid)
    {
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor); line != nullptr && grid_->GridModel() != nullptr) {
            const int max = grid_->GridModel()->MaxLength(index.column());
            if (max > 0)
                line->setMaxLength(max);
        }
        return editor;
    }

private:
    DataSetGrid* grid_;
};

} // namespace

// ---- model -----------------------------------------------------------------

DataSetGridModel::DataSetGridModel(TDataSet* dataSet, std::vector<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent)
    , dataSet_(dataSet)
    , columns_(std::move(columns))
{
    Reload();
}

int DataSetGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int DataSetGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columns_.size());
}

QString DataSetGridModel::cell(int row, int column) const
{
    if (pending_ && pending_->row == row)
        return pending_->values.value(column);
    return rows_[size_t(row)].value(column);
}

QVariant DataSetGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return cell(index.row(), index.column());
    return {};
}

QVariant DataSetGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section < int(columns_.size()) ? QVariant(columns_[size_t(section)].fieldName) : QVariant();
    // The row indicator: where the cursor is, and whether the row is being
    // inserted or edited.
    if (section != currentRow_)
        return QString();
    if (pending_ && pending_->row == section)
        return pending_->inserted ? QStringLiteral("*") : QStringLiteral("I");
    return QStringLiteral("▶");
}

Qt::ItemFlags DataSetGridModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.isValid() && !columns_[size_t(index.column())].readOnly)
        f |= Qt::ItemIsEditable;
    return f;
}

int DataSetGridModel::MaxLength(int column) const
{
    if (column < 0 || column >= int(columns_.size()) || !dataSet_->Active())
        return 0;
    const TField* field = dataSet_->FindField(columns_[size_t(column)].fieldName);
    return field != nullptr ? field->Size() : 0;
}

bool DataSetGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || columns_[size_t(index.column())].readOnly)
        return false;
    const int row = index.row();
    QString text = value.toString();
    if (const int max = MaxLength(index.column()); max > 0)
        text.truncate(max);
    if (!pending_ || pending_->row != row) {
        if (pending_)
            Post();
        pending_ = Pending {row, false, false, rows_[size_t(row)]};
    }
    if (pending_->values.value(index.column()) != text || pending_->inserted) {
        pending_->values[index.column()] = text;
        pending_->changed = true;
    }
    emit dataChanged(index, index);
    emit headerDataChanged(Qt::Vertical, row, row);
    return true;
}

void DataSetGridModel::Reload()
{
    reread();
    loaded_ = rows_;
    origins_.resize(rows_.size());
    std::iota(origins_.begin(), origins_.end(), 0);
}

void DataSetGridModel::reread()
{
    beginResetModel();
    pending_.reset();
    rows_.clear();
    if (dataSet_->Active()) {
        const int keep = dataSet_->RecNo();
        dataSet_->First();
        while (!dataSet_->Eof()) {
            QStringList values;
            for (const GridColumn& c : columns_) {
                const TField* field = dataSet_->FindField(c.fieldName);
                values.append(field != nullptr ? field->AsString() : QString());
            }
            rows_.push_back(values);
            dataSet_->Next();
        }
        if (keep > 0)
            dataSet_->SetRecNo(keep);
    }
    // Only this model changes the table, so the rows are the ones it knew.
    origins_.resize(rows_.size(), -1);
    currentRow_ = std::clamp(currentRow_, 0, std::max(0, int(rows_.size()) - 1));
    endResetModel();
}

void DataSetGridModel::SetCurrentRow(int row)
{
    const int old = currentRow_;
    currentRow_ = row;
    emit headerDataChanged(Qt::Vertical, std::min(old, row), std::max(old, row));
}

void DataSetGridModel::InsertRow(int row)
{
    if (pending_)
        Post();
    row = std::clamp(row, 0, int(rows_.size()));
    beginInsertRows({}, row, row);
    rows_.insert(rows_.begin() + row, QStringList(QList<QString>(qsizetype(columns_.size()))));
    origins_.insert(origins_.begin() + row, -1);
    pending_ = Pending {row, true, false, rows_[size_t(row)]};
    endInsertRows();
    SetCurrentRow(row);
}

void DataSetGridModel::Post()
{
    if (!pending_)
        return;
    const Pending p = *pending_;
    if (p.inserted && !p.changed) {
        Cancel();
        return;
    }
    if (!p.changed) {
        pending_.reset();
        emit headerDataChanged(Qt::Vertical, p.row, p.row);
        return;
    }
    try {
        if (p.inserted) {
            const int tableRows = int(rows_.size()) - 1;
            if (p.row < tableRows) {
                dataSet_->SetRecNo(p.row + 1);
                dataSet_->Insert();
            } else {
                dataSet_->Append();
            }
        } else {
            dataSet_->SetRecNo(p.row + 1);
            dataSet_->Edit();
        }
        for (size_t c = 0; c < columns_.size(); ++c) {
            if (columns_[c].readOnly && !p.inserted)
                continue;
            if (TField* field = dataSet_->FindField(columns_[c].fieldName))
                field->SetAsString(p.values.value(qsizetype(c)));
        }
        dataSet_->Post();
    } catch (...) {
        if (dataSet_->State() == TDataSetState::dsEdit || dataSet_->State() == TDataSetState::dsInsert)
            dataSet_->Cancel();
        throw;
    }
    pending_.reset();
    const int keep = currentRow_;
    reread();
    currentRow_ = std::min(keep, std::max(0, rowCount() - 1));
}

void DataSetGridModel::Cancel()
{
    if (!pending_)
        return;
    const Pending p = *pending_;
    pending_.reset();
    if (p.inserted) {
        beginRemoveRows({}, p.row, p.row);
        rows_.erase(rows_.begin() + p.row);
        origins_.erase(origins_.begin() + p.row);
        endRemoveRows();
        currentRow_ = std::min(currentRow_, std::max(0, rowCount() - 1));
    } else {
        emit dataChanged(index(p.row, 0), index(p.row, columnCount() - 1));
    }
    emit headerDataChanged(Qt::Vertical, 0, std::max(0, rowCount() - 1));
}

void DataSetGridModel::DeleteRow(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    if (pending_ && pending_->row == row) {
        const bool inserted = pending_->inserted;
        Cancel();
        if (inserted)
            return;
    } else if (pending_) {
        Post();
    }
    dataSet_->SetRecNo(row + 1);
    dataSet_->Delete();
    origins_.erase(origins_.begin() + row);
    const int keep = currentRow_;
    reread();
    currentRow_ = std::min(keep, std::max(0, rowCount() - 1));
}

// ---- view ------------------------------------------------------------------

DataSetGrid::DataSetGrid(QWidget* parent)
    : QTableView(parent)
{
    setItemDelegate(new MaxLengthDelegate(this));
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked
        | QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTabKeyNavigation(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(true);
    verticalHeader()->setDefaultSectionSize(18);
    verticalHeader()->setFixedWidth(14);
}

void DataSetGrid::SetGridModel(DataSetGridModel* model)
{
    model_ = model;
    setModel(model);
    for (int c = 0; c < model->columnCount(); ++c)
        setColumnWidth(c, model->Columns()[size_t(c)].width);
    if (model->rowCount() > 0)
        setCurrentIndex(model->index(0, 0));
}

void DataSetGrid::PostEdits()
{
    if (state() == QAbstractItemView::EditingState) {
        if (QWidget* editor = indexWidget(currentIndex()))
            commitData(editor);
        closeEditor(indexWidget(currentIndex()), QAbstractItemDelegate::NoHint);
    }
    if (QWidget* editor = focusWidget(); editor != nullptr && editor->parentWidget() == viewport()) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
    model_->Post();
}

void DataSetGrid::keyPressEvent(QKeyEvent* event)
{
    if (model_ == nullptr) {
        QTableView::keyPressEvent(event);
        return;
    }
    const int row = currentIndex().isValid() ? currentIndex().row() : 0;
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    try {
        if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
            if (model_->rowCount() == 0)
                return;
            const auto answer = platform::Messages().Show(platform::ApplicationTitle(),
                QStringLiteral("Delete record?"), platform::MessageIcon::Question, platform::MessageButtons::OkCancel);
            if (answer == platform::MessageResult::Ok) {
                model_->DeleteRow(row);
                if (model_->rowCount() > 0)
                    setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1), column));
            }
            return;
        }
        if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier) {
            model_->InsertRow(model_->rowCount() == 0 ? 0 : row);
            setCurrentIndex(model_->index(model_->CurrentRow(), column));
            return;
        }
        if (event->key() == Qt::Key_Down && event->modifiers() == Qt::NoModifier
            && (model_->rowCount() == 0 || row == model_->rowCount() - 1)) {
            // Moving down past the last row opens a new one, unless the last
            // row is itself a new row nobody has typed into.
            model_->Post();
            if (model_->rowCount() == 0 || row == model_->rowCount() - 1) {
                model_->InsertRow(model_->rowCount());
                setCurrentIndex(model_->index(model_->CurrentRow(), column));
            }
            return;
        }
        if (event->key() == Qt::Key_Escape && state() != QAbstractItemView::EditingState) {
            model_->Cancel();
            if (model_->rowCount() > 0)
                setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1), column));
            return;
        }
    } catch (const std::exception& e) {
        ShowErrorBox(e);
        return;
    }
    QTableView::keyPressEvent(event);
}

void DataSetGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (model_ == nullptr)
        return;
    // Leaving the row being changed stores it (or drops it, if it is a new
    // row nobody typed into).
    if (current.isValid() && previous.isValid() && current.row() != previous.row()
        && model_->PendingRow() == previous.row()) {
        int target = current.row();
        try {
            const int before = model_->rowCount();
            model_->Post();
            if (model_->rowCount() < before && target > previous.row())
                --target; // the dropped row stood above the target
        } catch (const std::exception& e) {
            ShowErrorBox(e);
        }
        // Storing re-reads the table, which clears the view's current cell:
        // the cursor goes where the user moved it.
        target = std::min(target, model_->rowCount() - 1);
        if (target >= 0) {
            setCurrentIndex(model_->index(target, current.column()));
            model_->SetCurrentRow(target);
        }
        return;
    }
    if (current.isValid())
        model_->SetCurrentRow(current.row());
}
} // namespace velkaro
