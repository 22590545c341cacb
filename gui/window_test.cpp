// The window and its dialogs driven by clicks, against klv480-sim on a pseudo-terminal.
#include <gmock/gmock.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/testing/status_lines.h"
#include "gui/about_dialog.h"
#include "gui/main_dialog.h"
#include "gui/port_setup_dialog.h"
#include "gui/testing/fast_clock.h"
#include "gui/testing/modal.h"
#include "gui/testing/simulator.h"
#include "gui/trend_view.h"
#include "report/analysis.h"
#include "report/testing/recording_sink.h"
#include "report/testing/records.h"
#include "serial/discovery.h"
#include "serial/port.h"

namespace brelin::gui {
namespace {

using testing::Simulator;
using testing::WhenModal;

template <typename T = QAbstractButton>
T* Child(QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const char* path, const QByteArray& bytes) {
  QFile file(QString::fromLatin1(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// The data rows of a report, each as its six fields less padding (an empty unit where a value has
// none).
std::vector<QStringList> ReportRows(const QByteArray& report, bool ascii) {
  std::vector<QStringList> rows;
  const QStringList lines = QString::fromLatin1(report).split(QStringLiteral("\r\n"));
  for (qsizetype i = 4; i < lines.size() && !lines[i].isEmpty(); ++i) {
    QString line = lines[i];
    if (!ascii) line = line.mid(1, line.size() - 2);
    QStringList fields = line.split(ascii ? QStringLiteral("\t") : QStringLiteral("\",\""));
    for (QString& field : fields) field = field.trimmed();
    if (fields.size() == 5) fields.insert(3, QString());
    rows.push_back(fields);
  }
  return rows;
}

// A report less the time it was made, which ends its first line.
QByteArray Timeless(const QByteArray& text) {
  return text.left(text.indexOf(" at ")) + text.mid(text.indexOf('\n'));
}

// A shown window in a fresh folder, recording the messages it shows and every position of its bar.
struct Window {
  Window() {
    QDir::setCurrent(work.path());
    dialog.SetMessagePresenter([this](QWidget*, const QString& text) { messages << text; });
    OnBar([this](int value) {
      // The bar's creep during a transfer depends on the image's size: one "~" stands for it.
      if (!Text("labelSummary").startsWith(QStringLiteral("Received "))) {
        bar += std::to_string(value) + " ";
      } else if (!bar.ends_with("~ ")) {
        bar += "~ ";
      }
    });
    dialog.show();
  }
  ~Window() {
    QDir::setCurrent(previousDir);
    EXPECT_EQ(serial::PortListHead(), nullptr) << "a Port was left open";
  }
  // Near the left end, where a radio button's indicator is.
  void Click(const char* name) {
    auto* button = Child(&dialog, name);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }
  // Posted: the first wait that handles events runs it.
  void ClickLater(const char* name) {
    QTimer::singleShot(0, &dialog, [=, this] { Click(name); });
  }
  void OnBar(const std::function<void(int)>& slot) {
    QObject::connect(Child<QProgressBar>(&dialog, "progress1004"), &QProgressBar::valueChanged,
                     &dialog, slot);
  }
  QString Text(const char* label) { return Child<QLabel>(&dialog, label)->text(); }
  QTableView* Table() { return Child<QTableView>(&dialog, "tableReadings"); }
  // The readings view's rows, as shown.
  std::vector<QStringList> ViewRows() {
    const QAbstractItemModel* model = Table()->model();
    std::vector<QStringList> rows;
    for (int r = 0; r < model->rowCount(); ++r) {
      QStringList cells;
      for (int c = 0; c < model->columnCount(); ++c) cells << model->index(r, c).data().toString();
      rows.push_back(cells);
    }
    return rows;
  }
  // What the analysis makes of the image downloaded beside `output` with these choices: the report
  // and the summary labels.
  std::pair<QByteArray, QString> Expected(const QString& output, bool metric, bool absolute,
                                          bool ascii) {
    const std::string image = app::ImageBesideReport(output.toStdString());
    report::testing::RecordingSink sink;
    report::PointTable table{};
    const report::ReportOptions options{
        .unitSystem = metric ? report::kMetric : report::kImperial,
        .temperatureScale = absolute ? report::kAbsolute : report::kRelative,
        .reportFormat = ascii ? report::kAscii : report::kCsv};
    const report::AnalysisSummary summary = report::AnalyseImage(
        sink, table, image, {"expected.txt", options, Simulator::kSerialNumber});
    const std::string warning = app::SummaryWarning(summary);
    return {ReadAll(QStringLiteral("expected.txt")),
            QString::fromStdString(app::SummaryText(summary) + " Memory image: ") +
                QFileInfo(QString::fromStdString(image)).absoluteFilePath() + "|" +
                QString::fromStdString(warning.empty() ? "" : "Warning: " + warning)};
  }

  QTemporaryDir work;
  QString previousDir = QDir::currentPath();
  testing::FastClock clock;
  MainDialog dialog;
  QStringList messages;
  std::string bar;
};

using app::testing::kDownloaded;
using app::testing::kErasing;
using app::testing::kOpening;
const char* const kGetBar = "10 ~ 30 50 70 85 100 ";
const char* const kNoResponse = "No response of KLV480";
const std::string kDownloadCommands = "UNLOCK,DOWNLOAD,,system,LOCK";
const std::string kEraseAsked = std::string("?") + app::kEraseQuestion;
const char* const kNoPort =
    "Cannot open serial port: No such device\nThere is no such port: list the ports with "
    "'brelin-cli ports', or choose one in COM Port Setup.";

// The erase runs the bar from 10 to 100 one step at a time.
std::string EraseBar() {
  std::string bar = "5 ";
  for (int position = 10; position <= 100; ++position) bar += std::to_string(position) + " ";
  return bar;
}

struct ClickCase {
  const char *name, *sim;       // sim: options for the simulator; null: no simulator, no port
  const char *clicks, *output;  // clicks: option buttons, then the command
  std::string status, bar;
  std::string messages;  // joined with |; a question asked shows as "?" and its text
  bool report;           // the analysis's with the options clicked, and its summary; else no output
  std::string received;  // the commands the instrument received, joined with commas
  std::function<void(Window&, int)> onBar = nullptr;
};

std::vector<ClickCase> ClickCases() {
  return {
      {"GetData", "", "button1003", "report.txt",
       kDownloaded + "Creating ASCII file report.\r\nDone.", kGetBar, "", true, kDownloadCommands},
      {"ImperialAbsoluteCsv", "", "radio1013 radio1016 radio1023 button1003", "report.txt",
       kDownloaded + "Creating CSV file report.\r\nDone.", kGetBar, "", true, kDownloadCommands},
      // One block: too little to move the bar during the transfer.
      {"ImageWithoutMeasurements", "--image blank.bin", "button1003", "report.txt",
       kDownloaded + "Creating ASCII file report.\r\nDone.", "10 30 50 70 85 100 ", "", true,
       kDownloadCommands},
      {"NoFileName", "", "button1003", "", "Checking output filename.\r\n", "",
       "There is no output File name selected ", false, ""},
      {"FileThatCannotBeMade", "", "button1003", "missing/report.txt",
       "Checking output filename.\r\nCreating output file.\r\n", "",
       "missing/report.txt\nNo such file or directory", false, ""},
      {"Silent", "--silent", "button1003", "report.txt", kOpening, "", kNoResponse, false,
       "UNLOCK"},
      {"Refused", "--refuse", "button1003", "report.txt", kOpening, "10 0 ",
       "No download allowed !!!\n", false, "UNLOCK,DOWNLOAD,LOCK"},
      {"Erase", "", "button1021", "", kErasing + "Erasing data in the KLV480.\r\nDone.", EraseBar(),
       kEraseAsked, false, "UNLOCK,ERASE 47190356,LOCK"},
      {"EraseWithoutAPort", nullptr, "button1021", "", kErasing, "5 ", kEraseAsked + "|" + kNoPort,
       false, ""},
      // A second Get Data while the first waits for the instrument, then ERASE in mid-transfer:
      // both greyed, so only the first command reaches the instrument.
      {"GetDataClickedTwiceAndEraseMidTransferRunOnce", "", "button1003", "report.txt",
       kDownloaded + "Creating ASCII file report.\r\nDone.", kGetBar, "", true, kDownloadCommands,
       [](Window& w, int value) {
         if (value == 10) w.ClickLater("button1003");
         if (value == 30) w.ClickLater("button1021");
       }},
      {"ReportFailsLateThenGetDataAgain", "", "button1003 button1003", "out/report.txt",
       kDownloaded + "Creating ASCII file report.\r\n" + kDownloaded +
           "Creating ASCII file report.\r\nDone.",
       "10 ~ 30 50 70 85 10 ~ 30 50 70 85 100 ", "out/report.txt\nNo such file or directory", true,
       kDownloadCommands + "," + kDownloadCommands,
       [](Window& w, int value) {
         // The image is decoded by then: only the report fails.
         if (value == 85 && w.bar == "10 ~ 30 50 70 85 ") {
           QDir(QStringLiteral("out")).removeRecursively();
         }
       }},
  };
}

class Clicks : public ::testing::TestWithParam<ClickCase> {};

TEST_P(Clicks, CommandRunsWithEveryStepShown) {
  const ClickCase& c = GetParam();
  Window w;
  w.dialog.SetQuestionPresenter([&](QWidget*, const QString& text, const QString& action) {
    EXPECT_EQ(action, "Erase");
    w.messages << "?" + text;
    return true;
  });
  WriteFile("blank.bin", QByteArray(120, '\0'));  // ten records of a kind that is no measurement
  std::optional<Simulator> sim;
  if (c.sim != nullptr) sim.emplace(QString::fromLatin1(c.sim).split(' ', Qt::SkipEmptyParts));
  // The operator types the pseudo-terminal's path, which is not listed, or empties the field.
  WhenModal<PortSetupDialog>([&](PortSetupDialog* dialog) {
    QLineEdit* edit = dialog->findChild<QComboBox*>()->lineEdit();
    edit->clear();
    if (sim) QTest::keyClicks(edit, QString::fromStdString(sim->path()));
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  w.Click("button1002");
  Child<QLineEdit>(&w.dialog, "edit1000")->setText(QString::fromLatin1(c.output));
  if (c.onBar) w.OnBar([&](int value) { c.onBar(w, value); });
  const QString clicks = QString::fromLatin1(c.clicks);
  for (const QString& name : clicks.split(' ')) {
    QDir().mkdir(QStringLiteral("out"));  // a row may remove it during a command
    w.Click(name.toLatin1().constData());
  }

  EXPECT_EQ(w.dialog.StatusText(), c.status);
  EXPECT_EQ(w.bar, c.bar);
  EXPECT_EQ(w.messages.join('|').toStdString(), c.messages);
  EXPECT_EQ(sim ? sim->Commands().toStdString() : "", c.received);
  const QByteArray report = ReadAll(QString::fromLatin1(c.output));
  const QString summary = w.Text("labelSummary") + "|" + w.Text("labelWarning");
  if (c.report) {
    const bool ascii = !clicks.contains("radio1023");
    const auto [expected, expectedSummary] =
        w.Expected(QString::fromLatin1(c.output), !clicks.contains("radio1013"),
                   clicks.contains("radio1016"), ascii);
    EXPECT_EQ(Timeless(report), Timeless(expected));
    EXPECT_EQ(summary, expectedSummary);
    // The view shows exactly the report's rows, in its order.
    EXPECT_EQ(w.ViewRows(), ReportRows(report, ascii));
  } else {
    EXPECT_EQ(report, QByteArray());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(app::ImageBesideReport(c.output)) +
                               QStringLiteral(".part")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(app::ImageBesideReport(c.output))));
    EXPECT_EQ(w.ViewRows(), std::vector<QStringList>{});
    EXPECT_EQ(summary, "|");
  }
}

INSTANTIATE_TEST_SUITE_P(Window, Clicks, ::testing::ValuesIn(ClickCases()),
                         [](const ::testing::TestParamInfo<ClickCase>& info) {
                           return std::string(info.param.name);
                         });

// The commands the instrument received, once its log shows the LOCK that a stopping command sends
// without waiting for the answer (or after two seconds).
QString LastCommands(const Simulator& sim) {
  QString commands;
  for (int i = 0; i < 100 && !(commands = sim.Commands()).endsWith(QStringLiteral("LOCK")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return commands;
}

// Close during the transfer and during the system read: the transfer ends with its cancel
// sequence, the instrument gets LOCK, the port is closed, and only then the program exits with 1.
// The close box does the same and leaves the program running.
TEST(Window, CloseDuringADownloadStopsItCleanlyFirst) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const int at : {10, 30}) {
    SCOPED_TRACE(at);
    Window w;
    static Simulator* sim;  // for the exit routine
    // Paced, so that the transfer is still running when Close comes.
    Simulator paced(at == 10 ? QStringList{QStringLiteral("--baud"), QStringLiteral("9600")}
                             : QStringList{});
    sim = &paced;
    w.dialog.portIndex = serial::AddPortPath(paced.path());
    Child<QLineEdit>(&w.dialog, "edit1000")->setText(QStringLiteral("report.txt"));
    auto run = [&] {
      // Registered before the first Port exists, so it runs after the Port layer's own routine.
      std::atexit([] {
        std::fprintf(stderr, "open ports at exit: %d; instrument got %s\n",
                     serial::PortListHead() != nullptr, qPrintable(LastCommands(*sim)));
      });
      w.OnBar([&](int value) {
        if (value == at) w.ClickLater("button8");
      });
      w.Click("button1003");
      std::fprintf(stderr, "returned from Get Data\n");
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(1),
                at == 10 ? "open ports at exit: 0; instrument got UNLOCK,DOWNLOAD,LOCK"
                         : "open ports at exit: 0; instrument got UNLOCK,DOWNLOAD,,system,LOCK");
  }

  Window w;
  Simulator paced({QStringLiteral("--baud"), QStringLiteral("9600")});
  w.dialog.portIndex = serial::AddPortPath(paced.path());
  Child<QLineEdit>(&w.dialog, "edit1000")->setText(QStringLiteral("report.txt"));
  w.dialog.show();
  w.OnBar([&](int value) {
    if (value == 10) QTimer::singleShot(0, &w.dialog, [&] { w.dialog.close(); });
  });
  w.Click("button1003");
  EXPECT_FALSE(w.dialog.isVisible());
  EXPECT_EQ(LastCommands(paced), QStringLiteral("UNLOCK,DOWNLOAD,LOCK"));
  EXPECT_FALSE(QFile::exists(QStringLiteral("KLV480.bin")));
  EXPECT_EQ(serial::PortListHead(), nullptr);
}

TEST(Window, CommandsAreGreyedAndEscapeWaitsWhileOneRuns) {
  Window w;
  Simulator sim;
  w.dialog.portIndex = serial::AddPortPath(sim.path());
  Child<QLineEdit>(&w.dialog, "edit1000")->setText(QStringLiteral("report.txt"));
  const char* const kCommands[] = {"button1003", "button1021", "button1002", "button1001"};
  auto* about = Child<QAction>(&w.dialog, "actionAbout");
  w.OnBar([&](int value) {
    if (value != 30) return;
    for (const char* name : kCommands) EXPECT_FALSE(Child(&w.dialog, name)->isEnabled()) << name;
    EXPECT_FALSE(about->isEnabled());
    EXPECT_TRUE(Child(&w.dialog, "button8")->isEnabled());
    EXPECT_EQ(w.Text("labelSummary"), "") << "the summary of the previous run is gone";
    QTest::keyClick(&w.dialog, Qt::Key_Escape);
  });
  Child(&w.dialog, "button1003")->setFocus();
  w.Click("button1003");
  w.Click("button1003");

  EXPECT_TRUE(w.dialog.isVisible());
  EXPECT_NE(w.Text("labelSummary"), "");
  EXPECT_THAT(w.dialog.StatusText(), ::testing::EndsWith("Done."));
  for (const char* name : kCommands) EXPECT_TRUE(Child(&w.dialog, name)->isEnabled()) << name;
  EXPECT_TRUE(about->isEnabled());
  // Not left on Close, where the next Return or Space would end the program.
  EXPECT_EQ(w.dialog.focusWidget(), Child(&w.dialog, "button1003"));
  QTest::keyClick(&w.dialog, Qt::Key_Escape);
  EXPECT_FALSE(w.dialog.isVisible()) << "Escape ends the window between commands";
}

TEST(Window, EraseAsksFirstWithCancelAsTheDefault) {
  Window w;
  Simulator sim;
  w.dialog.portIndex = serial::AddPortPath(sim.path());
  // Return takes the default button.
  WhenModal<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->text(), app::kEraseQuestion);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Cancel));
    QTest::keyClick(box, Qt::Key_Return);
  });
  w.Click("button1021");
  EXPECT_EQ(w.dialog.StatusText(), "");
  EXPECT_EQ(w.bar, "");
  EXPECT_EQ(sim.Commands(), "") << "nothing reaches the instrument";

  WhenModal<QMessageBox>([](QMessageBox* box) {
    for (QAbstractButton* button : box->buttons()) {
      if (button->text() == "Erase") QTest::mouseClick(button, Qt::LeftButton);
    }
  });
  w.Click("button1021");
  EXPECT_THAT(w.dialog.StatusText(), ::testing::EndsWith("Done."));
  EXPECT_EQ(sim.Commands(), "UNLOCK,ERASE 47190356,LOCK");
}

TEST(StatusLog, CaretStaysBeforeTheLastLineEndAndTheNextLineFollowsDone) {
  Window w;
  auto* log = Child<QPlainTextEdit>(&w.dialog, "edit1011");
  auto caret = [log] { return log->textCursor().position(); };
  w.dialog.AppendStatus("Checking output filename.\r\n");
  EXPECT_EQ(caret(), 25);
  w.dialog.AppendStatus("Done.");
  EXPECT_EQ(log->toPlainText().mid(caret()), QStringLiteral("e."));
  w.dialog.AppendStatus("Get data from KLV480.\r\n");
  EXPECT_EQ(w.dialog.StatusText(), "Checking output filename.\r\nDone.Get data from KLV480.\r\n");
  EXPECT_EQ(caret(), log->document()->characterCount() - 2);
  for (int i = 0; i < 50; ++i) w.dialog.AppendStatus("Analysing data.\r\n");
  EXPECT_TRUE(log->viewport()->rect().contains(log->cursorRect().center()));  // the last line shows
}

// A fake device list: ttyS0 and ttyS1 listed, /dev/pts/7 and /dev/ttyUSB0 present but unlisted.
struct FakePorts {
  PortCatalog Catalog() {
    return {[this](PortScan scan) {
              scans.push_back(scan);
              return ports;
            },
            [](const std::string& path) { return path == "/dev/pts/7" || path == "/dev/ttyUSB0"; },
            [this](const std::string& path) {
              added.push_back(path);
              return path == "/dev/pts/7" ? 2 : 3;
            }};
  }
  std::vector<PortChoice> ports{{"/dev/ttyS0", "/dev/ttyS0"},
                                {"/dev/ttyS1", "/dev/ttyS1 - USB adapter"}};
  std::vector<std::string> added;
  std::vector<PortScan> scans;
};

TEST(PortSetup, TakesTheChoiceOnlyAfterOkResolvesNamesAndRefusesUnknownOnes) {
  struct Case {
    int start, choose, expected;  // choose: an entry to select, or -1
    const char *type, *button;    // type: text typed over the field, or null
    const char* refused;          // the reason shown when OK is refused, then Cancel ends it
  } const cases[] = {
      {0, 1, 0, nullptr, "button1009", nullptr},        // Cancel
      {0, 1, 1, nullptr, "button1010", nullptr},        // OK takes the chosen entry
      {9, -1, -1, nullptr, "button1010", nullptr},      // a start outside the list shows no entry
      {0, -1, 1, "/dev/ttyS1", "button1010", nullptr},  // a listed path is its entry
      {0, -1, 1, "ttyS1", "button1010", nullptr},       // so is its name without /dev/
      {0, -1, 1, "COM2", "button1010", nullptr},
      {0, -1, 2, "/dev/pts/7", "button1010", nullptr},  // a present, unlisted path is added
      {0, -1, 3, " ttyUSB0 ", "button1010", nullptr},
      {1, -1, 1, "ttyUSB9", "button1010",
       "There is no device /dev/ttyUSB9: plug in the instrument's adapter, or choose a port from "
       "the list."},
      {1, -1, 1, "7", "button1010", "There is no port 7 in the list."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    FakePorts fake;
    MainDialog window;
    window.SetPortCatalog(fake.Catalog());
    window.portIndex = c.start;
    WhenModal<PortSetupDialog>([&](PortSetupDialog* d) {
      EXPECT_EQ(d->windowTitle(), "COM Port Setup");
      auto* field = d->findChild<QComboBox*>(QStringLiteral("combo1008"));
      EXPECT_EQ(field->currentText().toStdString(), c.start < 2 ? fake.ports[c.start].label : "");
      if (c.choose >= 0) field->setCurrentIndex(c.choose);
      if (c.type != nullptr) field->setEditText(QString::fromLatin1(c.type));
      QTest::mouseClick(Child<QPushButton>(d, c.button), Qt::LeftButton);
      if (c.refused == nullptr) return;
      EXPECT_TRUE(d->isVisible()) << "refused, not taken as no port";
      EXPECT_EQ(Child<QLabel>(d, "labelError")->text(), c.refused);
      EXPECT_TRUE(Child<QLabel>(d, "labelError")->isVisibleTo(d));
      QTest::mouseClick(Child<QPushButton>(d, "button1009"), Qt::LeftButton);
    });
    window.PortSetup();
    EXPECT_EQ(window.portIndex, c.expected);
    EXPECT_EQ(fake.added.size(), c.expected >= 2 ? 1u : 0u);
  }
}

// Typing a listed path used to complete it to the entry's label and take the first Enter.
TEST(PortSetup, OneEnterInTheFieldIsOk) {
  FakePorts fake;
  PortSetupDialog dialog(nullptr, fake.Catalog());
  dialog.selectedIndex = -1;
  dialog.show();
  QLineEdit* edit = dialog.findChild<QComboBox*>()->lineEdit();
  QTest::keyClicks(edit, QStringLiteral("/dev/ttyS1"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.selectedIndex, 1);
}

TEST(PortSetup, HintsOnAnEmptyListAndFollowsAdaptersPluggedIn) {
  FakePorts fake;
  fake.ports.clear();
  PortSetupDialog dialog(nullptr, fake.Catalog());
  dialog.selectedIndex = 0;
  dialog.show();
  auto* hint = Child<QLabel>(&dialog, "labelHint");
  auto* list = dialog.findChild<QComboBox*>();
  EXPECT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->text(), QStringLiteral("No serial ports found \u2014 plug in the instrument's "
                                         "adapter, or type a device path"));
  auto* poll = dialog.findChild<QTimer*>();
  ASSERT_NE(poll, nullptr);
  EXPECT_TRUE(poll->isActive());
  EXPECT_EQ(poll->interval(), 1000);

  // Plugged in while the operator types: the list grows, the typed text stays.
  QTest::keyClicks(list->lineEdit(), QStringLiteral("tty"));
  fake.ports = {{"/dev/ttyUSB0", "/dev/ttyUSB0 - FT232R"}};
  fake.scans.clear();
  dialog.Refresh(PortScan::kPlugged);  // what the timer calls
  EXPECT_FALSE(hint->isVisible());
  EXPECT_EQ(list->count(), 1);
  EXPECT_EQ(list->currentText(), "tty");

  // Pulled while chosen: the entry keeps its place and says so (the Refresh button reads it too).
  list->setCurrentIndex(0);
  fake.ports = {{"/dev/ttyUSB0", "/dev/ttyUSB0 - FT232R (missing)", false}};
  QTest::mouseClick(Child<QPushButton>(&dialog, "buttonRefresh"), Qt::LeftButton);
  // Only the button opens built-in ports to look for a UART: that moves their modem lines.
  EXPECT_EQ(fake.scans, std::vector<PortScan>({PortScan::kPlugged, PortScan::kAll}));
  EXPECT_EQ(list->currentIndex(), 0);
  EXPECT_EQ(list->currentText(), "/dev/ttyUSB0 - FT232R (missing)");
}

// An image of known points, saved where Open Image finds it.
void WriteKnownImage(const char* path) {
  using report::testing::Measurement;
  const auto image = report::testing::Image({Measurement(3, 19, 250, 1'100'000'000),
                                             Measurement(3, 17, 0x1000 | 125, 1'100'000'060),
                                             Measurement(700, 20, 605, 1'100'000'000)});
  WriteFile(path, QByteArray(reinterpret_cast<const char*>(image.data()),
                             static_cast<qsizetype>(image.size())));
}

TEST(Window, OpenImageFillsTheViewAndAChangeOfUnitsRendersItAgain) {
  Window w;
  WriteKnownImage("saved.bin");
  Child<QLineEdit>(&w.dialog, "edit1000")->setText(QStringLiteral("report.txt"));
  WhenModal<QFileDialog>([](QFileDialog* d) {
    EXPECT_EQ(d->nameFilters(), QStringList({"Memory images (*.bin)", "All files (*)"}));
    d->selectFile(QDir::current().absoluteFilePath(QStringLiteral("saved.bin")));
    static_cast<QDialog*>(d)->accept();
  });
  w.Click("buttonOpenImage");
  EXPECT_EQ(w.messages, QStringList());
  EXPECT_THAT(w.dialog.StatusText(), ::testing::EndsWith("Creating ASCII file report.\r\nDone."));
  const QByteArray report = ReadAll(QStringLiteral("report.txt"));
  EXPECT_THAT(report.toStdString(), ::testing::HasSubstr("device NE0\r\n"));
  EXPECT_EQ(w.ViewRows(), ReportRows(report, true));
  EXPECT_EQ(w.ViewRows()[0][2] + w.ViewRows()[0][3], QStringLiteral("25.0\u00B0C"));
  EXPECT_EQ(w.Text("labelCount").left(25), "3 readings of 2 points; t");
  auto* note = Child<QLabel>(&w.dialog, "labelNote");
  EXPECT_FALSE(note->isVisibleTo(&w.dialog));

  // Imperial and absolute: the view as that report would be, the report file as it was.
  w.Click("radio1013");
  w.Click("radio1016");
  QByteArray imperial;
  {
    report::testing::RecordingSink sink;
    report::PointTable table{};
    report::AnalyseImage(sink, table, "saved.bin",
                         {"imperial.txt", {report::kImperial, report::kAbsolute, report::kAscii}});
    imperial = ReadAll(QStringLiteral("imperial.txt"));
  }
  EXPECT_EQ(w.ViewRows(), ReportRows(imperial, true));
  EXPECT_EQ(w.ViewRows()[0][2] + w.ViewRows()[0][3], QStringLiteral("536.7\u00B0R"));
  EXPECT_EQ(ReadAll(QStringLiteral("report.txt")), report);
  EXPECT_TRUE(note->isVisibleTo(&w.dialog));
  EXPECT_THAT(note->text().toStdString(), ::testing::HasSubstr("rewritten only by the next"));

  // The image gone: the view stays as it is and says why.
  QFile::remove(QStringLiteral("saved.bin"));
  w.Click("radio1012");
  EXPECT_EQ(w.ViewRows(), ReportRows(imperial, true));
  EXPECT_THAT(note->text().toStdString(), ::testing::HasSubstr("saved.bin: No such file"));
}

TEST(Window, SelectingAReadingShowsItsPointsTrend) {
  Window w;
  using report::testing::Measurement;
  constexpr std::int32_t kT = 1'100'000'000;
  // Point 3: six temperatures, of which the report keeps four; point 700: one lux value.
  std::vector<report::testing::Record> records;
  for (int i = 0; i < 6; ++i) records.push_back(Measurement(3, 19, 200 + 10 * i, kT + 86400 * i));
  records.push_back(Measurement(700, 20, 605, kT));
  std::vector<std::uint8_t> image;
  for (const auto& r : records) image.insert(image.end(), r.begin(), r.end());
  WriteFile("trend.bin", QByteArray(reinterpret_cast<const char*>(image.data()),
                                    static_cast<qsizetype>(image.size())));
  Child<QLineEdit>(&w.dialog, "edit1000")->setText(QStringLiteral("report.txt"));
  w.dialog.OpenImage(QDir::current().absoluteFilePath(QStringLiteral("trend.bin")));
  auto* trend = Child<TrendView>(&w.dialog, "groupTrend");
  EXPECT_EQ(trend->pointCount(), 0);

  // An image without an instrument has no history: the chart shows the image's readings.
  w.Table()->selectRow(0);
  EXPECT_EQ(w.ViewRows()[0][0], "3");
  EXPECT_EQ(trend->pointCount(), 6);
  EXPECT_EQ(trend->markedCount(), 4);
  EXPECT_THAT(trend->title().toStdString(), ::testing::HasSubstr("Point 3: 6 readings of this "
                                                                 "image in °C"));
  w.Click("radio1013");  // imperial: the same readings, in the new unit
  EXPECT_EQ(trend->pointCount(), 6);
  EXPECT_THAT(trend->title().toStdString(), ::testing::HasSubstr("in °F"));
  w.Table()->selectRow(4);
  EXPECT_EQ(trend->pointCount(), 1);
  EXPECT_THAT(trend->title().toStdString(), ::testing::HasSubstr("Point 700: 1 reading"));
}

TEST(Window, TheImageLandsBesideTheReportAndTheReportOpens) {
  Window w;
  Simulator sim;
  QList<QUrl> opened;
  w.dialog.SetUrlOpener([&](const QUrl& url) { opened << url; });
  w.dialog.portIndex = serial::AddPortPath(sim.path());
  QDir().mkdir(QStringLiteral("site"));
  const QString site = QDir::current().absoluteFilePath(QStringLiteral("site"));
  Child<QLineEdit>(&w.dialog, "edit1000")->setText(QStringLiteral("site/report.txt"));
  EXPECT_FALSE(Child(&w.dialog, "buttonOpenReport")->isEnabled()) << "no report yet";
  w.Click("button1003");
  EXPECT_TRUE(QFile::exists(site + "/KLV480.bin"));
  EXPECT_FALSE(QFile::exists(QStringLiteral("KLV480.bin")));
  EXPECT_THAT(w.Text("labelSummary").toStdString(),
              ::testing::EndsWith(" Memory image: " + (site + "/KLV480.bin").toStdString()));
  EXPECT_FALSE(w.ViewRows().empty());
  // Its readings went into the history, and the trend of a point comes from there.
  EXPECT_THAT(w.Text("labelHistory").toStdString(),
              ::testing::MatchesRegex("[0-9]+ of [0-9]+ readings new in the history .*"));
  w.Table()->selectRow(0);
  EXPECT_THAT(Child<TrendView>(&w.dialog, "groupTrend")->title().toStdString(),
              ::testing::HasSubstr(" from the history"));

  w.Click("buttonOpenReport");
  w.Click("buttonShowFolder");
  EXPECT_EQ(opened,
            QList<QUrl>({QUrl::fromLocalFile(site + "/report.txt"), QUrl::fromLocalFile(site)}));
}

TEST(Window, ChoicesSurviveARestartAndAPortThatWentIsShownMissing) {
  FakePorts fake;
  {
    MainDialog first;
    first.SetPortCatalog(fake.Catalog());
    first.RestoreSettings();
    EXPECT_EQ(Child<QLabel>(&first, "labelPort")->text(), "Port: /dev/ttyS0");
    WhenModal<PortSetupDialog>([](PortSetupDialog* d) {
      d->findChild<QComboBox*>()->setCurrentIndex(1);
      static_cast<QDialog*>(d)->accept();
    });
    first.PortSetup();
    EXPECT_EQ(Child<QLabel>(&first, "labelPort")->text(), "Port: /dev/ttyS1 - USB adapter");
    Child<QLineEdit>(&first, "edit1000")->setText(QStringLiteral("/tmp/reports/a.csv"));
    for (const char* radio : {"radio1013", "radio1016", "radio1023"}) Child(&first, radio)->click();
    first.show();
    first.resize(1234, 777);
    auto* splitter = Child<QSplitter>(&first, "splitter");
    splitter->setSizes({700, 500});
    first.hide();  // as when it closes
  }
  MainDialog second;
  second.SetPortCatalog(fake.Catalog());
  second.RestoreSettings();
  second.show();
  EXPECT_EQ(second.portIndex, 1);
  EXPECT_EQ(Child<QLabel>(&second, "labelPort")->text(), "Port: /dev/ttyS1 - USB adapter");
  EXPECT_EQ(second.OutputFileName(), "/tmp/reports/a.csv");
  EXPECT_FALSE(second.MetricChosen());
  EXPECT_TRUE(second.AbsoluteChosen());
  EXPECT_FALSE(second.AsciiChosen());
  EXPECT_EQ(second.size(), QSize(1234, 777));
  EXPECT_EQ(Child<QSplitter>(&second, "splitter")->sizes()[0], 700);
  EXPECT_TRUE(fake.added.empty());

  // The adapter of the remembered port is gone: the port stays chosen and says so.
  QSettings().setValue(QStringLiteral("port"), QStringLiteral("/dev/ttyUSB97"));
  MainDialog third;
  third.RestoreSettings();
  EXPECT_EQ(serial::PortPath(third.portIndex), "/dev/ttyUSB97");
  EXPECT_EQ(Child<QLabel>(&third, "labelPort")->text(), "Port: /dev/ttyUSB97 (missing)");
}

// Close ends the program with exit(), past every destructor: what was typed last is saved first.
TEST(Window, CloseSavesTheChoicesBeforeTheProgramEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  MainDialog window;
  Child<QLineEdit>(&window, "edit1000")->setText(QStringLiteral("typed last.txt"));
  EXPECT_EXIT(Child(&window, "button8")->click(), ::testing::ExitedWithCode(1), "");
  QSettings settings;
  settings.sync();
  EXPECT_EQ(settings.value(QStringLiteral("outputFile")).toString(), "typed last.txt");
}

TEST(Window, BrowseOffersTheLayoutsFilesFirstAndAddsItsSuffix) {
  Window w;
  const QString folder = QDir::currentPath();
  for (const bool csv : {false, true}) {
    SCOPED_TRACE(csv);
    if (csv) w.Click("radio1023");
    WhenModal<QFileDialog>([&](QFileDialog* d) {
      const QStringList filters = d->nameFilters();
      EXPECT_EQ(filters.first(), csv ? "CSV report (*.csv)" : "Text report (*.txt)");
      EXPECT_EQ(filters.last(), "All files (*)");
      d->selectFile(folder + "/monday");
      static_cast<QDialog*>(d)->accept();
    });
    w.Click("button1001");
    EXPECT_EQ(Child<QLineEdit>(&w.dialog, "edit1000")->text(),
              folder + (csv ? "/monday.csv" : "/monday.txt"));
  }
}

// Every button and group of the window has its own Alt key, and Help holds About.
TEST(Window, EveryButtonAndGroupHasItsOwnMnemonic) {
  Window w;
  QStringList texts;
  for (QAbstractButton* button : w.dialog.findChildren<QAbstractButton*>()) {
    if (!button->text().isEmpty()) texts << button->text();
  }
  for (QGroupBox* group : w.dialog.findChildren<QGroupBox*>()) texts << group->title();
  QString keys;
  for (const QString& text : texts) {
    const qsizetype amp = text.indexOf('&');
    ASSERT_GE(amp, 0) << text.toStdString();
    const QChar key = text.at(amp + 1).toLower();
    EXPECT_FALSE(keys.contains(key)) << text.toStdString();
    keys += key;
  }
  EXPECT_EQ(texts.size(), 22);
  auto* help = Child<QMenu>(&w.dialog, "menuHelp");
  EXPECT_EQ(help->title(), "&Help");
  EXPECT_TRUE(help->actions().contains(Child<QAction>(&w.dialog, "actionAbout")));
  EXPECT_FALSE(keys.contains('h'));

  EXPECT_EQ(Child(&w.dialog, "button1002")->text(), "COM &Port Setup") << "its text stays";
}

TEST(Window, TheLogAndTheReadingsTakeTheRoomAWindowGains) {
  Window w;
  w.dialog.resize(w.dialog.minimumSizeHint());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  auto* log = Child<QPlainTextEdit>(&w.dialog, "edit1011");
  auto* options = Child<QGroupBox>(&w.dialog, "group1014");
  const QSize logBefore = log->size(), tableBefore = w.Table()->size();
  const int optionsHeight = options->height();
  EXPECT_GE(log->height(), 4 * log->fontMetrics().lineSpacing()) << "four lines at the least";

  w.dialog.resize(w.dialog.size() + QSize(400, 300));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  EXPECT_GE(log->height(), logBefore.height() + 250);
  EXPECT_GE(w.Table()->width(), tableBefore.width() + 300);
  EXPECT_GE(w.Table()->height(), tableBefore.height() + 250);
  EXPECT_EQ(options->height(), optionsHeight);
}

TEST(About, OpensFromF1AndFromTheContextMenu) {
  Window w;
  QApplication::setActiveWindow(&w.dialog);
  int opened = 0;
  WhenModal<AboutDialog>([&](AboutDialog* about) {
    ++opened;
    EXPECT_EQ(about->windowTitle(), "About Brelin");
    EXPECT_EQ(Child<QLabel>(about, "labelVersion")->text(), "Brelin Version 1.2");
    QTest::mouseClick(Child<QPushButton>(about, "button1"), Qt::LeftButton);
  });
  QTest::keyClick(&w.dialog, Qt::Key_F1);  // the shortcut of the context menu's item
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(w.dialog.actions().contains(Child<QAction>(&w.dialog, "actionAbout")));
  EXPECT_EQ(w.dialog.contextMenuPolicy(), Qt::ActionsContextMenu);
}

}  // namespace
}  // namespace brelin::gui
