#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

namespace brelin::sim {
namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::uint32_t Ms(std::int64_t ns) {
  return static_cast<std::uint32_t>(ns / 1000000);
}

constexpr std::size_t kPacedChunk = 16;  // bytes written at once on a paced line, like a UART FIFO
constexpr std::int64_t kIdleSliceNs = 20'000'000;

}  // namespace

PtyServer::PtyServer(InstrumentConfig config, ServerOptions options, Log log)
    : instrument_(std::move(config), log), options_(std::move(options)), log_(std::move(log)) {}

PtyServer::~PtyServer() {
  RemoveLink();
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool PtyServer::Open(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  devicePath_ = name;
  // Our own handle keeps the device alive between clients; raw mode so that nothing is echoed or
  // edited before the first client sets its line up.
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) {
    error = devicePath_ + ": " + std::strerror(errno);
    return false;
  }
  cfmakeraw(&tio);
  cfsetspeed(&tio, B9600);
  tcsetattr(slave_, TCSANOW, &tio);

  if (!options_.link.empty()) {
    struct stat st {};
    if (lstat(options_.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
      error = options_.link + ": exists and is not a symbolic link";
      return false;
    }
    const std::string temp = options_.link + ".new" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(name, temp.c_str()) != 0 || rename(temp.c_str(), options_.link.c_str()) != 0) {
      error = options_.link + ": " + std::strerror(errno);
      unlink(temp.c_str());
      return false;
    }
    linked_ = true;
  }
  return true;
}

void PtyServer::RemoveLink() {
  if (!linked_) return;
  linked_ = false;
  // Only our own link: a newer simulator may have taken the name over.
  char target[256];
  const ssize_t n = readlink(options_.link.c_str(), target, sizeof target - 1);
  if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == devicePath_) {
    unlink(options_.link.c_str());
  }
}

void PtyServer::Run(const std::atomic<bool>& stop) {
  const bool paced = options_.baudRate > 0;
  const std::int64_t byteNs = paced ? 10'000'000'000LL / options_.baudRate : 0;
  std::deque<std::uint8_t> queue;
  std::int64_t lineFreeAt = 0;  // when the bytes written so far have left a real line
  std::vector<std::uint8_t> chunk;
  std::uint8_t input[4096];

  while (!stop.load()) {
    std::int64_t now = NowNs();
    bool blocked = false;
    if (!queue.empty() && now >= lineFreeAt) {
      const std::size_t n = paced ? std::min(queue.size(), kPacedChunk) : queue.size();
      chunk.assign(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n));
      const ssize_t written = write(master_, chunk.data(), chunk.size());
      if (written > 0) {
        queue.erase(queue.begin(), queue.begin() + written);
        // A late wake-up must not slow the average rate: count from when the line was free.
        if (lineFreeAt < now - kIdleSliceNs) lineFreeAt = now;
        lineFreeAt += written * byteNs;
      } else {
        blocked = true;  // the client is not reading: its input queue is full
      }
    }

    std::int64_t waitNs = kIdleSliceNs;
    if (!queue.empty() && !blocked)
      waitNs = std::clamp<std::int64_t>(lineFreeAt - now, 0, kIdleSliceNs);
    pollfd pfd{master_, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
    const timespec timeout{0, static_cast<long>(waitNs)};
    ppoll(&pfd, 1, &timeout, nullptr);

    now = NowNs();
    if (pfd.revents & POLLIN) {
      const ssize_t n = read(master_, input, sizeof input);
      if (n > 0) instrument_.Receive({input, static_cast<std::size_t>(n)}, Ms(now));
    }
    instrument_.Poll(Ms(now), !queue.empty() || lineFreeAt > now);
    if (instrument_.TakeDiscard()) {
      queue.clear();
      tcflush(slave_, TCIFLUSH);  // what the gone receiver never read
    }
    const std::vector<std::uint8_t> out = instrument_.TakeOutput();
    queue.insert(queue.end(), out.begin(), out.end());
  }
}

}  // namespace brelin::sim
