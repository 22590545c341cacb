#pragma once

#include <QDialog>
#include <QList>
#include <functional>

#include "app/main_model.h"
#include "gui/port_catalog.h"

class QAction;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace brelin::gui {

// Shows a failure to the operator: a message box with an OK button unless a test replaces it.
using MessagePresenter = std::function<void(QWidget* parent, const QString& text)>;
// Asks the operator before an action that cannot be undone: a message box with the action's button
// and Cancel, Cancel the default, unless a test replaces it. True: go ahead.
using QuestionPresenter =
    std::function<bool(QWidget* parent, const QString& text, const QString& action)>;

// The program's one window: the output file, the three report options, the status log and the
// progress bar with the analysis's summary below it, and the commands. It is the model that the
// analysis and the sequences report to. One command runs at a time: while one runs, Get Data,
// ERASE, COM Port Setup, Browse and About are greyed and Escape does not end the window; Close
// stays active.
// Controls are named after their kind and id ("edit1000", "button1003", "radio1012", ...).
class MainDialog : public QDialog, public app::MainModel {
  Q_OBJECT

 public:
  explicit MainDialog(QWidget* parent = nullptr);

  std::string OutputFileName() const override;
  bool MetricChosen() const override;
  bool AbsoluteChosen() const override;
  bool AsciiChosen() const override;
  void AppendStatus(std::string_view text) override;
  void SetProgress(int position) override;
  void ShowMessage(std::string_view text) override;
  // During a transfer: the bar creeps from 10 towards 30, and the line below it shows the figures.
  void ShowTransfer(const device::TransferProgress& progress) override;
  // True once Close or the window's close box asked a running command to stop.
  bool StopRequested() override { return stopRequested_; }

  // The status log as the sequences wrote it, each line end as CR LF.
  std::string StatusText() const;

  void SetMessagePresenter(MessagePresenter presenter) { presenter_ = std::move(presenter); }
  void SetQuestionPresenter(QuestionPresenter presenter) { question_ = std::move(presenter); }
  void SetPortCatalog(PortCatalog catalog) { catalog_ = std::move(catalog); }

  // The button handlers. Erase asks first and sends nothing unless the operator goes ahead.
  void GetData();
  void Erase();
  void Browse();
  void PortSetup();
  void About();
  // Ends the program with exit status 1; during a command, once the command has stopped cleanly
  // (the transfer cancelled, the instrument locked, the port closed).
  void CloseProgram();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // The close box and Alt-F4: during a command, stop it first and close when it has ended.
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs a command with the commands greyed; a file error (or any other exception) it raises
  // is shown to the operator and ends only the command; the command's own objects close the Port on
  // the way out. The summary of its analysis shows when it ends.
  void RunCommand(const std::function<void()>& command);
  // Shows what an analysis found; nothing when summary is null.
  void ShowSummary(const report::AnalysisSummary* summary);

  MessagePresenter presenter_;
  QuestionPresenter question_;
  bool running_ = false;
  bool stopRequested_ = false;
  enum class AfterCommand { kStay, kClose, kExit } afterCommand_ = AfterCommand::kStay;
  QList<QWidget*> commands_;  // greyed while a command runs
  QAction* about_;
  PortCatalog catalog_ = SystemPortCatalog();
  QLineEdit* outputFile_;
  QPlainTextEdit* statusLog_;
  QProgressBar* progress_;
  QLabel* summary_;
  QLabel* warning_;
  QRadioButton* metric_;
  QRadioButton* absolute_;
  QRadioButton* ascii_;
};

}  // namespace brelin::gui
