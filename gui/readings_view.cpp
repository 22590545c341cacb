#include "gui/readings_view.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <set>
#include <utility>

namespace brelin::gui {
namespace {

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void ReadingsModel::SetReadings(std::vector<app::Reading> readings) {
  beginResetModel();
  table_.SetReadings(std::move(readings));
  endResetModel();
}

void ReadingsModel::SetFilter(const QString& text) {
  beginResetModel();
  table_.SetFilter(text.toLatin1().toStdString());
  endResetModel();
}

QString ReadingsModel::CopyText(const QModelIndexList& indexes) const {
  std::set<std::size_t> rows;
  std::set<int> columns;
  for (const QModelIndex& index : indexes) {
    rows.insert(static_cast<std::size_t>(index.row()));
    columns.insert(index.column());
  }
  std::vector<app::Column> chosen;
  for (const int column : columns) chosen.push_back(static_cast<app::Column>(column));
  return Latin1(table_.CopyText({rows.begin(), rows.end()}, chosen));
}

int ReadingsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_.size());
}

int ReadingsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : app::kColumnCount;
}

QVariant ReadingsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const app::Reading& reading = table_.row(static_cast<std::size_t>(index.row()));
  const auto column = static_cast<app::Column>(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return Latin1(app::CellText(reading, column));
    case Qt::FontRole:
      if (reading.newest) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      return {};
    case Qt::ToolTipRole:
      if (reading.newest)
        return QStringLiteral("The newest reading of point %1").arg(reading.point);
      return {};
    case Qt::TextAlignmentRole:
      if (column == app::Column::kPoint || column == app::Column::kNumber ||
          column == app::Column::kValue) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      }
      return {};
    default:
      return {};
  }
}

QVariant ReadingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= app::kColumnCount) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  const std::string_view title = app::ColumnTitle(static_cast<app::Column>(section));
  return QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size()));
}

void ReadingsModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= app::kColumnCount) return;
  beginResetModel();
  table_.Sort(static_cast<app::Column>(column), order == Qt::DescendingOrder);
  endResetModel();
}

ReadingsView::ReadingsView(QWidget* parent) : QGroupBox(QStringLiteral("Rea&dings"), parent) {
  setObjectName(QStringLiteral("groupReadings"));
  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("editFilter"));
  filter_->setPlaceholderText(QStringLiteral("Filter: point, range 100-199, or type"));
  filter_->setClearButtonEnabled(true);
  count_ = new QLabel(this);
  count_->setObjectName(QStringLiteral("labelCount"));
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("labelNote"));
  note_->setWordWrap(true);
  note_->hide();

  view_ = new QTableView(this);
  view_->setObjectName(QStringLiteral("tableReadings"));
  view_->setModel(&model_);
  view_->setSortingEnabled(true);
  view_->sortByColumn(0, Qt::AscendingOrder);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setWordWrap(false);
  view_->verticalHeader()->hide();
  // Fixed row heights and column widths from the font: nothing measures every row.
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  const char* const kWidest[] = {
      "Point", "Nr", "-12345.6", "mSCFM", "IR Temperature Sensor", "Wed Sep 30, 2026 23:59"};
  for (int c = 0; c < app::kColumnCount; ++c) {
    view_->setColumnWidth(c, fontMetrics().horizontalAdvance(QString::fromLatin1(kWidest[c])) + 24);
  }
  view_->horizontalHeader()->setStretchLastSection(true);
  setFocusProxy(filter_);

  auto* copy = new QAction(QStringLiteral("&Copy"), view_);
  copy->setObjectName(QStringLiteral("actionCopy"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  connect(copy, &QAction::triggered, this, &ReadingsView::CopySelection);
  view_->addAction(copy);
  view_->setContextMenuPolicy(Qt::ActionsContextMenu);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(filter_);
  layout->addWidget(view_, 1);
  layout->addWidget(count_);
  layout->addWidget(note_);

  connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            const auto row = static_cast<std::size_t>(current.row());
            if (!current.isValid() || row >= model_.table().size()) {
              Q_EMIT ReadingSelected(-1, 0);
              return;
            }
            const app::Reading& reading = model_.table().row(row);
            Q_EMIT ReadingSelected(reading.point, reading.timestamp);
          });
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    model_.SetFilter(text);
    ShowCount();
  });
  ShowCount();
}

void ReadingsView::SetReadings(std::vector<app::Reading> readings) {
  model_.SetReadings(std::move(readings));
  ShowCount();
}

void ReadingsView::SetNote(const QString& text) {
  note_->setText(text);
  note_->setVisible(!text.isEmpty());
}

void ReadingsView::CopySelection() {
  const QString text = model_.CopyText(view_->selectionModel()->selectedIndexes());
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void ReadingsView::ShowCount() {
  const std::string text = model_.table().CountText();
  count_->setText(QString::fromStdString(text) +
                  (model_.table().size() > 0 ? QStringLiteral("; the newest of each point in bold")
                                             : QString()));
}

}  // namespace brelin::gui
