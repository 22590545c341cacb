#pragma once

#include <QGroupBox>
#include <QString>

#include "app/trend.h"

class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QValueAxis;

namespace brelin::gui {

// The trend of the point selected in the readings view: its values over time as a line, the
// current report's readings marked on it. Drag a rectangle to zoom in, right-click to zoom out;
// Reset Zoom shows everything again, Export Chart as PNG... saves the chart as a PNG image.
class TrendView : public QGroupBox {
  Q_OBJECT

 public:
  explicit TrendView(QWidget* parent = nullptr);

  void SetTrend(const app::Trend& trend);
  // An empty chart with a line that says why.
  void Clear(const QString& text);
  // Writes the chart as it is shown to `path`; false when it cannot be written.
  bool SavePng(const QString& path) const;

  // What the chart shows, for tests.
  int pointCount() const;
  int markedCount() const;
  QString title() const;

 private:
  void SaveAs();

  QLabel* title_;
  QChart* chart_;
  QChartView* view_;
  QLineSeries* line_;
  QScatterSeries* marks_;
  QDateTimeAxis* time_;
  QValueAxis* value_;
  QPushButton* save_;
  QPushButton* reset_;
};

}  // namespace brelin::gui
