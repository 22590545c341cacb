#include <gmock/gmock.h>

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
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

// The operator's actions in the port setup dialog.
void Choose(PortSetupDialog* d, int position) {
  d->findChild<QComboBox*>()->setCurrentIndex(position);
}
void Type(PortSetupDialog* d, const char* text) {
  QLineEdit* edit = d->findChild<QComboBox*>()->lineEdit();
  edit->clear();
  QTest::keyClicks(edit, QString::fromLatin1(text));
}
void Press(PortSetupDialog* d, const char* button) {
  QTest::mouseClick(Child<QPushButton>(d, button), Qt::LeftButton);
}

TEST(PortSetup, TakesTheChoiceOnlyAfterOkAndAddsTypedPaths) {
  // Six listed ports; a typed /dev/pts/7 becomes index 6, anything else is refused.
  std::vector<std::string> added;
  PortCatalog catalog;
  catalog.list = [] {
    std::vector<PortChoice> ports;
    for (int n = 0; n < 6; ++n) {
      std::string path = "/dev/ttyS" + std::to_string(n);
      ports.push_back({path, path + (n == 5 ? " - USB serial adapter" : "")});
    }
    return ports;
  };
  catalog.add = [&](const std::string& path) {
    added.push_back(path);
    return path == "/dev/pts/7" ? 6 : -1;
  };

  struct Case {
    const char* what;
    int start;
    std::function<void(PortSetupDialog*)> act;
    int expected;
  };
  const Case cases[] = {
      {"OK keeps the shown port", 3, [](PortSetupDialog* d) { Press(d, "button1010"); }, 3},
      {"Enter is OK", 3,
       [](PortSetupDialog* d) {
         Choose(d, 2);
         QTest::keyClick(d, Qt::Key_Return);
       },
       2},
      {"Cancel", 1,
       [](PortSetupDialog* d) {
         Choose(d, 5);
         Press(d, "button1009");
       },
       1},
      {"Escape", 1,
       [](PortSetupDialog* d) {
         Choose(d, 5);
         QTest::keyClick(d, Qt::Key_Escape);
       },
       1},
      {"a start outside the list shows nothing; OK takes -1", 9,
       [](PortSetupDialog* d) {
         EXPECT_EQ(d->findChild<QComboBox*>()->currentText(), QString());
         QTest::keyClick(d, Qt::Key_Return);
       },
       -1},
      {"an emptied field is no entry", 2,
       [](PortSetupDialog* d) {
         Type(d, "");
         Press(d, "button1010");
       },
       -1},
      {"a listed path is its entry", 0,
       [](PortSetupDialog* d) {
         Type(d, "/dev/ttyS5");
         Press(d, "button1010");
       },
       5},
      {"a new path is added", 0,
       [](PortSetupDialog* d) {
         Type(d, "/dev/pts/7");
         Press(d, "button1010");
       },
       6},
      {"a refused path", 0,
       [](PortSetupDialog* d) {
         Type(d, "/dev/nonesuch");
         Press(d, "button1010");
       },
       -1},
  };
  for (const Case& c : cases) {
    MainDialog window;
    window.SetPortCatalog(catalog);
    window.portIndex = c.start;
    QString shown;
    WhenModal<PortSetupDialog>([&](PortSetupDialog* d) {
      shown = d->findChild<QComboBox*>(QStringLiteral("combo1008"))->currentText();
      c.act(d);
    });
    window.PortSetup();
    EXPECT_EQ(window.portIndex, c.expected) << c.what;
    if (c.start == 3) {
      EXPECT_EQ(shown, QStringLiteral("/dev/ttyS3")) << c.what;
    }
  }
  EXPECT_THAT(added, ElementsAre("/dev/pts/7", "/dev/nonesuch"));
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
