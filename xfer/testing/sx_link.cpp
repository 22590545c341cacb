#include "xfer/testing/sx_link.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <random>
#include <string>

#include "serial/discovery.h"
#include "serial/posix_driver.h"

namespace brelin::xfer::testing {

namespace {

using Clock = std::chrono::steady_clock;

void MakeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

// Starts argv with stdin and stdout on fd and stderr on /dev/null.
pid_t Spawn(std::vector<std::string> argv, int fd, const std::string& dir) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  dup2(fd, 0);
  dup2(fd, 1);
  dup2(open("/dev/null", O_WRONLY), 2);
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  execvp(cargv[0], cargv.data());
  _exit(127);
}

// Waits up to timeoutMs for pid; kills it when it does not end in time. Its exit status, or -1.
int WaitChild(pid_t& pid, int timeoutMs, double* cpuSeconds) {
  if (pid <= 0) return -1;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  rusage usage{};
  bool killed = false;
  while (wait4(pid, &status, WNOHANG, &usage) != pid) {
    if (Clock::now() >= end) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      killed = true;
      break;
    }
    poll(nullptr, 0, 5);
  }
  pid = -1;
  if (cpuSeconds) {
    *cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One direction of the relay: bytes read from `from`, each with the time it may go on to `to`.
struct Lane {
  int from, to;
  std::deque<std::pair<unsigned char, Clock::time_point>> queue;
  std::size_t seen = 0;  // bytes taken from `from`
  double sent = 0;       // bytes written to `to`, for pacing
};

}  // namespace

serial::Port* OpenDevicePath(const std::string& path) {
  return serial::OpenPort(serial::PosixDriver(), serial::AddPortPath(path), 9600, 'N', 8, 1);
}

SxLink::SxLink(const std::vector<std::string>& args, const std::string& file,
               const RelayConfig* relay, const ReceiverCommand* receiver) {
  int receiverMaster = -1;
  char name[128];
  if (openpty(&senderSide_, &receiverSlave_, name, nullptr, nullptr) != 0) return;
  if (relay) {
    // sx <-> pair A <-> relay <-> pair B <-> receiver
    relaySender_ = receiverSlave_;
    MakeRaw(relaySender_);
    if (openpty(&receiverMaster, &receiverSlave_, name, nullptr, nullptr) != 0) return;
    relayReceiver_ = receiverMaster;
    MakeRaw(receiverMaster);
    fcntl(relaySender_, F_SETFL, O_NONBLOCK);
    fcntl(relayReceiver_, F_SETFL, O_NONBLOCK);
  }
  MakeRaw(receiverSlave_);
  if (receiver) {
    receiverPid_ = Spawn(receiver->argv, receiverSlave_, receiver->dir);
  } else {
    port_ = OpenDevicePath(name);
  }
  std::vector<std::string> argv{"sx", "-q"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(file);
  pid_ = Spawn(argv, senderSide_, "");
  if (receiver) {
    // Only the children hold the line now: when one of them ends, the other sees it go.
    close(receiverSlave_);
    receiverSlave_ = -1;
    if (!relay) {
      close(senderSide_);
      senderSide_ = -1;
    }
  }
  if (relay) relay_ = std::thread(&SxLink::Relay, this, *relay);
}

SxLink::~SxLink() {
  WaitReceiver(2000, nullptr);
  WaitSender(2000);
  StopRelay();
  if (port_) port_->Close();
  for (int fd : {senderSide_, relaySender_, relayReceiver_, receiverSlave_}) {
    if (fd >= 0) close(fd);
  }
}

int SxLink::WaitSender(int timeoutMs) {
  return WaitChild(pid_, timeoutMs, nullptr);
}

int SxLink::WaitReceiver(int timeoutMs, double* cpuSeconds) {
  return WaitChild(receiverPid_, timeoutMs, cpuSeconds);
}

void SxLink::StopRelay() {
  stop_ = true;
  if (relay_.joinable()) relay_.join();
}

void SxLink::HangUp() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  close(senderSide_);
  senderSide_ = -1;
}

void SxLink::Relay(RelayConfig config) {
  Lane toReceiver{relaySender_, relayReceiver_, {}, 0, 0};
  Lane toSender{relayReceiver_, relaySender_, {}, 0, 0};
  const auto start = Clock::now();
  Clock::time_point stallEnd{};
  int acks = 0;
  Clock::time_point lastToReceiver{};
  unsigned char buffer[4096];
  bool gone[2] = {false, false};
  const auto latency = std::chrono::milliseconds(config.latencyMs);
  // The same seed gives the same faults at the same byte counts, whoever receives.
  std::mt19937 random(config.seed);
  auto hit = [&](std::size_t every, std::size_t index) {
    if (every == 0) return false;
    return config.seed != 0 ? random() % every == 0 : index % every == 0;
  };
  while (!stop_) {
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start).count();
    for (Lane* lane : {&toReceiver, &toSender}) {
      if (lane == &toReceiver && now < stallEnd) continue;
      std::size_t room = 0;
      while (room < lane->queue.size() && lane->queue[room].second <= now) ++room;
      if (config.bytesPerSecond > 0) {
        // An idle line banks no time: the next byte still takes its full slot.
        if (lane->queue.empty()) lane->sent = std::max(lane->sent, elapsed * config.bytesPerSecond);
        const double allowed = elapsed * config.bytesPerSecond - lane->sent;
        room = std::min(room, allowed > 0 ? static_cast<std::size_t>(allowed) : std::size_t{0});
      }
      std::size_t n = 0;
      while (n < room && n < sizeof buffer) buffer[n] = lane->queue[n].first, ++n;
      if (n == 0) continue;
      const ssize_t put = write(lane->to, buffer, n);
      if (put > 0) {
        lane->queue.erase(lane->queue.begin(), lane->queue.begin() + put);
        lane->sent += static_cast<double>(put);
        if (lane == &toReceiver) lastToReceiver = Clock::now();
      }
    }
    pollfd fds[2] = {{gone[0] ? -1 : relaySender_, POLLIN, 0},
                     {gone[1] ? -1 : relayReceiver_, POLLIN, 0}};
    const bool waiting = !toReceiver.queue.empty() || !toSender.queue.empty();
    poll(fds, 2, waiting ? 1 : 20);
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents & (POLLHUP | POLLERR)) gone[i] = true;  // that end has closed
      if (!(fds[i].revents & POLLIN)) continue;
      Lane& lane = i == 0 ? toReceiver : toSender;
      const ssize_t got = read(lane.from, buffer, sizeof buffer);
      for (ssize_t k = 0; k < got; ++k) {
        unsigned char c = buffer[k];
        const std::size_t index = ++lane.seen;
        if (i == 1) {
          if (c == 0x06) {
            ackDelays_.push_back(
                std::chrono::duration<double>(Clock::now() - lastToReceiver).count());
          }
          if (c == 0x06 && acks++ == config.swallowAck) {
            ++faults_;
            continue;
          }
        } else {
          const bool drop = hit(config.dropEvery, index);
          const bool corrupt = hit(config.corruptEvery, index);
          if (drop) {
            ++faults_;
            continue;
          }
          if (corrupt) {
            c = static_cast<unsigned char>(~c);
            ++faults_;
          }
          if (config.stallAfter && index == config.stallAfter) {
            stallEnd = Clock::now() + std::chrono::milliseconds(config.stallMs);
            ++faults_;
          }
        }
        lane.queue.emplace_back(c, Clock::now() + latency);
      }
    }
  }
}

}  // namespace brelin::xfer::testing
