#include "gui/main_dialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "app/commands.h"
#include "gui/about_dialog.h"
#include "gui/app_icon.h"
#include "gui/port_setup_dialog.h"
#include "report/file_error.h"

namespace brelin::gui {
namespace {

QPushButton* MakeButton(const QString& caption, int id, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QStringLiteral("button%1").arg(id));
  return button;
}

QRadioButton* MakeRadio(const QString& caption, int id, QButtonGroup* group, QWidget* parent) {
  auto* radio = new QRadioButton(caption, parent);
  radio->setObjectName(QStringLiteral("radio%1").arg(id));
  group->addButton(radio, id);
  return radio;
}

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
    : QDialog(parent), presenter_(ShowMessageBox), question_(AskQuestion) {
  setWindowTitle(QStringLiteral("Brelin"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());

  // Output File
  auto* fileBox = new QGroupBox(QStringLiteral("Output File"), this);
  outputFile_ = new QLineEdit(fileBox);
  outputFile_->setObjectName(QStringLiteral("edit1000"));
  auto* browse = MakeButton(QStringLiteral("Browse"), 1001, fileBox);
  auto* fileLayout = new QGridLayout(fileBox);
  fileLayout->addWidget(outputFile_, 0, 0, 1, 2);
  fileLayout->addWidget(browse, 1, 1);
  fileLayout->setColumnStretch(0, 1);

  // Options: two independent radio groups side by side in one box.
  auto* optionsBox = new QGroupBox(QStringLiteral("Options"), this);
  optionsBox->setObjectName(QStringLiteral("group1014"));
  auto* units = new QButtonGroup(this);
  auto* scale = new QButtonGroup(this);
  metric_ = MakeRadio(QStringLiteral("Metric"), 1012, units, optionsBox);
  auto* imperial = MakeRadio(QStringLiteral("Imperial"), 1013, units, optionsBox);
  auto* relative = MakeRadio(QStringLiteral("Relative"), 1017, scale, optionsBox);
  absolute_ = MakeRadio(QStringLiteral("Absolute"), 1016, scale, optionsBox);
  auto* optionsLayout = new QGridLayout(optionsBox);
  optionsLayout->addWidget(new QLabel(QStringLiteral("Format:"), optionsBox), 0, 0, Qt::AlignRight);
  optionsLayout->addWidget(metric_, 0, 1);
  optionsLayout->addWidget(imperial, 0, 2);
  optionsLayout->addWidget(new QLabel(QStringLiteral("Temperature:"), optionsBox), 1, 0,
                           Qt::AlignRight);
  optionsLayout->addWidget(relative, 1, 1);
  optionsLayout->addWidget(absolute_, 1, 2);
  optionsLayout->setColumnStretch(3, 1);

  auto* formatBox = new QGroupBox(QStringLiteral("File Output Format"), this);
  formatBox->setObjectName(QStringLiteral("group1015"));
  auto* format = new QButtonGroup(this);
  ascii_ = MakeRadio(QStringLiteral("ASCII"), 1022, format, formatBox);
  auto* csv = MakeRadio(QStringLiteral("CSV"), 1023, format, formatBox);
  auto* formatLayout = new QVBoxLayout(formatBox);
  formatLayout->addWidget(ascii_);
  formatLayout->addWidget(csv);

  metric_->setChecked(true);
  relative->setChecked(true);
  ascii_->setChecked(true);

  // Status
  auto* statusBox = new QGroupBox(QStringLiteral("Status"), this);
  statusLog_ = new QPlainTextEdit(statusBox);
  statusLog_->setObjectName(QStringLiteral("edit1011"));
  statusLog_->setLineWrapMode(QPlainTextEdit::NoWrap);
  statusLog_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  statusLog_->setTabChangesFocus(true);
  statusLog_->setFixedHeight(statusLog_->fontMetrics().lineSpacing() * 4 +
                             2 * statusLog_->frameWidth() + 8);
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
  for (QLabel* label : {summary_, warning_}) {
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  auto* summaryLayout = new QHBoxLayout;
  summaryLayout->addWidget(summary_);
  summaryLayout->addWidget(warning_, 1);
  auto* statusLayout = new QVBoxLayout(statusBox);
  statusLayout->addWidget(statusLog_);
  statusLayout->addWidget(progress_);
  statusLayout->addLayout(summaryLayout);

  // Commands
  auto* portSetup = MakeButton(QStringLiteral("COM Port Setup"), 1002, this);
  auto* getData = MakeButton(QStringLiteral("Get Data"), 1003, this);
  getData->setDefault(true);
  auto* erase = MakeButton(QStringLiteral("ERASE"), 1021, this);
  auto* close = MakeButton(QStringLiteral("Close"), 8, this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(portSetup);
  buttons->addWidget(getData);
  buttons->addWidget(erase);
  buttons->addWidget(close);

  auto* layout = new QGridLayout(this);
  layout->addWidget(fileBox, 0, 0, 1, 2);
  layout->addWidget(optionsBox, 1, 0);
  layout->addWidget(formatBox, 1, 1);
  layout->addWidget(statusBox, 2, 0, 1, 2);
  layout->addLayout(buttons, 3, 0, 1, 2);
  layout->setColumnStretch(0, 1);
  resize(sizeHint().expandedTo(QSize(560, 0)));

  connect(getData, &QPushButton::clicked, this, &MainDialog::GetData);
  connect(erase, &QPushButton::clicked, this, &MainDialog::Erase);
  connect(browse, &QPushButton::clicked, this, &MainDialog::Browse);
  connect(portSetup, &QPushButton::clicked, this, &MainDialog::PortSetup);
  connect(close, &QPushButton::clicked, this, &MainDialog::CloseProgram);
  commands_ = {getData, erase, portSetup, browse};

  // No per-window system menu on Linux desktops: the window's context menu and F1 carry About.
  about_ = new QAction(QStringLiteral("&About Brelin..."), this);
  about_->setObjectName(QStringLiteral("actionAbout"));
  about_->setShortcut(QKeySequence(Qt::Key_F1));
  connect(about_, &QAction::triggered, this, &MainDialog::About);
  addAction(about_);
  setContextMenuPolicy(Qt::ActionsContextMenu);
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
  RunCommand([this] { app::GetDataCommand(*this); });
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
  ShowSummary(analysisSummary ? &*analysisSummary : nullptr);
  stopRequested_ = false;
  const AfterCommand after = std::exchange(afterCommand_, AfterCommand::kStay);
  if (after == AfterCommand::kExit) std::exit(1);
  if (after == AfterCommand::kClose) close();
}

void MainDialog::ShowSummary(const report::AnalysisSummary* summary) {
  const std::string text = summary ? app::SummaryText(*summary) : "";
  const std::string warning = summary ? app::SummaryWarning(*summary) : "";
  summary_->setText(QString::fromStdString(text));
  warning_->setText(warning.empty() ? QString() : QString::fromStdString("Warning: " + warning));
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  // Escape would end the window while the command still runs inside it.
  if (running_ && event->matches(QKeySequence::Cancel)) return;
  QDialog::keyPressEvent(event);
}

void MainDialog::Browse() {
  QFileDialog chooser(this);
  chooser.setAcceptMode(QFileDialog::AcceptSave);  // asks before overwriting
  chooser.setFileMode(QFileDialog::AnyFile);
  chooser.setNameFilters(
      {QStringLiteral("Output File (*.txt)"), QStringLiteral("All Files (*.*)")});
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  outputFile_->setText(chooser.selectedFiles().constFirst());
}

void MainDialog::PortSetup() {
  PortSetupDialog dialog(this, catalog_);
  dialog.selectedIndex = portIndex;
  if (dialog.exec() == QDialog::Accepted) portIndex = dialog.selectedIndex;
}

void MainDialog::About() {
  AboutDialog dialog(this);
  dialog.exec();
}

void MainDialog::CloseProgram() {
  if (!running_) std::exit(1);
  stopRequested_ = true;
  afterCommand_ = AfterCommand::kExit;
}

void MainDialog::closeEvent(QCloseEvent* event) {
  if (!running_) return QDialog::closeEvent(event);
  event->ignore();
  stopRequested_ = true;
  if (afterCommand_ == AfterCommand::kStay) afterCommand_ = AfterCommand::kClose;
}

}  // namespace brelin::gui
