// The window driven by clicks against klv480-sim on a pseudo-terminal.
#include <gmock/gmock.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "gui/main_dialog.h"
#include "gui/port_setup_dialog.h"
#include "gui/testing/fast_clock.h"
#include "gui/testing/modal.h"
#include "gui/testing/simulator.h"
#include "report/analysis.h"
#include "report/testing/fake_model.h"
#include "serial/discovery.h"
#include "serial/port.h"

namespace brelin::gui {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Simulator;
using testing::WhenModal;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Everything after the first line, which carries the time the report was made.
QByteArray AfterFirstLine(const QByteArray& text) {
  return text.mid(text.indexOf('\n') + 1);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(work_.isValid());
    previousDir_ = QDir::currentPath();
    QDir::setCurrent(work_.path());  // where the download keeps KLV480.bin
    window_.SetMessagePresenter([this](QWidget*, const QString& text) { messages_ << text; });
    QObject::connect(Bar(), &QProgressBar::valueChanged,
                     [this](int value) { progress_.push_back(value); });
    window_.show();
  }

  void TearDown() override {
    QDir::setCurrent(previousDir_);
    EXPECT_EQ(serial::PortListHead(), nullptr) << "a Port was left open";
  }

  template <typename T = QPushButton>
  T* Control(const char* name) {
    T* control = window_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QProgressBar* Bar() { return Control<QProgressBar>("progress1004"); }
  void Click(const char* name) { QTest::mouseClick(Control(name), Qt::LeftButton); }
  void ClickRadio(const char* name) {
    auto* radio = Control<QRadioButton>(name);
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
  }

  QString OutputPath() const { return work_.filePath(QStringLiteral("report.txt")); }
  void ChooseOutput() { Control<QLineEdit>("edit1000")->setText(OutputPath()); }
  void UsePort(const Simulator& sim) {
    ASSERT_FALSE(sim.path().empty());
    window_.portIndex = serial::AddPortPath(sim.path());
  }

  // The report the analysis makes from the downloaded image with the same choices.
  QByteArray ExpectedReport(bool metric, bool absolute, bool ascii) {
    report::testing::FakeModel model;
    model.outputFileName = work_.filePath(QStringLiteral("expected.txt")).toStdString();
    model.metric = metric;
    model.absolute = absolute;
    model.ascii = ascii;
    model.deviceInfo.serialNumber = Simulator::kSerialNumber;
    report::AnalyseImage(model, "KLV480.bin");
    return ReadAll(QString::fromStdString(model.outputFileName));
  }

  QTemporaryDir work_;
  QString previousDir_;
  testing::FastClock clock_;
  MainDialog window_;
  QStringList messages_;
  std::vector<int> progress_;
};

constexpr char kDownloadLines[] =
    "Checking output filename.\r\nCreating output file.\r\nGet data from KLV480.\r\n"
    "Opening communication port.\r\nDownloading data from KLV480.\r\n"
    "Obtaining KLV480 system info.\r\nAnalysing data.\r\n";

TEST_F(WindowTest, GetDataOnATypedPortWritesTheReportWithEveryStepShown) {
  Simulator sim;
  ASSERT_FALSE(sim.path().empty());
  // The pseudo-terminal is not in the discovered list: the operator types its path.
  WhenModal<PortSetupDialog>([&](PortSetupDialog* dialog) {
    QLineEdit* edit = dialog->findChild<QComboBox*>(QStringLiteral("combo1008"))->lineEdit();
    edit->clear();
    QTest::keyClicks(edit, QString::fromStdString(sim.path()));
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  Click("button1002");
  ASSERT_EQ(serial::PortPath(window_.portIndex), sim.path());

  ChooseOutput();
  Click("button1003");

  EXPECT_THAT(messages_, IsEmpty());
  EXPECT_EQ(window_.StatusText(),
            std::string(kDownloadLines) + "Creating ASCII file report.\r\nDone.");
  EXPECT_THAT(progress_, ElementsAre(10, 30, 50, 70, 85, 100));
  EXPECT_EQ(window_.deviceInfo.serialNumber, Simulator::kSerialNumber);

  const QByteArray report = ReadAll(OutputPath());
  EXPECT_TRUE(report.startsWith("KLV480 report created at "));
  EXPECT_TRUE(AfterFirstLine(report).startsWith("Data downloaded from device NE480123\r\n\r\n"));
  EXPECT_EQ(AfterFirstLine(report), AfterFirstLine(ExpectedReport(true, false, true)));
}

TEST_F(WindowTest, OptionButtonsChooseUnitsScaleAndFormat) {
  Simulator sim;
  UsePort(sim);
  ChooseOutput();
  ClickRadio("radio1013");  // Imperial
  ClickRadio("radio1016");  // Absolute
  ClickRadio("radio1023");  // CSV
  Click("button1003");

  EXPECT_THAT(messages_, IsEmpty());
  EXPECT_EQ(window_.StatusText(),
            std::string(kDownloadLines) + "Creating CSV file report.\r\nDone.");
  const QByteArray report = ReadAll(OutputPath());
  EXPECT_TRUE(report.startsWith("\"KLV480 report created at "));
  const QByteArray expected = ExpectedReport(false, true, false);
  EXPECT_EQ(AfterFirstLine(report), AfterFirstLine(expected));
  EXPECT_NE(AfterFirstLine(expected), AfterFirstLine(ExpectedReport(true, false, false)));
}

TEST_F(WindowTest, EmptyFileNameStopsBeforeTheInstrument) {
  Click("button1003");
  EXPECT_EQ(window_.StatusText(), "Checking output filename.\r\n");
  EXPECT_THAT(messages_, ElementsAre(QStringLiteral("There is no output File name selected ")));
  EXPECT_THAT(progress_, IsEmpty());
  EXPECT_FALSE(QFile::exists(QStringLiteral("KLV480.bin")));
}

TEST_F(WindowTest, SilentInstrumentAndNoSelectedPortEndInNoResponse) {
  Simulator sim({QStringLiteral("--silent")});
  UsePort(sim);
  ChooseOutput();
  Click("button1003");
  EXPECT_THAT(messages_, ElementsAre(QStringLiteral("No response of KLV480")));
  EXPECT_EQ(window_.StatusText(),
            "Checking output filename.\r\nCreating output file.\r\nGet data from KLV480.\r\n"
            "Opening communication port.\r\n");
  EXPECT_THAT(progress_, IsEmpty());
  EXPECT_TRUE(QFile::exists(OutputPath()));  // created empty before the instrument was asked
  EXPECT_EQ(ReadAll(OutputPath()), QByteArray());

  window_.portIndex = -1;  // OK with no entry selected
  Click("button1021");
  EXPECT_THAT(messages_, ElementsAre(QStringLiteral("No response of KLV480"),
                                     QStringLiteral("No response of KLV480")));
  EXPECT_THAT(progress_, ElementsAre(5, 10));  // the erase leaves the bar at 10
}

TEST_F(WindowTest, RefusedDownloadSetsTheBarBackToZero) {
  Simulator sim({QStringLiteral("--refuse")});
  UsePort(sim);
  ChooseOutput();
  Click("button1003");
  EXPECT_THAT(messages_, ElementsAre(QStringLiteral("No download allowed !!!\n")));
  EXPECT_THAT(progress_, ElementsAre(10, 0));
  EXPECT_FALSE(window_.StatusText().ends_with("Done."));
}

TEST_F(WindowTest, EraseRunsTheBarUpWhileTheInstrumentErases) {
  Simulator sim;
  UsePort(sim);
  Click("button1021");
  EXPECT_THAT(messages_, IsEmpty());
  EXPECT_EQ(window_.StatusText(),
            "Get data from KLV480.\r\nOpening communication port.\r\nErasing data in the "
            "KLV480.\r\nDone.");
  std::vector<int> expected{5, 10};
  for (int i = 0; i < 100; ++i) {
    const int position = 10 + (9 * i) / 10;
    if (position != expected.back()) expected.push_back(position);  // the bar reports changes
  }
  expected.push_back(100);
  EXPECT_EQ(progress_, expected);
}

TEST_F(WindowTest, ClicksDuringAWaitRunNestedAndFindThePortInUse) {
  Simulator sim;
  UsePort(sim);
  ChooseOutput();
  // Posted clicks are handled by the first wait after the bar moves.
  QObject::connect(Bar(), &QProgressBar::valueChanged, &window_, [this](int value) {
    if (value == 10 && progress_.size() == 1) {
      QTimer::singleShot(0, &window_, [this] { Click("button1003"); });
    }
    if (value == 30) QTimer::singleShot(0, &window_, [this] { Click("button1021"); });
  });
  Click("button1003");

  EXPECT_THAT(messages_, ElementsAre(QStringLiteral("No response of KLV480"),
                                     QStringLiteral("No response of KLV480")));
  EXPECT_EQ(window_.StatusText(),
            "Checking output filename.\r\nCreating output file.\r\nGet data from KLV480.\r\n"
            "Opening communication port.\r\n"
            // the nested Get Data
            "Checking output filename.\r\nCreating output file.\r\nGet data from KLV480.\r\n"
            "Opening communication port.\r\n"
            "Downloading data from KLV480.\r\nObtaining KLV480 system info.\r\n"
            // the nested ERASE
            "Get data from KLV480.\r\nOpening communication port.\r\n"
            "Analysing data.\r\nCreating ASCII file report.\r\nDone.");
  EXPECT_THAT(progress_, ElementsAre(10, 30, 5, 10, 50, 70, 85, 100));
  EXPECT_EQ(AfterFirstLine(ReadAll(OutputPath())),
            AfterFirstLine(ExpectedReport(true, false, true)));
}

TEST_F(WindowTest, FileErrorsAreShownAndTheWindowStaysUsable) {
  // The report cannot be created: nothing is sent to the instrument.
  const QString unreachable = work_.filePath(QStringLiteral("missing/report.txt"));
  Control<QLineEdit>("edit1000")->setText(unreachable);
  Click("button1003");
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_EQ(messages_[0], unreachable + QStringLiteral("\nNo such file or directory"));
  EXPECT_TRUE(window_.StatusText().ends_with("Creating output file.\r\n"));
  EXPECT_THAT(progress_, IsEmpty());

  // The report's folder disappears while the Port is open: the analysis fails, the Port is closed
  // (checked after every test) and the next Get Data works.
  Simulator sim;
  UsePort(sim);
  QDir(work_.path()).mkdir(QStringLiteral("out"));
  const QString report = work_.filePath(QStringLiteral("out/report.txt"));
  Control<QLineEdit>("edit1000")->setText(report);
  auto vanish = QObject::connect(Bar(), &QProgressBar::valueChanged, [this](int value) {
    if (value == 50) QDir(work_.filePath(QStringLiteral("out"))).removeRecursively();
  });
  Click("button1003");
  ASSERT_EQ(messages_.size(), 2);
  EXPECT_TRUE(messages_[1].startsWith(report)) << messages_[1].toStdString();
  EXPECT_EQ(serial::PortListHead(), nullptr);

  QObject::disconnect(vanish);
  QDir(work_.path()).mkdir(QStringLiteral("out"));
  Click("button1003");
  EXPECT_EQ(messages_.size(), 2);
  EXPECT_TRUE(window_.StatusText().ends_with("Done."));
  EXPECT_EQ(AfterFirstLine(ReadAll(report)), AfterFirstLine(ExpectedReport(true, false, true)));
}

void ReportOpenPortsAtExit() {
  int open = 0;
  for (serial::Port* port = serial::PortListHead(); port != nullptr; port = port->next) ++open;
  std::fprintf(stderr, "open ports at exit: %d\n", open);
}

TEST_F(WindowTest, CloseDuringADownloadExitsWithStatusOneAfterClosingThePort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Simulator sim;
  UsePort(sim);
  ChooseOutput();
  auto run = [this] {
    // Registered before the first Port exists, so it runs after the Port layer's own exit routine.
    std::atexit(ReportOpenPortsAtExit);
    QObject::connect(Bar(), &QProgressBar::valueChanged, &window_, [this](int value) {
      if (value != 30) return;
      std::fprintf(stderr, "open ports before close: %d\n", serial::PortListHead() != nullptr);
      QTimer::singleShot(0, &window_, [this] { Click("button8"); });
    });
    Click("button1003");
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(1),
              "open ports before close: 1.*open ports at exit: 0");
}

}  // namespace
}  // namespace brelin::gui
