// The trend chart on its own: what it is given is what it draws, and it saves as a PNG.
#include "gui/trend_view.h"

#include <gmock/gmock.h>

#include <QChartView>
#include <QDateTimeAxis>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <ctime>

namespace brelin::gui {
namespace {

TEST(TrendView, DrawsThePointsMarksTheReportsAndSavesAPng) {
  TrendView view;
  view.resize(600, 300);
  view.show();
  auto* save = view.findChild<QPushButton*>(QStringLiteral("buttonSaveChart"));
  EXPECT_FALSE(save->isEnabled());
  EXPECT_EQ(view.title(), "Select a reading to see its point's trend.");

  app::Trend trend{.point = 12,
                   .unit = "\260C",
                   .points = {{1'100'000'000, 20.5}, {1'100'086'400, 22.0}, {1'100'172'800, 19.0}},
                   .marked = {{1'100'172'800, 19.0}},
                   .fromHistory = true,
                   .note = {}};
  view.SetTrend(trend);
  EXPECT_EQ(view.pointCount(), 3);
  EXPECT_EQ(view.markedCount(), 1);
  EXPECT_EQ(
      view.title(),
      QString::fromUtf8("Point 12: 3 readings from the history in \u00B0C; the report's in red"));
  EXPECT_TRUE(save->isEnabled());

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("trend.png"));
  ASSERT_TRUE(view.SavePng(path));
  const QImage image(path, "PNG");
  EXPECT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 100);
  EXPECT_FALSE(view.SavePng(dir.filePath(QStringLiteral("no/such/folder/trend.png"))));

  trend.points.resize(1);
  trend.marked.clear();
  trend.fromHistory = false;
  trend.note = "h.sqlite3 is locked by another program";
  view.SetTrend(trend);
  EXPECT_EQ(view.pointCount(), 1);
  EXPECT_EQ(view.markedCount(), 0);
  EXPECT_EQ(view.title(), QString::fromUtf8("Point 12: 1 reading of this image in \u00B0C "
                                            "(h.sqlite3 is locked by another program)"));
  view.Clear(QStringLiteral("none"));
  EXPECT_EQ(view.pointCount(), 0);
  EXPECT_FALSE(save->isEnabled());
}

// The time axis labels a reading with the time the report gives it, in any time zone of the
// machine.
TEST(TrendView, TheTimeAxisKeepsTheReportsClock) {
  const QByteArray zone = qgetenv("TZ");
  for (const char* machineZone : {"UTC", "America/New_York", "Asia/Kolkata"}) {
    qputenv("TZ", machineZone);
    tzset();
    TrendView view;
    // 2004-11-09 11:33:20 in the report; the axis starts an hour before the only reading.
    view.SetTrend({.point = 1,
                   .unit = "dBuV",
                   .points = {{1'100'000'000, 3.0}},
                   .marked = {},
                   .fromHistory = false,
                   .note = {}});
    const auto axes = view.findChild<QChartView*>()->chart()->axes(Qt::Horizontal);
    ASSERT_EQ(axes.size(), 1);
    EXPECT_EQ(
        static_cast<QDateTimeAxis*>(axes[0])->min().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
        "2004-11-09 10:33:20")
        << machineZone;
  }
  if (zone.isNull()) {
    qunsetenv("TZ");
  } else {
    qputenv("TZ", zone);
  }
  tzset();
}

}  // namespace
}  // namespace brelin::gui
