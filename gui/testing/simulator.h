#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <string>

namespace brelin::gui::testing {

// klv480-sim serving one pseudo-terminal for the life of the object.
class Simulator {
 public:
  // extraArgs come after the defaults: serial number 480123, and an unpaced line and a generated
  // image unless they give their own.
  explicit Simulator(const QStringList& extraArgs = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The pseudo-terminal's device path, empty when the simulator did not start.
  const std::string& path() const { return path_; }
  // The commands the instrument received so far, in order, joined by commas.
  QString Commands() const;

  static constexpr int kSerialNumber = 480123;

 private:
  QTemporaryDir dir_;
  QProcess process_;
  std::string path_;
};

}  // namespace brelin::gui::testing
