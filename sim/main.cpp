// klv480-sim: a simulated KLV480 on a pseudo-terminal, for trying and testing Brelin without the
// instrument.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "report/image_generator.h"
#include "sim/pty_server.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnSignal(int) {
  stopRequested.store(true);
}

}  // namespace

int main(int argc, char** argv) {
  using brelin::sim::InstrumentConfig;
  CLI::App app{"Simulated KLV480 instrument on a pseudo-terminal", "klv480-sim"};
  app.set_version_flag("--version", "klv480-sim " BRELIN_VERSION);
  std::string link, imagePath;
  std::uint32_t records = 300, seed = 1;
  brelin::sim::ServerOptions server;
  InstrumentConfig config;
  app.add_option("--link", link, "Make PATH a symbolic link to the pseudo-terminal")
      ->type_name("PATH")
      ->required();
  auto* image = app.add_option("--image", imagePath, "Memory image to send")
                    ->type_name("FILE")
                    ->check(CLI::ExistingFile.description(""));
  app.add_option("--records", records, "Generate an image of N records")
      ->type_name("N")
      ->excludes(image)
      ->capture_default_str();
  app.add_option("--seed", seed, "Seed of the generated image")
      ->type_name("S")
      ->excludes(image)
      ->capture_default_str();
  app.add_option("--baud", server.baudRate, "Pace the output as a line of RATE baud; 0: unpaced")
      ->type_name("RATE")
      ->capture_default_str();
  app.add_option("--block", config.blockSize, "XMODEM block size")
      ->check(CLI::IsMember({128, 1024}))
      ->capture_default_str();
  app.add_flag("--refuse", config.refuse, "Refuse every download");
  app.add_flag("--silent", config.silent, "Never answer");
  app.add_flag("--crlf", config.crlf, "End reply lines CR LF instead of LF CR");
  app.add_option("--corrupt-every", config.faults.corruptEvery, "Corrupt one transfer byte every N")
      ->type_name("N");
  app.add_option("--drop-every", config.faults.dropEvery, "Drop one transfer byte every N")
      ->type_name("N");
  app.add_option("--cancel-after", config.faults.cancelAfter, "Cancel the transfer after K blocks")
      ->type_name("K");
  app.add_option("--stall-ms", config.faults.stallMs, "Stall once in the middle of a transfer")
      ->type_name("MS");
  app.add_option("--serial", config.serialNumber, "Serial number")
      ->type_name("N")
      ->capture_default_str();
  app.add_option("--pcb", config.pcbNumber, "PCB number")->type_name("N")->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }

  if (!imagePath.empty()) {
    std::ifstream in(imagePath, std::ios::binary);
    config.memory.assign(std::istreambuf_iterator<char>(in), {});
  } else {
    config.memory = brelin::report::GenerateImage(records, seed);
  }
  server.link = link;

  auto log = [](std::string_view line) {
    std::fprintf(stderr, "klv480-sim: %.*s\n", static_cast<int>(line.size()), line.data());
  };
  // Handlers first, so that a stop request right after the link appears still removes it.
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  brelin::sim::PtyServer sim(std::move(config), server, log);
  std::string error;
  if (!sim.Open(error)) {
    std::fprintf(stderr, "klv480-sim: %s\n", error.c_str());
    return 1;
  }

  std::printf("%s\n", sim.devicePath().c_str());
  std::fflush(stdout);
  sim.Run(stopRequested);
  return 0;
}
