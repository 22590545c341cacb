#include "gui/autorun.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "gui/main_dialog.h"
#include "serial/discovery.h"

namespace brelin::gui {

void ScheduleAutorun(MainDialog& window, const QString& portPath, const QString& outputPath,
                     const QString& screenshotPath, int point) {
  auto failed = std::make_shared<bool>(false);
  window.SetMessagePresenter([failed](QWidget*, const QString& text) {
    std::fprintf(stderr, "brelin: %s\n", text.toLocal8Bit().constData());
    *failed = true;
  });
  window.portIndex = serial::AddPortPath(QFile::encodeName(portPath).toStdString());
  window.findChild<QLineEdit*>(QStringLiteral("edit1000"))->setText(outputPath);

  QTimer::singleShot(0, &window, [&window, screenshotPath, failed, point] {
    window.findChild<QPushButton*>(QStringLiteral("button1003"))->click();
    auto* table = window.findChild<QTableView*>(QStringLiteral("tableReadings"));
    for (int row = 0; point >= 0 && row < table->model()->rowCount(); ++row) {
      if (table->model()->index(row, 0).data().toInt() == point) {
        table->selectRow(row);
        table->scrollTo(table->model()->index(row, 0), QAbstractItemView::PositionAtTop);
        break;
      }
    }
    // The summary's new text has asked for a new layout; the picture must show it laid out.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (!window.grab().save(screenshotPath)) {
      std::fprintf(stderr, "brelin: cannot write %s\n", screenshotPath.toLocal8Bit().constData());
      *failed = true;
    }
    window.done(*failed ? 1 : 0);
  });
}

}  // namespace brelin::gui
