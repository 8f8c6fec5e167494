#include "dialogs/table_view.h"

#include <QHeaderView>
#include <QTableView>
#include <utility>

#include "dialogs/dialog_strings.h"
#include "platform/ole_variant.h"

QStringList ColumnCaptions(const QTableView& view) {
  return view.property("columnCaptions").toStringList();
}

void SetUpTableView(QTableView& view, QAbstractItemModel* model) {
  view.setModel(model);
  QHeaderView* header = view.horizontalHeader();
  header->setSectionsClickable(false);
  header->setSortIndicatorShown(false);
  // Tab and Shift+Tab move on to the window's other controls, as in a native list; the arrow keys
  // move between the rows.
  view.setTabKeyNavigation(false);
  const QStringList widths = view.property("columnWidths").toStringList();
  for (int column = 0; column < widths.size(); ++column)
    view.setColumnWidth(column, widths[column].toInt());
  view.verticalHeader()->setDefaultSectionSize(view.fontMetrics().height() + 6);
  view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

QString VariantText(const OleVariant& value) {
  try {
    return QText(value.AsString());
  } catch (const std::exception&) {
    return QString();
  }
}

TCaptionedTableModel::TCaptionedTableModel(QStringList captions, QObject* parent)
    : QAbstractTableModel(parent), FCaptions(std::move(captions)) {}

int TCaptionedTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FCaptions.size());
}

QVariant TCaptionedTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < FCaptions.size())
    return FCaptions[section];
  return {};
}

void TCaptionedTableModel::RowsChanged(int first, int last) {
  if (first <= last) emit dataChanged(index(first, 0), index(last, columnCount({}) - 1));
}
