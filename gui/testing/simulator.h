#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <string>

namespace brelin::gui::testing {

// klv480-sim serving one pseudo-terminal for the life of the object.
class Simulator {
 public:
  // extraArgs come after the defaults: an unpaced line, a generated image, serial number 480123.
  explicit Simulator(const QStringList& extraArgs = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The pseudo-terminal's device path, empty when the simulator did not start.
  const std::string& path() const { return path_; }

  static constexpr int kSerialNumber = 480123;

 private:
  QTemporaryDir dir_;
  QProcess process_;
  std::string path_;
};

}  // namespace brelin::gui::testing
