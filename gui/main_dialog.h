#pragma once

#include <QDialog>
#include <functional>

#include "app/main_model.h"
#include "gui/port_catalog.h"

class QButtonGroup;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace brelin::gui {

// Shows a failure to the operator: a message box with an OK button unless a test replaces it.
using MessagePresenter = std::function<void(QWidget* parent, const QString& text)>;

// The program's one window: the output file, the three report options, the status log and the
// progress bar, and the commands. It is the model that the analysis and the sequences report to.
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

  // The status log as the sequences wrote it, each line end as CR LF.
  std::string StatusText() const;

  void SetMessagePresenter(MessagePresenter presenter) { presenter_ = std::move(presenter); }
  void SetPortCatalog(PortCatalog catalog) { catalog_ = std::move(catalog); }

  // The button handlers.
  void GetData();
  void Erase();
  void Browse();
  void PortSetup();
  void About();
  [[noreturn]] void CloseProgram();

 private:
  // Runs a command; a file error (or any other exception) it raises is shown to the operator and
  // ends only the command; the command's own objects close the Port on the way out.
  void RunCommand(const std::function<void()>& command);

  MessagePresenter presenter_;
  PortCatalog catalog_ = SystemPortCatalog();
  QLineEdit* outputFile_;
  QPlainTextEdit* statusLog_;
  QProgressBar* progress_;
  QRadioButton* metric_;
  QRadioButton* absolute_;
  QRadioButton* ascii_;
};

}  // namespace brelin::gui
