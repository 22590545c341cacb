// The simulator's server on a real pseudo-terminal, run in-process; the test is its client.
#include "sim/pty_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace brelin::sim {
namespace {

namespace fs = std::filesystem;

class PtyServerTest : public ::testing::Test {
 protected:
  PtyServerTest() {
    dir_ = fs::temp_directory_path() /
           ("brelin_pty_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    link_ = (dir_ / "klv480").string();
  }
  ~PtyServerTest() override {
    Stop();
    fs::remove_all(dir_);
  }

  void Start() {
    InstrumentConfig config;
    config.memory.assign(1000, 0x42);
    server_ = std::make_unique<PtyServer>(config, ServerOptions{link_, 0}, [](std::string_view) {});
    std::string error;
    ASSERT_TRUE(server_->Open(error)) << error;
    thread_ = std::thread([this] { server_->Run(stop_); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    server_.reset();
  }

  // Opens the link as a client does, discarding whatever an earlier client left unread.
  int Connect() {
    const int fd = open(link_.c_str(), O_RDWR | O_NOCTTY);
    tcflush(fd, TCIFLUSH);
    return fd;
  }
  static void Write(int fd, std::string_view text) {
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // Reads exactly n bytes, or up to the end of a reply line when n is 0; or what came within
  // five seconds.
  static std::string Read(int fd, std::size_t n) {
    std::string got;
    char buffer[2048];
    while (n == 0 ? !got.ends_with("\n\r") : got.size() < n) {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 5000) <= 0) break;
      const ssize_t k = read(fd, buffer, n == 0 ? 1 : std::min(sizeof buffer, n - got.size()));
      if (k <= 0) break;
      got.append(buffer, static_cast<std::size_t>(k));
    }
    return got;
  }

  fs::path dir_;
  std::string link_;
  std::unique_ptr<PtyServer> server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(PtyServerTest, ServesTheNextClientAfterOneWalkedAway) {
  Start();
  EXPECT_EQ(fs::read_symlink(link_).string(), server_->devicePath());

  int fd = Connect();
  ASSERT_GE(fd, 0);
  Write(fd, "UNLOCK\n");
  EXPECT_EQ(Read(fd, 4), "OK\n\r");
  Write(fd, "DOWNLOAD\n");
  const std::string reply = Read(fd, 0);
  EXPECT_TRUE(reply.ends_with("\n\r")) << reply;
  Write(fd, "C");
  const std::string block = Read(fd, 133);
  ASSERT_EQ(block.size(), 133u);
  EXPECT_EQ(block[0], 0x01);
  close(fd);  // gone in the middle of the transfer

  fd = Connect();
  Write(fd, "UNLOCK\n");
  EXPECT_EQ(Read(fd, 4), "OK\n\r");
  Write(fd, "LOCK\n");
  EXPECT_EQ(Read(fd, 4), "OK\n\r");
  close(fd);

  Stop();
  EXPECT_FALSE(fs::is_symlink(link_)) << "the link goes with the server";
}

}  // namespace
}  // namespace brelin::sim
