#pragma once

#include <QAbstractTableModel>
#include <QGroupBox>
#include <vector>

#include "app/readings.h"

class QLabel;
class QLineEdit;
class QTableView;

namespace brelin::gui {

// The readings as a Qt table model: a thin layer over app::ReadingsTable, which holds the rows,
// their order and the filter. The newest reading of each point is bold.
class ReadingsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetReadings(std::vector<app::Reading> readings);
  void SetFilter(const QString& text);
  const app::ReadingsTable& table() const { return table_; }
  // The cells of `indexes` as tab-separated lines: the rows and columns they touch, in view order.
  QString CopyText(const QModelIndexList& indexes) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  app::ReadingsTable table_;
};

// The readings view beside the commands: a filter field, the count and the sortable table. Ctrl+C
// and the table's context menu copy the selection to the clipboard.
class ReadingsView : public QGroupBox {
  Q_OBJECT

 public:
  explicit ReadingsView(QWidget* parent = nullptr);

  void SetReadings(std::vector<app::Reading> readings);
  // A line under the count, e.g. why the view and the report file differ; empty hides it.
  void SetNote(const QString& text);
  void CopySelection();

  ReadingsModel& model() { return model_; }
  QTableView* table() { return view_; }

 Q_SIGNALS:
  // The operator moved to the reading of `point` at `timestamp`; point -1 when no row is current.
  void ReadingSelected(int point, qint32 timestamp);

 private:
  void ShowCount();

  ReadingsModel model_;
  QLineEdit* filter_;
  QLabel* count_;
  QLabel* note_;
  QTableView* view_;
};

}  // namespace brelin::gui
