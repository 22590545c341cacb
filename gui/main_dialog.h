#pragma once

#include <QDialog>
#include <QList>
#include <functional>

#include "app/main_model.h"
#include "gui/port_catalog.h"

class QUrl;

class QAction;
class QButtonGroup;
class QSplitter;
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
// Opens a file or folder with the desktop's default program, unless a test replaces it.
using UrlOpener = std::function<void(const QUrl& url)>;

class ReadingsView;
class TrendView;

// The program's one window: the output file, the three report options, the status log and the
// progress bar with the analysis's summary below it, the chosen port and the commands, and beside
// them the readings of the last analysis. It is the model that the analysis and the sequences
// report to. One command runs at a time: while one runs, Get Data, ERASE, Open Image, COM Port
// Setup, Browse and About are greyed and Escape does not end the window; Close stays active.
// The choices, the window's geometry and the last folder are remembered (QSettings) from one run
// to the next: RestoreSettings() reads them, and they are saved as they change and when the
// window closes.
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
  void SetUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }
  void SetPortCatalog(PortCatalog catalog);

  // Takes the remembered choices; a remembered port that has gone is shown as missing.
  void RestoreSettings();
  void SaveSettings() const;

  // The button handlers. Erase asks first and sends nothing unless the operator goes ahead.
  // Get Data keeps the memory image beside the report. OpenImage asks for a saved image and
  // analyses it as Get Data does after a download.
  void GetData();
  void Erase();
  void OpenImage();
  void OpenImage(const QString& path);
  void Browse();
  void PortSetup();
  void About();
  void OpenReport();
  void ShowReportFolder();
  // Ends the program with exit status 1; during a command, once the command has stopped cleanly
  // (the transfer cancelled, the instrument locked, the port closed).
  void CloseProgram();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // The close box and Alt-F4: during a command, stop it first and close when it has ended.
  void closeEvent(QCloseEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Runs a command with the commands greyed; a file error (or any other exception) it raises
  // is shown to the operator and ends only the command; the command's own objects close the Port on
  // the way out. The summary of its analysis shows when it ends.
  void RunCommand(const std::function<void()>& command);
  // Shows what an analysis found and where the image went; nothing when summary is null.
  void ShowSummary(const report::AnalysisSummary* summary, const std::string& image = {});
  // Fills the readings view from the point table of the analysis of `image`.
  void ShowReadings(const std::string& image);
  // The units changed: the view shows the last image in the new ones; the report stays.
  void RerenderReadings();
  // The trend of `point` (-1: none), in the unit of its reading at `timestamp`, from the history or
  // else from the image the view shows.
  void ShowTrend(int point, qint32 timestamp);
  void ShowPort();
  void UpdateReportActions();
  QString StartFolder() const;
  void RememberFolder(const QString& file);

  MessagePresenter presenter_;
  QuestionPresenter question_;
  bool running_ = false;
  bool stopRequested_ = false;
  enum class AfterCommand { kStay, kClose, kExit } afterCommand_ = AfterCommand::kStay;
  QList<QWidget*> commands_;  // greyed while a command runs
  QAction* about_;
  UrlOpener opener_;
  PortCatalog catalog_ = SystemPortCatalog();
  std::string viewImage_;  // the image the readings view shows; empty: none
  QString lastFolder_;
  QLineEdit* outputFile_;
  QPlainTextEdit* statusLog_;
  QProgressBar* progress_;
  QLabel* summary_;
  QLabel* warning_;
  QLabel* history_;
  QRadioButton* metric_;
  QRadioButton* absolute_;
  QRadioButton* ascii_;
  QLabel* port_;
  QPushButton* openReport_;
  QPushButton* showFolder_;
  QSplitter* splitter_;
  ReadingsView* readings_;
  TrendView* trend_;
  int trendPoint_ = -1;   // the point the trend shows; -1: none
  qint32 trendTime_ = 0;  // and the time of the reading that chose it
};

}  // namespace brelin::gui
