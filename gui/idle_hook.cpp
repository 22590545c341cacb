#include "gui/idle_hook.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

#include "serial/timed_io.h"

namespace brelin::gui {
namespace {

// Longest sleep of one pass: bounds how late a timeout of the serial layer is noticed.
constexpr int kSliceMs = 10;

struct Waiter {
  std::unique_ptr<QSocketNotifier> input;  // on the descriptor of the Port last waited on
  QTimer slice;
};

Waiter& TheWaiter() {
  // Never destroyed: it must not outlive the application object in a destructor at exit.
  static Waiter* waiter = [] {
    auto* w = new Waiter;
    w->slice.setSingleShot(true);
    w->slice.setTimerType(Qt::PreciseTimer);
    return w;
  }();
  return *waiter;
}

}  // namespace

int GuiIdleHook(serial::Port& port) {
  if (QCoreApplication::instance() == nullptr) return serial::PollIdle(port);
  Waiter& waiter = TheWaiter();
  const int fd = serial::PortDescriptor(port);
  // Input already queued belongs to a caller that is not reading now, and a failed line reports
  // at once: waiting on the descriptor then would return immediately, again and again.
  const bool watchInput = fd >= 0 && port.RxUsed() == 0;
  if (watchInput) {
    if (!waiter.input || waiter.input->socket() != fd) {
      waiter.input = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    }
    waiter.input->setEnabled(true);
  }
  waiter.slice.start(kSliceMs);
  // Returns after handling what is pending, or after sleeping until the first of: a window event,
  // input on the descriptor, the end of the slice.
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  waiter.slice.stop();
  // Disabled between waits: a closed or idle descriptor must not wake the window's own event loop.
  if (watchInput) waiter.input->setEnabled(false);
  return 0;
}

void InstallGuiIdleHook() {
  serial::SetIdleHook(GuiIdleHook);
}

}  // namespace brelin::gui
