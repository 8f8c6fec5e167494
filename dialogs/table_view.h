// The report-style lists of the dialogs: a QTableView over a model that asks for every cell as it
// draws it. Column captions and widths come from the form (dynamic properties columnCaptions and
// columnWidths of the view).
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

class QAbstractItemModel;
class QTableView;
class OleVariant;

QStringList ColumnCaptions(const QTableView& view);
// Sets the model, the designed column widths, row height and header behaviour (not clickable);
// Tab leaves the list.
void SetUpTableView(QTableView& view, QAbstractItemModel* model);
// A value as the lists show it: the ordinary variant-to-text conversion; a value without a text
// form (an array, say) shows as empty text.
QString VariantText(const OleVariant& value);

// A list model whose column titles come from the form; the rows and cells are the subclass's.
class TCaptionedTableModel : public QAbstractTableModel {
 public:
  TCaptionedTableModel(QStringList captions, QObject* parent);
  int columnCount(const QModelIndex& parent) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Makes the view ask again for every cell of the rows first..last (nothing for an empty range).
  void RowsChanged(int first, int last);

 private:
  QStringList FCaptions;
};
