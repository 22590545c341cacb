#include <gmock/gmock.h>

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "gui/about_dialog.h"
#include "gui/main_dialog.h"
#include "gui/port_setup_dialog.h"
#include "gui/testing/modal.h"

namespace brelin::gui {
namespace {

using ::testing::ElementsAre;
using testing::WhenModal;

template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

// Clicks where the operator would: on the round indicator (a stretched button ignores its far end).
void Click(QRadioButton* radio) {
  QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
}

TEST(MainDialogOptions, StartWithMetricRelativeAsciiAndTheThreeGroupsAreIndependent) {
  MainDialog window;
  window.show();
  EXPECT_TRUE(window.MetricChosen());
  EXPECT_FALSE(window.AbsoluteChosen());
  EXPECT_TRUE(window.AsciiChosen());
  EXPECT_TRUE(Child<QPushButton>(&window, "button1003")->isDefault());

  Click(Child<QRadioButton>(&window, "radio1013"));  // Imperial
  EXPECT_FALSE(window.MetricChosen());
  EXPECT_FALSE(window.AbsoluteChosen());
  EXPECT_TRUE(window.AsciiChosen());

  Click(Child<QRadioButton>(&window, "radio1016"));  // Absolute
  Click(Child<QRadioButton>(&window, "radio1023"));  // CSV
  EXPECT_FALSE(window.MetricChosen());
  EXPECT_TRUE(window.AbsoluteChosen());
  EXPECT_FALSE(window.AsciiChosen());
  EXPECT_FALSE(Child<QRadioButton>(&window, "radio1017")->isChecked());
  EXPECT_FALSE(Child<QRadioButton>(&window, "radio1022")->isChecked());

  Click(Child<QRadioButton>(&window, "radio1012"));  // Metric
  EXPECT_TRUE(window.MetricChosen());
  EXPECT_TRUE(window.AbsoluteChosen());
}

TEST(MainDialogOptions, OutputFileNameIsTheWholeTextEvenBlanks) {
  MainDialog window;
  auto* edit = Child<QLineEdit>(&window, "edit1000");
  EXPECT_EQ(window.OutputFileName(), "");
  QTest::keyClicks(edit, QStringLiteral("  "));
  EXPECT_EQ(window.OutputFileName(), "  ");
  edit->setText(QStringLiteral("/tmp/r\u00e9port.txt"));
  EXPECT_EQ(window.OutputFileName(), "/tmp/r\xc3\xa9port.txt");
}

int Caret(MainDialog& window) {
  return Child<QPlainTextEdit>(&window, "edit1011")->textCursor().position();
}

TEST(StatusLog, KeepsTheCaretBeforeTheLastLineEndAndAppendsAfterWhatWasTyped) {
  MainDialog window;
  window.show();
  auto* log = Child<QPlainTextEdit>(&window, "edit1011");
  EXPECT_FALSE(log->isReadOnly());

  window.AppendStatus("Checking output filename.\r\n");
  EXPECT_EQ(window.StatusText(), "Checking output filename.\r\n");
  EXPECT_EQ(Caret(window), 25);  // just before the line end
  EXPECT_EQ(log->textCursor().selectedText(), QString());

  window.AppendStatus("Done.");
  EXPECT_EQ(window.StatusText(), "Checking output filename.\r\nDone.");
  EXPECT_EQ(log->document()->toPlainText().mid(Caret(window)), QStringLiteral("e."));

  // The next command's first line follows "Done." on the same line.
  window.AppendStatus("Get data from KLV480.\r\n");
  EXPECT_EQ(window.StatusText(), "Checking output filename.\r\nDone.Get data from KLV480.\r\n");
  EXPECT_EQ(Caret(window), log->document()->characterCount() - 2);

  // Text the operator types stays; status text goes after it.
  QTextCursor end = log->textCursor();
  end.movePosition(QTextCursor::End);
  log->setTextCursor(end);
  QTest::keyClicks(log, QStringLiteral("note"));
  window.AppendStatus("Opening communication port.\r\n");
  EXPECT_EQ(window.StatusText(),
            "Checking output filename.\r\nDone.Get data from KLV480.\r\nnoteOpening "
            "communication port.\r\n");
}

TEST(StatusLog, ScrollsTheLastLineIntoView) {
  MainDialog window;
  window.show();
  auto* log = Child<QPlainTextEdit>(&window, "edit1011");
  for (int i = 0; i < 50; ++i) window.AppendStatus("Analysing data.\r\n");
  QRect caret = log->cursorRect();
  EXPECT_TRUE(log->viewport()->rect().contains(caret.center()));
  EXPECT_GT(log->verticalScrollBar()->value(), 0);
}

TEST(ProgressBar, MovesOnlyThroughSetProgressAndStaysInRange) {
  MainDialog window;
  auto* bar = Child<QProgressBar>(&window, "progress1004");
  EXPECT_EQ(bar->value(), 0);
  window.SetProgress(85);
  EXPECT_EQ(bar->value(), 85);
  window.SetProgress(0);
  EXPECT_EQ(bar->value(), 0);
  window.SetProgress(250);
  EXPECT_EQ(bar->value(), 100);
  window.SetProgress(-3);
  EXPECT_EQ(bar->value(), 0);
}

// A port table with six serial ports and a record of the paths typed in.
struct FakeCatalog {
  std::vector<std::string> added;

  PortCatalog Get() {
    PortCatalog catalog;
    catalog.list = [] {
      std::vector<PortChoice> ports;
      for (int n = 0; n < 6; ++n) {
        std::string path = "/dev/ttyS" + std::to_string(n);
        ports.push_back({path, path + (n == 5 ? " - USB serial adapter" : "")});
      }
      return ports;
    };
    catalog.add = [this](const std::string& path) {
      added.push_back(path);
      return path == "/dev/pts/7" ? 6 : -1;
    };
    return catalog;
  }
};

// Runs the port setup of a window whose portIndex is start, lets act operate the dialog, and
// returns the window's portIndex afterwards.
int RunPortSetup(int start, std::function<void(PortSetupDialog*)> act, FakeCatalog& fake) {
  MainDialog window;
  window.SetPortCatalog(fake.Get());
  window.portIndex = start;
  WhenModal<PortSetupDialog>(std::move(act));
  window.PortSetup();
  return window.portIndex;
}

QComboBox* PortList(PortSetupDialog* dialog) {
  return Child<QComboBox>(dialog, "combo1008");
}

TEST(PortSetup, ShowsTheCurrentPortAndTakesTheChoiceOnlyAfterOk) {
  FakeCatalog fake;
  QString shown;
  EXPECT_EQ(RunPortSetup(
                3,
                [&](PortSetupDialog* d) {
                  shown = PortList(d)->currentText();
                  QTest::mouseClick(Child<QPushButton>(d, "button1010"), Qt::LeftButton);
                },
                fake),
            3);
  EXPECT_EQ(shown, QStringLiteral("/dev/ttyS3"));

  EXPECT_EQ(RunPortSetup(
                3,
                [](PortSetupDialog* d) {
                  PortList(d)->setCurrentIndex(2);
                  QTest::keyClick(d, Qt::Key_Return);  // Enter is OK
                },
                fake),
            2);

  EXPECT_EQ(RunPortSetup(
                1,
                [](PortSetupDialog* d) {
                  PortList(d)->setCurrentIndex(5);
                  QTest::mouseClick(Child<QPushButton>(d, "button1009"), Qt::LeftButton);
                },
                fake),
            1);

  EXPECT_EQ(RunPortSetup(
                1,
                [](PortSetupDialog* d) {
                  PortList(d)->setCurrentIndex(5);
                  QTest::keyClick(d, Qt::Key_Escape);
                },
                fake),
            1);
  EXPECT_TRUE(fake.added.empty());
}

TEST(PortSetup, NoEntrySelectedGivesMinusOne) {
  FakeCatalog fake;
  QString shown = QStringLiteral("unset");
  // A position outside the list shows no entry; OK then takes -1.
  EXPECT_EQ(RunPortSetup(
                9,
                [&](PortSetupDialog* d) {
                  shown = PortList(d)->currentText();
                  QTest::keyClick(d, Qt::Key_Return);
                },
                fake),
            -1);
  EXPECT_EQ(shown, QString());

  EXPECT_EQ(RunPortSetup(
                2,
                [](PortSetupDialog* d) {
                  PortList(d)->lineEdit()->clear();
                  QTest::keyClick(PortList(d)->lineEdit(), Qt::Key_Return);
                },
                fake),
            -1);
  EXPECT_TRUE(fake.added.empty());
}

TEST(PortSetup, TypedDevicePathIsAddedToThePortTable) {
  FakeCatalog fake;
  auto type = [](const char* text) {
    return [text](PortSetupDialog* d) {
      QLineEdit* edit = PortList(d)->lineEdit();
      edit->clear();
      QTest::keyClicks(edit, QString::fromLatin1(text));
      QTest::mouseClick(Child<QPushButton>(d, "button1010"), Qt::LeftButton);
    };
  };
  EXPECT_EQ(RunPortSetup(0, type("/dev/pts/7"), fake), 6);
  EXPECT_EQ(RunPortSetup(0, type("/dev/ttyS5"), fake), 5);  // a listed path is its entry
  EXPECT_EQ(RunPortSetup(0, type("/dev/nonesuch"), fake), -1);
  EXPECT_THAT(fake.added, ElementsAre("/dev/pts/7", "/dev/nonesuch"));
}

TEST(About, OpensFromF1AndFromTheContextMenuItem) {
  MainDialog window;
  window.show();
  QApplication::setActiveWindow(&window);

  QString version;
  WhenModal<AboutDialog>([&](AboutDialog* about) {
    version = Child<QLabel>(about, "labelVersion")->text();
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About Brelin"));
    QTest::mouseClick(Child<QPushButton>(about, "button1"), Qt::LeftButton);
  });
  QTest::keyClick(&window, Qt::Key_F1);
  EXPECT_EQ(version, QStringLiteral("Brelin Version 1.2"));

  auto* item = Child<QAction>(&window, "actionAbout");
  EXPECT_EQ(item->text(), QStringLiteral("&About Brelin..."));
  EXPECT_TRUE(window.actions().contains(item));
  EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
  bool opened = false;
  WhenModal<AboutDialog>([&](AboutDialog* about) {
    opened = true;
    QTest::keyClick(about, Qt::Key_Escape);
  });
  item->trigger();
  EXPECT_TRUE(opened);
}

TEST(Browse, PutsTheChosenPathInTheOutputBoxWithoutCreatingIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("report.txt"));
  MainDialog window;
  QStringList filters;
  WhenModal<QFileDialog>([&](QFileDialog* chooser) {
    filters = chooser->nameFilters();
    chooser->selectFile(path);
    static_cast<QDialog*>(chooser)->accept();  // QFileDialog hides it
  });
  window.Browse();
  EXPECT_EQ(Child<QLineEdit>(&window, "edit1000")->text(), path);
  EXPECT_THAT(filters, ElementsAre(QStringLiteral("Output File (*.txt)"),
                                   QStringLiteral("All Files (*.*)")));
  EXPECT_FALSE(QFile::exists(path));

  WhenModal<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
  window.Browse();
  EXPECT_EQ(Child<QLineEdit>(&window, "edit1000")->text(), path);
}

}  // namespace
}  // namespace brelin::gui
