// Soak: the same memory image downloaded again and again through seeded random line faults (bit
// flips, dropped bytes, a stall, a lost ACK), lrzsz `sx -k` sending through the relay; Brelin's
// receiver and lrzsz `rx -c` receive one after the other on the same faults. Each run ends
// identical, clean failure (the receiver gave up), wrong (success claimed, other bytes) or hung
// (not done within the time limit). Exits 1 when Brelin has a wrong or hung run or fewer identical
// images than rx. The total times are compared but do not decide the exit status: rx's own times
// vary from one run to the next (its input flush after each ACK), which a short run cannot average.
//   xfer_soak [runs, default 30] [seed, default 1] [records, default 5000] [limit s, default 150]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "report/image_generator.h"
#include "xfer/testing/sx_link.h"
#include "xfer/xfer.h"

namespace {

using Clock = std::chrono::steady_clock;
using brelin::xfer::testing::RelayConfig;
using brelin::xfer::testing::SxLink;

enum Outcome { kIdentical, kCleanFailure, kWrong, kHung };
const char* const kOutcomeNames[] = {"identical", "clean failure", "wrong", "hung"};

struct Tally {
  int count[4] = {};
  double seconds = 0;
};

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The image as sent, then sx's 0x1A padding up to the end of its last block.
bool Identical(const std::string& path, const std::string& image) {
  std::ifstream in(path, std::ios::binary);
  const std::string got{std::istreambuf_iterator<char>(in), {}};
  return got.size() >= image.size() && got.size() - image.size() < 1024 && got.size() % 128 == 0 &&
         got.compare(0, image.size(), image) == 0 &&
         got.find_first_not_of('\x1A', image.size()) == std::string::npos;
}

// Which faults a run gets and how often, drawn from the soak's seed; at least one. The relay gets a
// seed of its own, so that the flips and drops fall at the same byte counts for both receivers.
RelayConfig DrawFaults(std::mt19937& random, std::size_t imageSize) {
  auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  RelayConfig faults;
  faults.seed = static_cast<unsigned>(random()) | 1;
  if (below(2)) faults.corruptEvery = 2000 + below(18000);
  if (below(2)) faults.dropEvery = 2000 + below(18000);
  if (below(3) == 0) {
    faults.stallAfter = 1 + below(imageSize);
    faults.stallMs = static_cast<int>(500 + below(4000));
  }
  if (below(3) == 0) faults.swallowAck = static_cast<int>(below(imageSize / 1024 + 1));
  if (!faults.corruptEvery && !faults.dropEvery && !faults.stallAfter && faults.swallowAck < 0) {
    faults.dropEvery = 2000 + below(18000);
  }
  return faults;
}

std::string Describe(const RelayConfig& f) {
  std::string text;
  if (f.corruptEvery) text += "flip 1/" + std::to_string(f.corruptEvery) + " ";
  if (f.dropEvery) text += "drop 1/" + std::to_string(f.dropEvery) + " ";
  if (f.stallAfter) {
    text += "stall " + std::to_string(f.stallMs) + "ms@" + std::to_string(f.stallAfter) + " ";
  }
  if (f.swallowAck >= 0) text += "ack#" + std::to_string(f.swallowAck) + " lost";
  return text;
}

Outcome Brelin(const std::string& source, const std::string& target, const std::string& image,
               const RelayConfig& faults, double limit, double* seconds) {
  std::remove(target.c_str());
  const auto start = Clock::now();
  SxLink link({"-k"}, source, &faults);
  bool hung = false;
  // The watchdog: the run looks at the pass callback at every wait.
  const brelin::xfer::PassCallback watchdog = [&](brelin::xfer::XferView& run) {
    if (Since(start) > limit) {
      hung = true;
      run.status = brelin::xfer::kXferUserAbort;
    }
  };
  const int result =
      brelin::xfer::XferReceive(*link.port(), target.c_str(), nullptr, watchdog, nullptr);
  *seconds = Since(start);
  link.WaitSender(5000);
  if (hung) return kHung;
  if (result != 1) return kCleanFailure;
  return Identical(target, image) ? kIdentical : kWrong;
}

// rx refuses paths with a directory in them: it runs in the target's directory.
Outcome Rx(const std::string& source, const std::string& dir, const std::string& name,
           const std::string& image, const RelayConfig& faults, double limit, double* seconds) {
  const std::string target = dir + "/" + name;
  std::remove(target.c_str());
  const brelin::xfer::testing::ReceiverCommand rx{{"rx", "-c", "-q", name}, dir};
  const auto start = Clock::now();
  SxLink link({"-k"}, source, &faults, &rx);
  const int status = link.WaitReceiver(static_cast<int>(limit * 1000), nullptr);
  *seconds = Since(start);
  link.WaitSender(5000);
  if (status == -1) return kHung;
  if (status != 0) return kCleanFailure;
  return Identical(target, image) ? kIdentical : kWrong;
}

void PrintTotals(const char* name, const Tally& t) {
  std::printf("  %-7s %9d %14d %6d %5d %11.1f s\n", name, t.count[kIdentical],
              t.count[kCleanFailure], t.count[kWrong], t.count[kHung], t.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 30;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1;
  const auto records =
      argc > 3 ? static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 5000u;
  const double limit = argc > 4 ? std::atof(argv[4]) : 150;

  const std::vector<std::uint8_t> bytes = brelin::report::GenerateImage(records, seed);
  const std::string image(bytes.begin(), bytes.end());
  const std::string dir = "/tmp", stem = "xfer_soak_" + std::to_string(getpid());
  const std::string source = dir + "/" + stem + "_src", brelinTarget = dir + "/" + stem + "_b";
  std::ofstream(source, std::ios::binary) << image;
  std::printf(
      "soak: %d runs of a %zu-byte image (%u records, seed %u), sx -k through seeded "
      "faults; limit %.0f s a run\n",
      runs, image.size(), records, seed, limit);

  Tally brelin, rx;
  std::mt19937 random(seed);
  for (int run = 1; run <= runs; ++run) {
    const RelayConfig faults = DrawFaults(random, image.size());
    double bSeconds = 0, rSeconds = 0;
    const Outcome b = Brelin(source, brelinTarget, image, faults, limit, &bSeconds);
    const Outcome r = Rx(source, dir, stem + "_rx", image, faults, limit, &rSeconds);
    ++brelin.count[b];
    ++rx.count[r];
    brelin.seconds += bSeconds;
    rx.seconds += rSeconds;
    std::printf("run %3d  %-44s brelin %-13s %6.1f s   rx %-13s %6.1f s\n", run,
                Describe(faults).c_str(), kOutcomeNames[b], bSeconds, kOutcomeNames[r], rSeconds);
    std::fflush(stdout);
  }
  std::printf("totals   identical  clean failure  wrong  hung  total time\n");
  PrintTotals("brelin", brelin);
  PrintTotals("rx", rx);
  const bool enough = brelin.count[kIdentical] >= rx.count[kIdentical];
  const bool sound = brelin.count[kWrong] == 0 && brelin.count[kHung] == 0;
  const bool faster = brelin.seconds <= rx.seconds;  // reported only
  std::printf("targets: identical >= rx's %s, no wrong or hung run %s; time <= rx's %s (%.2f)\n",
              enough ? "met" : "MISSED", sound ? "met" : "MISSED", faster ? "met" : "missed",
              brelin.seconds / rx.seconds);
  for (const std::string& path : {source, brelinTarget, dir + "/" + stem + "_rx"}) {
    std::remove(path.c_str());
  }
  return enough && sound ? 0 : 1;
}
