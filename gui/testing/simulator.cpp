#include "gui/testing/simulator.h"

#include <sys/prctl.h>

#include <QFile>
#include <csignal>

namespace brelin::gui::testing {

Simulator::Simulator(const QStringList& extraArgs) {
  QStringList args{QStringLiteral("--link"), dir_.filePath(QStringLiteral("klv480")),
                   QStringLiteral("--serial"), QString::number(kSerialNumber)};
  if (!extraArgs.contains(QStringLiteral("--baud"))) {
    args << QStringLiteral("--baud") << QStringLiteral("0");
  }
  if (!extraArgs.contains(QStringLiteral("--image"))) {
    args << QStringLiteral("--records") << QStringLiteral("400") << QStringLiteral("--seed")
         << QStringLiteral("11");
  }
  process_.setStandardErrorFile(dir_.filePath(QStringLiteral("sim.log")));
  // A test that ends its process with exit() (Close) must not leave the simulator running.
  process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
  process_.start(QStringLiteral(BRELIN_SIM), args + extraArgs);
  // The first line on stdout is the device path, written once the terminal is ready.
  while (process_.waitForReadyRead(10000) && !process_.canReadLine()) {
  }
  if (process_.canReadLine()) {
    path_ = QFile::encodeName(QString::fromLocal8Bit(process_.readLine()).trimmed()).toStdString();
  }
}

QString Simulator::Commands() const {
  QFile log(dir_.filePath(QStringLiteral("sim.log")));
  if (!log.open(QIODevice::ReadOnly)) return {};
  QStringList commands;
  const QByteArray kReceived = "klv480-sim: < ";
  for (const QByteArray& line : log.readAll().split('\n')) {
    if (line.startsWith(kReceived)) commands << QString::fromLatin1(line.mid(kReceived.size()));
  }
  return commands.join(QLatin1Char(','));
}

Simulator::~Simulator() {
  process_.terminate();
  if (!process_.waitForFinished(5000)) process_.kill();
}

}  // namespace brelin::gui::testing
