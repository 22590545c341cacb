#include "gui/main_dialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSplitter>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "app/commands.h"
#include "app/readings.h"
#include "app/trend.h"
#include "gui/about_dialog.h"
#include "gui/app_icon.h"
#include "gui/port_setup_dialog.h"
#include "gui/readings_view.h"
#include "gui/trend_view.h"
#ifdef BRELIN_HISTORY
#include "history/history.h"
#endif
#include "report/analysis.h"
#include "report/file_error.h"

namespace brelin::gui {
namespace {

QPushButton* MakeButton(const QString& caption, const QString& name, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  return button;
}

QPushButton* MakeButton(const QString& caption, int id, QWidget* parent) {
  return MakeButton(caption, QStringLiteral("button%1").arg(id), parent);
}

QRadioButton* MakeRadio(const QString& caption, int id, QButtonGroup* group, QWidget* parent) {
  auto* radio = new QRadioButton(caption, parent);
  radio->setObjectName(QStringLiteral("radio%1").arg(id));
  group->addButton(radio, id);
  return radio;
}

// Where the choices are remembered.
constexpr char kPortKey[] = "port";
constexpr char kOutputKey[] = "outputFile";
constexpr char kMetricKey[] = "metric";
constexpr char kAbsoluteKey[] = "absolute";
constexpr char kAsciiKey[] = "ascii";
constexpr char kFolderKey[] = "lastFolder";
// Where Get Data keeps the readings, when not in the user's data folder; set by hand, never saved.
constexpr char kHistoryKey[] = "historyPath";
constexpr char kGeometryKey[] = "geometry";
constexpr char kSplitterKey[] = "splitter";

void ShowMessageBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Brelin"), text, QMessageBox::Ok, parent);
  box.exec();
}

bool AskQuestion(QWidget* parent, const QString& text, const QString& action) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Brelin"), text, QMessageBox::Cancel,
                  parent);
  const QPushButton* goAhead = box.addButton(action, QMessageBox::DestructiveRole);
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  box.exec();
  return box.clickedButton() == goAhead;
}

}  // namespace

MainDialog::MainDialog(QWidget* parent)
    : QDialog(parent),
      presenter_(ShowMessageBox),
      question_(AskQuestion),
      opener_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
  setWindowTitle(QStringLiteral("Brelin"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::WindowMaximizeButtonHint);
  setWindowIcon(AppIcon());
  auto* controls = new QWidget(this);

  // Output File
  auto* fileBox = new QGroupBox(QStringLiteral("Output &File"), controls);
  outputFile_ = new QLineEdit(fileBox);
  outputFile_->setObjectName(QStringLiteral("edit1000"));
  auto* browse = MakeButton(QStringLiteral("&Browse..."), 1001, fileBox);
  openReport_ =
      MakeButton(QStringLiteral("Open Repor&t"), QStringLiteral("buttonOpenReport"), fileBox);
  showFolder_ =
      MakeButton(QStringLiteral("Sho&w in Folder"), QStringLiteral("buttonShowFolder"), fileBox);
  auto* fileLayout = new QGridLayout(fileBox);
  fileLayout->addWidget(outputFile_, 0, 0, 1, 4);
  fileLayout->addWidget(openReport_, 1, 0);
  fileLayout->addWidget(showFolder_, 1, 1);
  fileLayout->addWidget(browse, 1, 3);
  fileLayout->setColumnStretch(2, 1);

  // Options: two independent radio groups side by side in one box.
  auto* optionsBox = new QGroupBox(QStringLiteral("&Options"), controls);
  optionsBox->setObjectName(QStringLiteral("group1014"));
  auto* units = new QButtonGroup(this);
  auto* scale = new QButtonGroup(this);
  metric_ = MakeRadio(QStringLiteral("&Metric"), 1012, units, optionsBox);
  auto* imperial = MakeRadio(QStringLiteral("&Imperial"), 1013, units, optionsBox);
  auto* relative = MakeRadio(QStringLiteral("&Relative"), 1017, scale, optionsBox);
  absolute_ = MakeRadio(QStringLiteral("&Absolute"), 1016, scale, optionsBox);
  auto* optionsLayout = new QGridLayout(optionsBox);
  optionsLayout->addWidget(new QLabel(QStringLiteral("Format:"), optionsBox), 0, 0, Qt::AlignRight);
  optionsLayout->addWidget(metric_, 0, 1);
  optionsLayout->addWidget(imperial, 0, 2);
  optionsLayout->addWidget(new QLabel(QStringLiteral("Temperature:"), optionsBox), 1, 0,
                           Qt::AlignRight);
  optionsLayout->addWidget(relative, 1, 1);
  optionsLayout->addWidget(absolute_, 1, 2);
  optionsLayout->setColumnStretch(3, 1);

  auto* formatBox = new QGroupBox(QStringLiteral("Fi&le Output Format"), controls);
  formatBox->setObjectName(QStringLiteral("group1015"));
  auto* format = new QButtonGroup(this);
  ascii_ = MakeRadio(QStringLiteral("A&SCII"), 1022, format, formatBox);
  auto* csv = MakeRadio(QStringLiteral("CS&V"), 1023, format, formatBox);
  auto* formatLayout = new QVBoxLayout(formatBox);
  formatLayout->addWidget(ascii_);
  formatLayout->addWidget(csv);

  metric_->setChecked(true);
  relative->setChecked(true);
  ascii_->setChecked(true);

  // Status: the log takes the height the window gains.
  auto* statusBox = new QGroupBox(QStringLiteral("Stat&us"), controls);
  statusLog_ = new QPlainTextEdit(statusBox);
  statusLog_->setObjectName(QStringLiteral("edit1011"));
  statusLog_->setLineWrapMode(QPlainTextEdit::NoWrap);
  statusLog_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  statusLog_->setTabChangesFocus(true);
  statusLog_->setMinimumHeight(statusLog_->fontMetrics().lineSpacing() * 4 +
                               2 * statusLog_->frameWidth() + 8);
  statusLog_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  progress_ = new QProgressBar(statusBox);
  progress_->setObjectName(QStringLiteral("progress1004"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  // What the last analysis found, apart from the status log, whose lines are fixed.
  summary_ = new QLabel(statusBox);
  summary_->setObjectName(QStringLiteral("labelSummary"));
  warning_ = new QLabel(statusBox);
  warning_->setObjectName(QStringLiteral("labelWarning"));
  // What Get Data added to the history, or why it could not.
  history_ = new QLabel(statusBox);
  history_->setObjectName(QStringLiteral("labelHistory"));
  for (QLabel* label : {summary_, warning_, history_}) {
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
  }
  auto* statusLayout = new QVBoxLayout(statusBox);
  statusLayout->addWidget(statusLog_, 1);
  statusLayout->addWidget(progress_);
  statusLayout->addWidget(summary_);
  statusLayout->addWidget(warning_);
  statusLayout->addWidget(history_);

  // The chosen port, and the commands
  port_ = new QLabel(controls);
  port_->setObjectName(QStringLiteral("labelPort"));
  port_->setTextFormat(Qt::PlainText);
  port_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* portSetup = MakeButton(QStringLiteral("COM &Port Setup"), 1002, controls);
  auto* openImage =
      MakeButton(QStringLiteral("Ope&n Image..."), QStringLiteral("buttonOpenImage"), controls);
  auto* getData = MakeButton(QStringLiteral("&Get Data"), 1003, controls);
  getData->setDefault(true);
  auto* erase = MakeButton(QStringLiteral("&ERASE"), 1021, controls);
  auto* close = MakeButton(QStringLiteral("&Close"), 8, controls);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(portSetup);
  buttons->addWidget(openImage);
  buttons->addStretch(1);
  buttons->addWidget(getData);
  buttons->addWidget(erase);
  buttons->addWidget(close);

  auto* layout = new QGridLayout(controls);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(fileBox, 0, 0, 1, 2);
  layout->addWidget(optionsBox, 1, 0);
  layout->addWidget(formatBox, 1, 1);
  layout->addWidget(statusBox, 2, 0, 1, 2);
  layout->addWidget(port_, 3, 0, 1, 2);
  layout->addLayout(buttons, 4, 0, 1, 2);
  layout->setColumnStretch(0, 1);
  layout->setRowStretch(2, 1);

  readings_ = new ReadingsView(this);
  trend_ = new TrendView(this);
  // The readings above, the trend of the point selected among them below.
  auto* right = new QSplitter(Qt::Vertical, this);
  right->setObjectName(QStringLiteral("splitterReadings"));
  right->setChildrenCollapsible(false);
  right->addWidget(readings_);
  right->addWidget(trend_);
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 2);
  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName(QStringLiteral("splitter"));
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(controls);
  splitter_->addWidget(right);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);

  // No per-window system menu on Linux desktops: the Help menu, the window's context menu and F1
  // carry About.
  about_ = new QAction(QStringLiteral("&About Brelin..."), this);
  about_->setObjectName(QStringLiteral("actionAbout"));
  about_->setShortcut(QKeySequence(Qt::Key_F1));
  connect(about_, &QAction::triggered, this, &MainDialog::About);
  addAction(about_);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* menus = new QMenuBar(this);
  QMenu* help = menus->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("menuHelp"));
  help->addAction(about_);

  auto* top = new QVBoxLayout(this);
  top->setMenuBar(menus);
  top->addWidget(splitter_);
  // Wide enough for every column of the readings beside the commands.
  splitter_->setSizes({controls->sizeHint().width(), 720});
  resize(sizeHint().expandedTo(QSize(1180, 600)));

  connect(getData, &QPushButton::clicked, this, &MainDialog::GetData);
  connect(erase, &QPushButton::clicked, this, &MainDialog::Erase);
  connect(openImage, &QPushButton::clicked, this, qOverload<>(&MainDialog::OpenImage));
  connect(browse, &QPushButton::clicked, this, &MainDialog::Browse);
  connect(portSetup, &QPushButton::clicked, this, &MainDialog::PortSetup);
  connect(close, &QPushButton::clicked, this, &MainDialog::CloseProgram);
  connect(openReport_, &QPushButton::clicked, this, &MainDialog::OpenReport);
  connect(showFolder_, &QPushButton::clicked, this, &MainDialog::ShowReportFolder);
  connect(outputFile_, &QLineEdit::textChanged, this, &MainDialog::UpdateReportActions);
  connect(outputFile_, &QLineEdit::editingFinished, this, &MainDialog::SaveSettings);
  // A change of units shows the readings in the new ones; any change of choice is remembered.
  connect(metric_, &QRadioButton::toggled, this, &MainDialog::RerenderReadings);
  connect(absolute_, &QRadioButton::toggled, this, &MainDialog::RerenderReadings);
  for (QRadioButton* radio : {metric_, absolute_, ascii_}) {
    connect(radio, &QRadioButton::toggled, this, &MainDialog::SaveSettings);
  }
  connect(readings_, &ReadingsView::ReadingSelected, this, &MainDialog::ShowTrend);
#ifdef BRELIN_HISTORY
  historyPath = history::DefaultPath();
#endif
  commands_ = {getData, erase, openImage, portSetup, browse};
  UpdateReportActions();
  ShowPort();
}

void MainDialog::SetPortCatalog(PortCatalog catalog) {
  catalog_ = std::move(catalog);
  ShowPort();
}

void MainDialog::RestoreSettings() {
  // Read in full before anything is set: each choice set is saved at once, with the others as
  // they are then.
  const QSettings settings;
  const bool hasPort = settings.contains(kPortKey);
  const std::string port = QFile::encodeName(settings.value(kPortKey).toString()).toStdString();
  const QString output = settings.value(kOutputKey).toString();
  const bool metric = settings.value(kMetricKey, true).toBool();
  const bool absolute = settings.value(kAbsoluteKey, false).toBool();
  const bool ascii = settings.value(kAsciiKey, true).toBool();
  const QString folder = settings.value(kFolderKey).toString();
  const QByteArray geometry = settings.value(kGeometryKey).toByteArray();
  const QByteArray splitter = settings.value(kSplitterKey).toByteArray();
  if (settings.contains(kHistoryKey)) {
    historyPath = QFile::encodeName(settings.value(kHistoryKey).toString()).toStdString();
  }

  if (hasPort) {
    const std::vector<PortChoice> ports = catalog_.list(PortScan::kKnown);
    const auto listed = std::find_if(ports.begin(), ports.end(),
                                     [&](const PortChoice& p) { return p.path == port; });
    // Kept even when the device has gone: the label says it is missing, and another port is
    // never taken in its place.
    portIndex = port.empty()            ? -1
                : listed != ports.end() ? static_cast<std::int32_t>(listed - ports.begin())
                                        : catalog_.add(port);
  }
  outputFile_->setText(output);
  findChild<QRadioButton*>(metric ? QStringLiteral("radio1012") : QStringLiteral("radio1013"))
      ->setChecked(true);
  findChild<QRadioButton*>(absolute ? QStringLiteral("radio1016") : QStringLiteral("radio1017"))
      ->setChecked(true);
  findChild<QRadioButton*>(ascii ? QStringLiteral("radio1022") : QStringLiteral("radio1023"))
      ->setChecked(true);
  lastFolder_ = folder;
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  if (!splitter.isEmpty()) splitter_->restoreState(splitter);
  ShowPort();
}

void MainDialog::SaveSettings() const {
  const std::vector<PortChoice> ports = catalog_.list(PortScan::kKnown);
  const bool listed = portIndex >= 0 && portIndex < static_cast<int>(ports.size());
  const std::pair<const char*, QVariant> values[] = {
      {kPortKey, listed ? QFile::decodeName(ports[portIndex].path.c_str()) : QString()},
      {kOutputKey, outputFile_->text()},
      {kMetricKey, metric_->isChecked()},
      {kAbsoluteKey, absolute_->isChecked()},
      {kAsciiKey, ascii_->isChecked()},
      {kFolderKey, lastFolder_},
      {kGeometryKey, saveGeometry()},
      {kSplitterKey, splitter_->saveState()}};
  // Written (and synced to disk) only when something changed: a write can take a disk's time.
  QSettings settings;
  for (const auto& [key, value] : values) {
    if (settings.value(key) != value) settings.setValue(key, value);
  }
}

void MainDialog::ShowPort() {
  const std::vector<PortChoice> ports = catalog_.list(PortScan::kKnown);
  if (portIndex >= 0 && portIndex < static_cast<int>(ports.size())) {
    port_->setText(QStringLiteral("Port: ") + QString::fromStdString(ports[portIndex].label));
  } else {
    port_->setText(QStringLiteral("Port: none chosen (COM Port Setup)"));
  }
}

void MainDialog::UpdateReportActions() {
  const QFileInfo report(outputFile_->text());
  openReport_->setEnabled(!outputFile_->text().isEmpty() && report.isFile());
  showFolder_->setEnabled(!outputFile_->text().isEmpty() && report.dir().exists());
}

std::string MainDialog::OutputFileName() const {
  return QFile::encodeName(outputFile_->text()).toStdString();
}

bool MainDialog::MetricChosen() const {
  return metric_->isChecked();
}
bool MainDialog::AbsoluteChosen() const {
  return absolute_->isChecked();
}
bool MainDialog::AsciiChosen() const {
  return ascii_->isChecked();
}

void MainDialog::AppendStatus(std::string_view text) {
  QTextCursor end(statusLog_->document());
  end.movePosition(QTextCursor::End);
  end.insertText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));

  // The caret goes two characters before the end of the text with CR LF line ends, so a closing
  // line end stays after it and the last line is in view. A line end is one separator in the
  // document: the caret goes just before a final one, else two characters back.
  QTextDocument* document = statusLog_->document();
  const int length = document->characterCount() - 1;  // without the document's own end
  const bool endsWithLineEnd =
      length > 0 && document->characterAt(length - 1) == QChar::ParagraphSeparator;
  QTextCursor caret = statusLog_->textCursor();
  caret.setPosition(std::max(0, length - (endsWithLineEnd ? 1 : 2)));
  statusLog_->setTextCursor(caret);
  statusLog_->ensureCursorVisible();
}

std::string MainDialog::StatusText() const {
  QString text = statusLog_->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return text.toLatin1().toStdString();
}

void MainDialog::SetProgress(int position) {
  summary_->clear();  // a transfer's figures are over when the bar moves on
  progress_->setValue(std::clamp(position, 0, 100));
}

void MainDialog::ShowTransfer(const device::TransferProgress& progress) {
  // The image's size is not known before it has arrived: the bar creeps towards the transfer's
  // end position (30) without ever claiming a share, and the figures say how far it has come.
  constexpr std::int64_t kHalfWay = 32 * 1024;
  const std::int64_t bytes = std::max<std::int64_t>(progress.bytes, 0);
  summary_->setText(QStringLiteral("Received ") +
                    QString::fromStdString(app::TransferText(progress)));
  progress_->setValue(static_cast<int>(10 + 19 * bytes / (bytes + kHalfWay)));
}

void MainDialog::ShowMessage(std::string_view text) {
  presenter_(this, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void MainDialog::GetData() {
  RunCommand([this] {
    const std::string image = app::ImageBesideReport(OutputFileName());
    if (app::GetDataCommand(*this, {.imagePath = image})) ShowReadings(image);
  });
}

void MainDialog::OpenImage() {
  QFileDialog chooser(this, QStringLiteral("Open Memory Image"), StartFolder());
  chooser.setAcceptMode(QFileDialog::AcceptOpen);
  chooser.setFileMode(QFileDialog::ExistingFile);
  chooser.setNameFilters(
      {QStringLiteral("Memory images (*.bin)"), QStringLiteral("All files (*)")});
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  OpenImage(chooser.selectedFiles().constFirst());
}

void MainDialog::OpenImage(const QString& path) {
  RememberFolder(path);
  SaveSettings();
  const std::string image = QFile::encodeName(path).toStdString();
  RunCommand([this, &image] {
    if (app::OpenImageCommand(*this, image)) ShowReadings(image);
  });
}

void MainDialog::Erase() {
  if (!question_(this, QString::fromLatin1(app::kEraseQuestion), QStringLiteral("Erase"))) return;
  RunCommand([this] { app::EraseCommand(*this); });
}

void MainDialog::RunCommand(const std::function<void()>& command) {
  // The waits of a command handle the window's events: a second command started from one would
  // run nested on the same port and stall the first, and so would the About box.
  running_ = true;
  // Greying the focused button would pass the focus on, as far as Close.
  QWidget* focus = focusWidget();
  for (QWidget* widget : commands_) widget->setEnabled(false);
  about_->setEnabled(false);
  ShowSummary(nullptr);
  historyResult.reset();
  try {
    command();
  } catch (const report::FileError& error) {
    presenter_(this, QStringLiteral("%1\n%2").arg(QFile::decodeName(error.path().c_str()),
                                                  QString::fromLocal8Bit(error.reason())));
  } catch (const std::exception& error) {
    // Nothing may leave a handler into the window's event loop.
    presenter_(this, QString::fromLocal8Bit(error.what()));
  }
  for (QWidget* widget : commands_) widget->setEnabled(true);
  about_->setEnabled(true);
  if (focus != nullptr) focus->setFocus();
  running_ = false;
  ShowSummary(analysisSummary ? &*analysisSummary : nullptr,
              analysisSummary ? viewImage_ : std::string());
  UpdateReportActions();
  ShowPort();  // the device may have gone meanwhile
  stopRequested_ = false;
  const AfterCommand after = std::exchange(afterCommand_, AfterCommand::kStay);
  if (after == AfterCommand::kExit) {
    SaveSettings();
    std::exit(1);
  }
  if (after == AfterCommand::kClose) close();
}

void MainDialog::ShowSummary(const report::AnalysisSummary* summary, const std::string& image) {
  const std::string text = summary ? app::SummaryText(*summary) : "";
  const std::string warning = summary ? app::SummaryWarning(*summary) : "";
  QString line = QString::fromStdString(text);
  if (!image.empty()) {
    line +=
        QStringLiteral(" Memory image: ") +
        QDir::toNativeSeparators(QFileInfo(QFile::decodeName(image.c_str())).absoluteFilePath());
  }
  summary_->setText(line);
  warning_->setText(warning.empty() ? QString() : QString::fromStdString("Warning: " + warning));
  QString added;
  if (summary != nullptr && historyResult) {
    added = historyResult->warning.empty()
                ? QFile::decodeName(app::HistoryText(*historyResult).c_str())
                : QString::fromLocal8Bit("Warning: " + historyResult->warning);
  }
  history_->setText(added);
}

void MainDialog::ShowReadings(const std::string& image) {
  viewImage_ = image;
  readings_->SetReadings(app::ReadingsOf(pointTable));
  readings_->SetNote({});
  ShowTrend(trendPoint_, trendTime_);
}

void MainDialog::ShowTrend(int point, qint32 timestamp) {
  trendPoint_ = point;
  trendTime_ = timestamp;
  if (point < 0) {
    trend_->Clear(QStringLiteral("Select a reading to see its point's trend."));
    return;
  }
  trend_->SetTrend(app::TrendOf(*this, viewImage_, point, timestamp));
}

void MainDialog::RerenderReadings() {
  // A command reads the choices itself and fills the view when it ends.
  if (running_ || viewImage_.empty()) return;
  auto table = std::make_unique<report::PointTable>();
  try {
    report::DecodeImage(*table, viewImage_, app::ChosenReportOptions(*this));
  } catch (const report::FileError& error) {
    readings_->SetNote(
        QStringLiteral("The readings stay in the previous units: %1: %2")
            .arg(QFile::decodeName(error.path().c_str()), QString::fromLocal8Bit(error.reason())));
    return;
  }
  readings_->SetReadings(app::ReadingsOf(*table));
  ShowTrend(trendPoint_, trendTime_);
  readings_->SetNote(
      QStringLiteral("Shown in the units chosen now; the report file is rewritten only by the "
                     "next Get Data or Open Image."));
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  // Escape would end the window while the command still runs inside it.
  if (running_ && event->matches(QKeySequence::Cancel)) return;
  QDialog::keyPressEvent(event);
}

void MainDialog::Browse() {
  QFileDialog chooser(this, QStringLiteral("Output File"), StartFolder());
  chooser.setAcceptMode(QFileDialog::AcceptSave);  // asks before overwriting
  chooser.setFileMode(QFileDialog::AnyFile);
  // The chosen layout's kind of file first; its suffix is added to a name typed without one.
  const QString text = QStringLiteral("Text report (*.txt)");
  const QString csv = QStringLiteral("CSV report (*.csv)");
  const QString all = QStringLiteral("All files (*)");
  chooser.setNameFilters(AsciiChosen() ? QStringList{text, csv, all} : QStringList{csv, text, all});
  chooser.setDefaultSuffix(AsciiChosen() ? QStringLiteral("txt") : QStringLiteral("csv"));
  if (!outputFile_->text().isEmpty()) chooser.selectFile(outputFile_->text());
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  outputFile_->setText(chooser.selectedFiles().constFirst());
  RememberFolder(outputFile_->text());
  SaveSettings();
}

QString MainDialog::StartFolder() const {
  return lastFolder_.isEmpty() || !QDir(lastFolder_).exists() ? QDir::homePath() : lastFolder_;
}

void MainDialog::RememberFolder(const QString& file) {
  lastFolder_ = QFileInfo(file).absolutePath();
}

void MainDialog::OpenReport() {
  opener_(QUrl::fromLocalFile(QFileInfo(outputFile_->text()).absoluteFilePath()));
}

void MainDialog::ShowReportFolder() {
  opener_(QUrl::fromLocalFile(QFileInfo(outputFile_->text()).absolutePath()));
}

void MainDialog::PortSetup() {
  PortSetupDialog dialog(this, catalog_);
  dialog.selectedIndex = portIndex;
  if (dialog.exec() != QDialog::Accepted) return;
  portIndex = dialog.selectedIndex;
  ShowPort();
  SaveSettings();
}

void MainDialog::About() {
  AboutDialog dialog(this);
  dialog.exec();
}

void MainDialog::CloseProgram() {
  if (!running_) {
    SaveSettings();
    std::exit(1);
  }
  stopRequested_ = true;
  afterCommand_ = AfterCommand::kExit;
}

void MainDialog::closeEvent(QCloseEvent* event) {
  if (!running_) return QDialog::closeEvent(event);
  event->ignore();
  stopRequested_ = true;
  if (afterCommand_ == AfterCommand::kStay) afterCommand_ = AfterCommand::kClose;
}

void MainDialog::hideEvent(QHideEvent* event) {
  SaveSettings();  // Escape, the close box and the end of the program pass here
  QDialog::hideEvent(event);
}

}  // namespace brelin::gui
