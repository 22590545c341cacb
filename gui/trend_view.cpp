#include "gui/trend_view.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QScatterSeries>
#include <QTimeZone>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace brelin::gui {
namespace {

// Where a time stamp sits on the time axis. The axis labels its values in the machine's local
// time, but the readings' time stamps are shown as the report shows them, untouched by any time
// zone: so each one moves by the local offset, and the axis labels it with the report's clock.
qreal AxisTime(qint64 seconds) {
  const qint64 offset = QDateTime::fromSecsSinceEpoch(seconds).offsetFromUtc();
  return static_cast<qreal>(seconds - offset) * 1000.0;
}

QList<QPointF> PointsOf(const std::vector<app::TrendPoint>& points) {
  QList<QPointF> out;
  out.reserve(static_cast<qsizetype>(points.size()));
  for (const app::TrendPoint& p : points) out.append(QPointF(AxisTime(p.time), p.value));
  return out;
}

}  // namespace

TrendView::TrendView(QWidget* parent) : QGroupBox(QStringLiteral("Histor&y"), parent) {
  setObjectName(QStringLiteral("groupTrend"));
  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("labelTrend"));
  title_->setTextFormat(Qt::PlainText);
  title_->setWordWrap(true);

  chart_ = new QChart;
  chart_->legend()->hide();
  chart_->setMargins(QMargins(4, 4, 4, 4));
  line_ = new QLineSeries(chart_);
  line_->setPointsVisible(true);
  marks_ = new QScatterSeries(chart_);
  marks_->setMarkerSize(11);
  marks_->setColor(QColor(0xD0, 0x40, 0x20));
  chart_->addSeries(line_);
  chart_->addSeries(marks_);
  time_ = new QDateTimeAxis(chart_);
  time_->setFormat(QStringLiteral("yyyy-MM-dd"));
  time_->setTickCount(5);
  value_ = new QValueAxis(chart_);
  chart_->addAxis(time_, Qt::AlignBottom);
  chart_->addAxis(value_, Qt::AlignLeft);
  for (QAbstractSeries* series :
       {static_cast<QAbstractSeries*>(line_), static_cast<QAbstractSeries*>(marks_)}) {
    series->attachAxis(time_);
    series->attachAxis(value_);
  }

  view_ = new QChartView(chart_, this);
  view_->setObjectName(QStringLiteral("chartTrend"));
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setRubberBand(QChartView::RectangleRubberBand);
  view_->setMinimumHeight(160);

  save_ = new QPushButton(QStringLiteral("E&xport Chart as PNG..."), this);
  save_->setObjectName(QStringLiteral("buttonSaveChart"));
  reset_ = new QPushButton(QStringLiteral("Reset &Zoom"), this);
  reset_->setObjectName(QStringLiteral("buttonResetZoom"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(title_, 1);
  buttons->addWidget(reset_);
  buttons->addWidget(save_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(view_, 1);

  connect(save_, &QPushButton::clicked, this, &TrendView::SaveAs);
  connect(reset_, &QPushButton::clicked, chart_, &QChart::zoomReset);
  Clear(QStringLiteral("Select a reading to see its point's trend."));
}

void TrendView::SetTrend(const app::Trend& trend) {
  chart_->zoomReset();
  line_->replace(PointsOf(trend.points));
  marks_->replace(PointsOf(trend.marked));
  const QString unit = QString::fromLatin1(trend.unit.c_str()).trimmed();
  QString text =
      QStringLiteral("Point %1: %2 %3 %4")
          .arg(trend.point)
          .arg(trend.points.size())
          .arg(trend.points.size() == 1 ? QStringLiteral("reading") : QStringLiteral("readings"))
          .arg(trend.fromHistory ? QStringLiteral("from the history")
                                 : QStringLiteral("of this image"));
  if (!unit.isEmpty()) text += QStringLiteral(" in ") + unit;
  if (!trend.marked.empty()) text += QStringLiteral("; the report's in red");
  if (!trend.note.empty()) text += QStringLiteral(" (") + QString::fromStdString(trend.note) + ')';
  title_->setText(text);
  value_->setTitleText(unit);

  if (trend.points.empty()) {
    time_->setVisible(false);
    value_->setVisible(false);
    save_->setEnabled(false);
    reset_->setEnabled(false);
    return;
  }
  const auto [low, high] = std::minmax_element(
      trend.points.begin(), trend.points.end(),
      [](const app::TrendPoint& a, const app::TrendPoint& b) { return a.value < b.value; });
  // A little room around the line, and a range even for a single value.
  const double margin = std::max((high->value - low->value) * 0.08, 0.5);
  value_->setRange(low->value - margin, high->value + margin);
  const qint64 first = trend.points.front().time, last = trend.points.back().time;
  const qint64 span = std::max<qint64>((last - first) / 20, 3600);
  time_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(AxisTime(first - span))),
                  QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(AxisTime(last + span))));
  time_->setVisible(true);
  value_->setVisible(true);
  save_->setEnabled(true);
  reset_->setEnabled(true);
}

void TrendView::Clear(const QString& text) {
  chart_->zoomReset();
  line_->clear();
  marks_->clear();
  value_->setTitleText({});
  // No axes over nothing: they would count from 1970.
  time_->setVisible(false);
  value_->setVisible(false);
  title_->setText(text);
  save_->setEnabled(false);
  reset_->setEnabled(false);
}

bool TrendView::SavePng(const QString& path) const {
  return view_->grab().save(path, "PNG");
}

int TrendView::pointCount() const {
  return static_cast<int>(line_->count());
}

int TrendView::markedCount() const {
  return static_cast<int>(marks_->count());
}

QString TrendView::title() const {
  return title_->text();
}

void TrendView::SaveAs() {
  QFileDialog chooser(this, QStringLiteral("Save Chart as PNG"));
  chooser.setAcceptMode(QFileDialog::AcceptSave);  // asks before overwriting
  chooser.setNameFilter(QStringLiteral("PNG image (*.png)"));
  chooser.setDefaultSuffix(QStringLiteral("png"));
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  const QString path = chooser.selectedFiles().constFirst();
  if (!SavePng(path)) {
    QMessageBox::warning(this, QStringLiteral("Save Chart as PNG"),
                         QStringLiteral("%1 could not be written.").arg(path));
  }
}

}  // namespace brelin::gui
