// How live the window stays during a download from klv480-sim paced at 9600 baud: another thread
// posts a click every 100 ms, and the delay until the click's handler runs is measured. The fixed
// pauses of the sequence dispatch nothing by design, so clicks that arrive during one are counted
// apart. The readings view fills inside the click that ran the download, so a click that comes
// while it fills waits for it. Also prints the share of one core the process used during the
// download.
//   gui_responsiveness [RECORDS]      (default 800 records, about 10 s of transfer)
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/idle_hook.h"
#include "gui/main_dialog.h"
#include "serial/clock.h"
#include "serial/discovery.h"
#include "serial/timed_io.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Interval {
  Clock::time_point start, end;
};
std::mutex pausesMutex;
std::vector<Interval> pauses;

void RecordingSleeper(std::uint32_t ms) {
  Interval pause{Clock::now(), {}};
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  pause.end = Clock::now();
  std::lock_guard lock(pausesMutex);
  pauses.push_back(pause);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Print(const char* what, std::vector<double> delays) {
  if (delays.empty()) {
    std::printf("%-28s no clicks\n", what);
    return;
  }
  std::sort(delays.begin(), delays.end());
  std::printf("%-28s %3zu clicks  median %6.2f ms  max %7.2f ms\n", what, delays.size(),
              delays[delays.size() / 2], delays.back());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const QString records = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("800");
  brelin::gui::InstallGuiIdleHook();
  brelin::serial::SetSleeper(RecordingSleeper);

  QTemporaryDir work;
  QDir::setCurrent(work.path());
  // The window remembers its choices: here, not among the user's own.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, work.path());
  QProcess sim;
  sim.setStandardErrorFile(QProcess::nullDevice());
  sim.start(
      QStringLiteral(BRELIN_SIM),
      {QStringLiteral("--link"), work.filePath(QStringLiteral("klv480")), QStringLiteral("--baud"),
       QStringLiteral("9600"), QStringLiteral("--records"), records});
  while (sim.waitForReadyRead(10000) && !sim.canReadLine()) {
  }
  const std::string port = QString::fromLocal8Bit(sim.readLine()).trimmed().toStdString();
  if (port.empty()) {
    std::fprintf(stderr, "klv480-sim did not start\n");
    return 1;
  }

  brelin::gui::MainDialog window;
  bool failed = false;
  window.SetMessagePresenter([&](QWidget*, const QString& text) {
    std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
    failed = true;
  });
  window.portIndex = brelin::serial::AddPortPath(port);
  window.findChild<QLineEdit*>(QStringLiteral("edit1000"))->setText(work.filePath("report.txt"));
  window.show();

  // Clicking the checked "Metric" button changes nothing but runs a handler.
  auto* target = window.findChild<QRadioButton*>(QStringLiteral("radio1012"));
  struct Click {
    Clock::time_point posted, handled;
  };
  std::vector<Click> clicks;
  Clock::time_point posted;
  QObject::connect(target, &QRadioButton::clicked, [&] {
    clicks.push_back({posted, Clock::now()});
  });

  std::atomic<bool> running{true};
  std::thread poster([&] {
    auto next = Clock::now();
    while (running) {
      next += std::chrono::milliseconds(100);
      std::this_thread::sleep_until(next);
      QMetaObject::invokeMethod(
          target,
          [&posted, target, at = Clock::now()] {
            posted = at;
            target->click();
          },
          Qt::QueuedConnection);
    }
  });

  // One Get Data with the given hook; returns the CPU share of one core it used.
  auto download = [&](brelin::serial::IdleHookFn hook, Clock::duration& wall) {
    brelin::serial::SetIdleHook(hook);
    double cpu = 0;
    QTimer::singleShot(0, [&] {
      const auto start = Clock::now();
      const double cpuStart = CpuSeconds();
      window.findChild<QPushButton*>(QStringLiteral("button1003"))->click();
      cpu = CpuSeconds() - cpuStart;
      wall = Clock::now() - start;
      QApplication::quit();
    });
    QApplication::exec();
    return cpu / (Ms(wall) / 1000);
  };
  Clock::duration wall{};
  const double guiShare = download(brelin::gui::GuiIdleHook, wall);
  running = false;
  poster.join();
  // The same download waiting in poll() on the port only, as the command line does: the cost of
  // keeping the window live is the difference.
  Clock::duration pollWall{};
  const double pollShare = download(brelin::serial::PollIdle, pollWall);
  sim.terminate();
  sim.waitForFinished();
  if (failed) return 1;

  std::vector<double> inWaits, inPauses;
  for (const Click& click : clicks) {
    const bool paused = std::any_of(pauses.begin(), pauses.end(), [&](const Interval& p) {
      return click.posted < p.end && click.handled > p.start;
    });
    (paused ? inPauses : inWaits).push_back(Ms(click.handled - click.posted));
  }
  std::printf("download of %s records at 9600 baud: %.1f s\n", records.toLocal8Bit().constData(),
              Ms(wall) / 1000);
  Print("click delay during waits:", inWaits);
  Print("click delay over a pause:", inPauses);
  std::printf("CPU share, window hook:      %.2f %% of one core (target < 2 %%)\n", 100 * guiShare);
  std::printf("CPU share, poll() only:      %.2f %% of one core (%.1f s; ratio %.2f)\n",
              100 * pollShare, Ms(pollWall) / 1000, guiShare / pollShare);
  std::printf("targets during waits: median < 20 ms, max < 50 ms\n");
  return 0;
}
