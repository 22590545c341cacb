#include "cli/command.h"

#include <cstdio>

#include "cli/interrupt.h"
#include "report/file_error.h"

namespace brelin::cli {

int RunCommand(app::ConsoleModel& model, const std::function<void()>& work) {
  model.stopQuery = StopRequested;
  try {
    work();
  } catch (const report::FileError& e) {
    model.Flush();
    std::fprintf(stderr, "brelin-cli: %s\n", e.what());
    return kExitFailed;
  }
  model.Flush();
  if (const int signal = InterruptSignal(); signal != 0) {
    std::fprintf(stderr, "brelin-cli: interrupted\n");
    return InterruptedExitStatus(signal);
  }
  return model.messageShown() ? kExitFailed : kExitDone;
}

}  // namespace brelin::cli
