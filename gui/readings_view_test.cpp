// The readings view on its own: header clicks sort, the filter field filters, Ctrl+C copies.
#include "gui/readings_view.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QClipboard>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <memory>

#include "report/analysis.h"
#include "report/testing/records.h"

namespace brelin::gui {
namespace {

using report::testing::Measurement;

constexpr std::int32_t kT = 1'100'000'000;

std::vector<app::Reading> KnownReadings() {
  const auto image = report::testing::Image({
      Measurement(150, 19, 500, kT + 30),     // 50.0 °C
      Measurement(5, 20, 605, kT + 10),       // 60.5 dBA
      Measurement(120, 19, 0x4000 | 25, kT),  // -2.5 °C
      Measurement(120, 19, 1000, kT + 20),    // 100.0 °C, the newer
      Measurement(199, 5, 600, kT),           // 10.0 dBuV
  });
  auto decoder = std::make_unique<report::ImageDecoder>();
  for (std::size_t at = 0; at < image.size(); at += report::kRecordSize) {
    decoder->DecodeRecord(image.data() + at, report::kRecordSize);
  }
  auto table = std::make_unique<report::PointTable>();
  decoder->Finish(*table, {});
  return app::ReadingsOf(*table);
}

struct View {
  View() {
    view.SetReadings(KnownReadings());
    view.resize(700, 400);
    view.show();
    QApplication::setActiveWindow(&view);
  }
  QTableView* table() { return view.findChild<QTableView*>(QStringLiteral("tableReadings")); }
  QStringList Column(int column) {
    QStringList cells;
    for (int r = 0; r < table()->model()->rowCount(); ++r) {
      cells << table()->model()->index(r, column).data().toString();
    }
    return cells;
  }
  void ClickHeader(int section) {
    QHeaderView* header = table()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
  }
  QString Count() { return view.findChild<QLabel*>(QStringLiteral("labelCount"))->text(); }

  ReadingsView view;
};

TEST(ReadingsView, HeaderClicksSortTheFilterFiltersAndTheCountFollows) {
  View v;
  EXPECT_EQ(v.Column(0), QStringList({"5", "120", "120", "150", "199"}));
  EXPECT_EQ(v.Column(3), QStringList({"dBA", "\u00B0C", "\u00B0C", "\u00B0C", "dBuV"}));
  EXPECT_EQ(v.Count(), "5 readings of 4 points; the newest of each point in bold");

  v.ClickHeader(2);  // Value, by number
  EXPECT_EQ(v.Column(2), QStringList({"-2.5", "10.0", "50.0", "60.5", "100.0"}));
  v.ClickHeader(2);
  EXPECT_EQ(v.Column(2), QStringList({"100.0", "60.5", "50.0", "10.0", "-2.5"}));

  QTest::keyClicks(v.view.findChild<QLineEdit*>(QStringLiteral("editFilter")),
                   QStringLiteral("100-150"));
  EXPECT_EQ(v.Column(2), QStringList({"100.0", "50.0", "-2.5"})) << "the order stays";
  EXPECT_EQ(v.Count(), "3 readings of 2 points (of 5); the newest of each point in bold");
}

TEST(ReadingsView, MarksTheNewestReadingOfEachPoint) {
  View v;
  QStringList bold;
  for (int r = 0; r < 5; ++r) {
    const QModelIndex index = v.table()->model()->index(r, 1);
    if (index.data(Qt::FontRole).value<QFont>().bold())
      bold << v.Column(0)[r] + "/" + v.Column(1)[r];
  }
  EXPECT_EQ(bold, QStringList({"5/0", "120/1", "150/0", "199/0"}));
}

TEST(ReadingsView, CtrlCCopiesTheSelectedRowsAsTabSeparatedText) {
  View v;
  QApplication::clipboard()->clear();
  v.table()->setFocus();
  v.table()->selectRow(1);
  v.table()->selectionModel()->select(v.table()->model()->index(3, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::keyClick(v.table(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(),
            "120\t0\t-2.5\t\u00B0C\tTemperature Sensor\tTue Nov 09, 2004 11:33\n"
            "150\t0\t50.0\t\u00B0C\tTemperature Sensor\tTue Nov 09, 2004 11:33\n");
}

}  // namespace
}  // namespace brelin::gui
