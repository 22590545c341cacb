// brelin-cli: the headless front end. Each subcommand lives in its own file and registers itself
// here.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "cli/analyse.h"
#include "cli/command.h"
#include "cli/erase.h"
#include "cli/get_data.h"
#include "cli/interrupt.h"
#include "cli/ports.h"

int main(int argc, char** argv) {
  CLI::App app{"Downloads the memory of a KLV480 instrument and writes its reports.", "brelin-cli"};
  app.set_version_flag("--version", "brelin-cli " BRELIN_VERSION);
  app.require_subcommand(1);

  int exitStatus = brelin::cli::kExitDone;
  brelin::cli::RegisterAnalyse(app, exitStatus);
  brelin::cli::RegisterPorts(app);
  brelin::cli::RegisterGetData(app, exitStatus);
  brelin::cli::RegisterErase(app, exitStatus);

  brelin::cli::CatchInterrupts();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end with status 0; every other parse error is a usage error.
    return app.exit(e) == 0 ? brelin::cli::kExitDone : brelin::cli::kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brelin-cli: %s\n", e.what());
    return brelin::cli::kExitFailed;
  }
  return exitStatus;
}
