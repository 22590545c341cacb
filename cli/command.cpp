#include "cli/command.h"

#include <cstdio>

#include "report/file_error.h"

namespace brelin::cli {

int RunCommand(app::ConsoleModel& model, const std::function<void()>& work) {
  try {
    work();
  } catch (const report::FileError& e) {
    model.Flush();
    std::fprintf(stderr, "brelin-cli: %s\n", e.what());
    return kExitFailed;
  }
  model.Flush();
  return model.messageShown() ? kExitFailed : kExitDone;
}

}  // namespace brelin::cli
