#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/main_model.h"
#include "app/readings.h"
#include "win/settings.h"

namespace brelin::win {

// Shows a failure to the operator: a message box with an OK button unless a test replaces it.
using MessagePresenter = std::function<void(HWND owner, const std::wstring& text)>;
// Asks before an action that cannot be undone: OK and Cancel, Cancel the default, unless a test
// replaces it. True: go ahead.
using QuestionPresenter = std::function<bool(HWND owner, const std::wstring& text)>;
// Opens a file with its program (ShellExecute), unless a test replaces it.
using FileOpener = std::function<void(HWND owner, const std::wstring& path)>;

// The program's one window on Windows, a dialog built from the resource IDD_MAIN: the output file,
// the three report options, the status log and the progress bar with what the last command found
// below them, the chosen port and the commands, and beside them the readings of the last
// analysis. It is the model that the analysis and the sequences report to.
// One command runs at a time: while one runs, Get Data, ERASE, Open Image, COM Port Setup, Browse
// and About are greyed and Escape does nothing; Close (and the close box) ask the command to stop
// and end the window once it has. The choices and the window's position are remembered in the
// registry (SettingsKey) and written as they change and when the window ends.
class MainWindow : public app::MainModel {
 public:
  explicit MainWindow(SettingsKey settings = {});
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window (hidden) with the remembered choices; nullptr when it cannot.
  HWND Create();
  HWND hwnd() const { return hwnd_; }
  // After the window has ended: 1 after Close, 0 after Escape or the close box.
  int ExitCode() const { return exitCode_; }

  std::string OutputFileName() const override;
  bool MetricChosen() const override;
  bool AbsoluteChosen() const override;
  bool AsciiChosen() const override;
  void AppendStatus(std::string_view text) override;
  void SetProgress(int position) override;
  void ShowMessage(std::string_view text) override;
  // During a transfer: the bar creeps from 10 towards 30, and the line below it shows the figures.
  void ShowTransfer(const device::TransferProgress& progress) override;
  // True once Close or the close box asked a running command to stop.
  bool StopRequested() override { return stopRequested_; }

  // The status log as the sequences wrote it (Latin-1, CR LF line ends).
  std::string StatusText() const;

  void SetMessagePresenter(MessagePresenter presenter) { presenter_ = std::move(presenter); }
  void SetQuestionPresenter(QuestionPresenter presenter) { question_ = std::move(presenter); }
  void SetFileOpener(FileOpener opener) { opener_ = std::move(opener); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Initialise();
  bool Command(int id, int code);
  INT_PTR Notify(const NMHDR& header);

  // The button handlers. Erase asks first and sends nothing unless the operator goes ahead. Get
  // Data keeps the memory image beside the report.
  void GetData();
  void Erase();
  void OpenImage();
  void Browse();
  void PortSetup();
  void About();
  void OpenReport();
  // Ends the window with exit code 1; during a command, once the command has stopped cleanly.
  void CloseProgram();
  // Ends the window with `code` after saving the choices.
  void End(int code);

  // Runs a command with the commands greyed; a file error (or any other exception) it raises is
  // shown to the operator and ends only the command.
  void RunCommand(const std::function<void()>& command);
  void EnableCommands(bool enable);
  void ShowSummary(const report::AnalysisSummary* summary, const std::string& image = {});
  void ShowReadings();
  // The units changed: the view shows the last image in the new ones; the report stays.
  void RerenderReadings();
  void RefreshReadings();
  void SortReadings(int column);
  void CopyReadings();
  void ShowPort();
  void UpdateReportActions();
  void RestoreSettings();
  void SaveSettings() const;

  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  std::wstring ItemText(int id) const;
  bool Checked(int id) const;

  SettingsKey settingsKey_;
  MessagePresenter presenter_;
  QuestionPresenter question_;
  FileOpener opener_;
  HWND hwnd_ = nullptr;
  HFONT boldFont_ = nullptr;
  int exitCode_ = 0;
  bool running_ = false;
  bool stopRequested_ = false;
  enum class AfterCommand { kStay, kClose, kExit } afterCommand_ = AfterCommand::kStay;
  app::ReadingsTable readings_;
  int sortColumn_ = -1;
  bool descending_ = false;
  std::string viewImage_;  // the image the readings view shows; empty: none
  std::string countNote_;  // after the count of readings: in which units they are shown
};

}  // namespace brelin::win
