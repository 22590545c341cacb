// The receiver against a scripted sender on the in-memory line, in virtual time.

#include "xfer/xfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "serial/testing/test_driver.h"
#include "serial/testing/virtual_clock.h"

namespace brelin::xfer {
namespace {

using serial::Port;
using serial::testing::TestLine;
using serial::testing::VirtualClock;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kCancel = std::string(10, '\x18') + std::string(10, '\x08');

std::string Frame(int number, std::string data, std::size_t size, bool crc) {
  data.resize(size, '\x1A');
  std::string frame{static_cast<char>(size == 1024 ? kStx : kSoh), static_cast<char>(number & 0xFF),
                    static_cast<char>(~number & 0xFF)};
  frame += data;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  if (crc) {
    const std::uint16_t check = Crc16Xmodem(size, 0, bytes);
    frame += static_cast<char>(check >> 8);
    frame += static_cast<char>(check & 0xFF);
  } else {
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += bytes[i];
    frame += static_cast<char>(sum & 0xFF);
  }
  return frame;
}

// An XMODEM sender that reacts to what the receiver writes, with hooks to damage the line.
struct ScriptedSender {
  std::string data;
  std::vector<std::size_t> sizes{128};  // per block; the last size repeats
  bool checksumOnly = false;            // a sender that does not know "C"
  int loseAck = -1;                     // this ACK (0-based) is missed: the block is sent again
  int ignoreAck = -1;                   // this ACK is taken for nothing
  // Turns the frame of block index (0-based), attempt n into what goes on the line.
  std::function<std::string(int index, int attempt, const std::string& frame)> damage;

  std::string heard;                   // every byte the receiver wrote
  std::vector<std::uint32_t> heardAt;  // and when
  bool crc = true;

  void Attach(TestLine& line) {
    line.SetPeer([this](TestLine& l) {
      for (char c : l.TakeOutput()) React(l, static_cast<std::uint8_t>(c));
    });
  }

  std::size_t Size(int i) const { return sizes[std::min<std::size_t>(i, sizes.size() - 1)]; }

  void React(TestLine& line, int c) {
    heard += static_cast<char>(c);
    heardAt.push_back(serial::TickCount());
    if (!started_) {
      if (c == kNak || (c == kCrcRequest && !checksumOnly)) {
        started_ = true;
        crc = c == kCrcRequest;
        Send(line);
      }
      return;
    }
    if (c == kAck) {
      if (offset_ >= data.size()) return;  // EOT acknowledged
      const int ack = acks_++;
      if (ack == ignoreAck) return;
      if (ack != loseAck) {
        offset_ += Size(index_);
        ++index_;
        attempt_ = 0;
      }
      Send(line);
    } else if (c == kNak || c == kCrcRequest) {
      ++attempt_;
      Send(line);
    }
  }

  void Send(TestLine& line) {
    if (offset_ >= data.size()) return line.Feed(std::string(1, static_cast<char>(kEot)));
    const std::string frame =
        Frame(index_ + 1, data.substr(offset_, Size(index_)), Size(index_), crc);
    line.Feed(damage ? damage(index_, attempt_, frame) : frame);
  }

 private:
  bool started_ = false;
  int index_ = 0, attempt_ = 0, acks_ = 0;
  std::size_t offset_ = 0;
};

// Flips bits of one byte of a frame. Out of line: inlined into the lambdas below, g++ -O2 takes
// the frame for a short string and warns about a write past its end.
[[gnu::noinline]] std::string Flip(std::string frame, std::size_t at, unsigned bits) {
  frame.at(at) = static_cast<char>(frame.at(at) ^ bits);
  return frame;
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return s;
}

std::string Padded(std::string data, std::size_t size) {
  data.resize(size, '\x1A');
  return data;
}

class XferTest : public ::testing::Test {
 protected:
  XferTest() {
    path_ = ::testing::TempDir() + "xfer_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    std::remove(path_.c_str());
    port_ = line_.Open();
  }
  ~XferTest() override {
    port_->Close();
    std::remove(path_.c_str());
    SetFileOpenHook(nullptr);
    SetAbortHook(nullptr);
  }

  int Receive(std::vector<std::int32_t> options = {kOptEnd}) {
    sender_.Attach(line_);
    return XferReceive(
        *port_, path_.c_str(), [this](const char* text) { messages_.emplace_back(text); },
        [this](XferSession& s) {
          if (!seen_) first_ = {s.protocol, s.useCrc, s.carrierWatch, s.option1007, s.option1027};
          seen_ = true;
          errorCount_ = s.errorCount;
        },
        options.data());
  }

  std::string File() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  bool FileExists() const {
    struct stat st;
    return stat(path_.c_str(), &st) == 0;
  }
  bool HasMessage(const std::string& text) const {
    return std::find(messages_.begin(), messages_.end(), text) != messages_.end();
  }

  VirtualClock clock_;
  TestLine line_;
  Port* port_ = nullptr;
  ScriptedSender sender_;
  std::string path_;
  std::vector<std::string> messages_;
  bool seen_ = false;
  std::vector<int> first_;  // protocol, useCrc, carrierWatch, option1007, option1027 at the start
  int errorCount_ = 0;
};

TEST(Crc16XmodemTest, MatchesTheCheckValueOfThePolynomial) {
  const auto* text = reinterpret_cast<const std::uint8_t*>("123456789");
  EXPECT_EQ(Crc16Xmodem(9, 0, text), 0x31C3);
  EXPECT_EQ(Crc16Xmodem(0, 0, text), 0);
}

TEST_F(XferTest, ReceivesCrcChecksumAndMixedBlocksWhole) {
  struct Case {
    std::vector<std::int32_t> options;
    std::vector<std::size_t> sizes;
    std::size_t length;
    std::size_t stored;
    char firstRequest;
  } cases[] = {
      {{kOptEnd}, {128}, 300, 384, 'C'},
      {{kOptAccepted, kOptChecksum, kOptEnd}, {128}, 129, 256, kNak},
      {{kOptEnd}, {1024, 128, 1024}, 1200, 2176, 'C'},
      {{kOptEnd}, {128}, 0, 0, 'C'},  // EOT first: an empty file
  };
  for (const Case& c : cases) {
    sender_ = ScriptedSender{};
    sender_.data = Pattern(c.length);
    sender_.sizes = c.sizes;
    messages_.clear();
    EXPECT_EQ(Receive(c.options), 1);
    EXPECT_EQ(File(), Padded(sender_.data, c.stored));
    EXPECT_EQ(sender_.heard.front(), c.firstRequest);
    EXPECT_EQ(sender_.heard.substr(1),
              std::string(c.sizes.size() == 3 ? 4 : c.stored / 128 + 1, static_cast<char>(kAck)));
    EXPECT_EQ(messages_.back(), "End of file, cleaning up");
  }
}

TEST_F(XferTest, ReadsTheOptionList) {
  struct Case {
    std::vector<std::int32_t> options;
    std::vector<int> start;
  } cases[] = {
      {{kOptEnd}, {0, 1, 0, 27, 0}},
      {{kOptAccepted, kOptChecksum, kOptEnd}, {0, 0, 0, 27, 0}},
      {{kOpt1007, 0, kOptChecksum, kOptEnd}, {0, 0, 0, 0, 0}},
      {{kOpt1027, 5, kOptCarrierWatch, kOpt1007, 3, kOpt1007, 4, kOptEnd}, {0, 1, 1, 4, 5}},
  };
  for (const Case& c : cases) {
    seen_ = false;
    sender_ = ScriptedSender{};
    EXPECT_EQ(Receive(c.options), 1);
    EXPECT_EQ(first_, c.start);
  }
  // An unknown tag: nothing opened, created or sent.
  std::ofstream(path_) << "keep";
  line_.TakeOutput();
  sender_ = ScriptedSender{};
  EXPECT_EQ(Receive({kOptChecksum, 5, kOptEnd}), serial::kInvalidArgument);
  EXPECT_EQ(File(), "keep");
  EXPECT_EQ(sender_.heard, "");
  EXPECT_EQ(line_.output(), "");
}

TEST_F(XferTest, SilentSenderGetsThreeCThenEightNakFiveSecondsApartThenCancel) {
  sender_.data = Pattern(10);
  sender_.damage = [](int, int, const std::string&) { return std::string(); };
  EXPECT_EQ(Receive(), kXferNoHeader);
  ASSERT_EQ(sender_.heard, "CCC" + std::string(8, static_cast<char>(kNak)) + kCancel);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(sender_.heardAt[i], 5000u * i) << i;
  EXPECT_EQ(sender_.heardAt.back(), 50000u);
  EXPECT_EQ(clock_.now(), 51000u);  // the close-out waits 1000 ms
  EXPECT_EQ(File(), "");            // the file is left in place
}

TEST_F(XferTest, ChecksumOnlySenderIsServedAfterTheThirdWait) {
  sender_.checksumOnly = true;
  sender_.data = Pattern(200);
  EXPECT_EQ(Receive(), 1);
  EXPECT_EQ(sender_.heard.substr(0, 4), "CCC\x15");
  EXPECT_EQ(sender_.heardAt[3], 15000u);
  EXPECT_EQ(File(), Padded(sender_.data, 256));
}

// Faults that the receiver recovers from, each done to the second block's first sending.
TEST_F(XferTest, RecoversFromEachDamagedBlock) {
  struct Case {
    const char* name;
    std::function<std::string(std::string)> damage;
    int errors;
    const char* message;  // empty: none
    bool purged;          // the request goes out at once and the line is then purged
  } cases[] = {
      {"single CAN", [](std::string) { return std::string("\x18"); }, 1, "", false},
      {"noise header", [](std::string) { return std::string("zz\0z", 4); }, 1, "", false},
      {"bad complement", [](std::string f) { return Flip(f, 2, 1); }, 2, "Bad block numbers 02 fc",
       true},
      {"data missing", [](std::string f) { return f.substr(0, 100); }, 2, "", true},
      {"check missing", [](std::string f) { return f.substr(0, f.size() - 1); }, 2, "", true},
      {"unexpected number", [](std::string f) { return Flip(Flip(f, 1, 2 ^ 3), 2, 0xFD ^ 0xFC); },
       1, "Bad block number waiting for number 2", false},
      {"bad crc", [](std::string f) { return Flip(f, 50, 0x40); }, 1, "Bad CRC on block number 2",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sender_ = ScriptedSender{};
    sender_.data = Pattern(384);
    sender_.damage = [&](int index, int attempt, const std::string& frame) {
      return index == 1 && attempt == 0 ? c.damage(frame) : frame;
    };
    messages_.clear();
    EXPECT_EQ(Receive(), 1);
    EXPECT_EQ(File(), sender_.data);
    EXPECT_EQ(errorCount_, c.errors);
    EXPECT_EQ(sender_.heard.substr(0, 3), "C\x06\x15");
    if (*c.message) {
      EXPECT_TRUE(HasMessage(c.message));
    }
    // A purge swallows the block sent again at once; a header timeout then asks once more.
    EXPECT_EQ(sender_.heard[3], c.purged ? kNak : kAck);
    if (c.purged) {  // 1000 ms of quiet end the purge; from block 2 on a header wait is 10 s
      EXPECT_EQ(sender_.heardAt[3] - sender_.heardAt[2], 11000u);
    }
  }
}

TEST_F(XferTest, RepeatedBlocksAreAcknowledgedAndDropped) {
  // The sender misses the ACK of block 1 and sends it again.
  sender_.data = Pattern(256);
  sender_.loseAck = 0;
  EXPECT_EQ(Receive(), 1);
  EXPECT_EQ(File(), sender_.data);
  EXPECT_EQ(sender_.heard, "C\x06\x06\x06\x06");
  EXPECT_TRUE(HasMessage("Duplicate block 2"));
  EXPECT_EQ(errorCount_, 1);

  // A block 0 while block 1 is awaited is taken for a repeat, unchecked.
  sender_ = ScriptedSender{};
  sender_.data = Pattern(128);
  sender_.ignoreAck = 0;
  sender_.damage = [](int index, int attempt, const std::string& frame) {
    std::string zero = Frame(0, "name", 128, true);
    zero.back() ^= 1;
    return index == 0 && attempt == 0 ? zero + frame : frame;
  };
  EXPECT_EQ(Receive(), 1);
  EXPECT_EQ(File(), sender_.data);
  EXPECT_EQ(sender_.heard, "C\x06\x06\x06");
  EXPECT_EQ(errorCount_, 1);
}

TEST_F(XferTest, NulDuringTheQuietWaitEndsThePurge) {
  sender_.data = Pattern(128);
  sender_.damage = [this](int, int attempt, const std::string& frame) {
    if (attempt == 0) return frame.substr(0, 2) + '\x55' + frame.substr(3);
    line_.FeedAfter(300, std::string(1, '\0'));
    line_.FeedAfter(400, frame);  // discarded if the purge did not end at the NUL
    return std::string();
  };
  EXPECT_EQ(Receive(), 1);
  EXPECT_EQ(File(), sender_.data);
  EXPECT_EQ(sender_.heard, "CC\x06\x06");
  EXPECT_EQ(errorCount_, 1);
}

TEST_F(XferTest, RetryCountStartsAgainAfterEveryStoredBlock) {
  sender_.data = Pattern(384);
  sender_.damage = [](int, int attempt, const std::string& frame) {
    std::string f = frame;
    if (attempt < 9) f[10] ^= 1;
    return f;
  };
  EXPECT_EQ(Receive(), 1);
  EXPECT_EQ(File(), sender_.data);
  EXPECT_EQ(errorCount_, 27);

  // Ten bad sendings of one block end the run; the blocks stored so far stay in the file.
  sender_ = ScriptedSender{};
  sender_.data = Pattern(384);
  sender_.damage = [](int index, int, const std::string& frame) {
    std::string f = frame;
    if (index == 1) f[10] ^= 1;
    return f;
  };
  EXPECT_EQ(Receive(), kXferTooManyRetries);
  EXPECT_EQ(File(), sender_.data.substr(0, 128));
  EXPECT_EQ(sender_.heard.substr(sender_.heard.size() - 20), kCancel);
}

TEST_F(XferTest, SenderCancelEndsTheRunWithTheCancelSequenceAndADrain) {
  sender_.data = Pattern(256);
  sender_.damage = [this](int index, int attempt, const std::string& frame) {
    if (index == 0) return frame;
    if (attempt > 0) return std::string();
    line_.FeedAfter(500, "late bytes");  // arrives during the 1000 ms wait
    return std::string("\x18\x18");
  };
  // The first CAN is a failed header like any other; the second one ends the run.
  EXPECT_EQ(Receive(), kXferCancelled);
  EXPECT_EQ(sender_.heard, "C\x06\x15" + kCancel);
  const std::uint32_t cancelled = sender_.heardAt.back();
  EXPECT_EQ(clock_.now(), cancelled + 1000);
  EXPECT_EQ(line_.pendingInput(), 0u);
  EXPECT_EQ(File(), sender_.data.substr(0, 128));

  // A run that succeeds sends nothing more and does not wait.
  sender_ = ScriptedSender{};
  sender_.data = Pattern(10);
  const std::uint32_t start = clock_.now();
  EXPECT_EQ(Receive(), 1);
  EXPECT_EQ(sender_.heard, "C\x06\x06");
  EXPECT_EQ(clock_.now(), start);
}

TEST_F(XferTest, LocalFileProblems) {
  // Cannot be opened: the cancel sequence goes out, nothing is created; a long name is cut.
  const std::string longName(100, 'n');
  SetFileOpenHook([](XferSession&, const char*, const char*) -> std::FILE* { return nullptr; });
  sender_.Attach(line_);
  EXPECT_EQ(XferReceive(
                *port_, longName.c_str(),
                [this](const char* text) { messages_.emplace_back(text); }, nullptr, nullptr),
            kXferOpenFailed);
  EXPECT_EQ(sender_.heard, kCancel);
  EXPECT_THAT(messages_,
              ElementsAre("Opening file " + longName.substr(0, 70), "Failed to open file"));
  struct stat st;
  EXPECT_NE(stat(longName.c_str(), &st), 0);

  // Writing fails.
  SetFileOpenHook([](XferSession&, const char*, const char*) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    std::setvbuf(full, nullptr, _IONBF, 0);
    return full;
  });
  sender_ = ScriptedSender{};
  sender_.data = Pattern(10);
  EXPECT_EQ(Receive(), kXferWriteFailed);
  EXPECT_EQ(sender_.heard, "C" + kCancel);
}

TEST_F(XferTest, CarrierWatchEndsTheRunBeforeTheFileIsOpened) {
  line_.SetModemStatus(0x30);
  sender_.data = Pattern(10);
  EXPECT_EQ(Receive({kOptCarrierWatch, kOptEnd}), kXferCarrierLost);
  EXPECT_EQ(sender_.heard, kCancel);
  EXPECT_FALSE(FileExists());
  EXPECT_TRUE(HasMessage("Transfer aborted..."));

  // Without the watch, or with the carrier present, the same line serves.
  sender_ = ScriptedSender{};
  sender_.data = Pattern(10);
  EXPECT_EQ(Receive(), 1);
  line_.SetModemStatus(0xB0);
  sender_ = ScriptedSender{};
  EXPECT_EQ(Receive({kOptCarrierWatch, kOptEnd}), 1);
}

TEST_F(XferTest, AbortsFromHooksCloseOutOnce) {
  // A pass callback that sets the user abort ends the run with the cancel sequence.
  sender_.Attach(line_);
  EXPECT_EQ(XferReceive(
                *port_, path_.c_str(), nullptr, [](XferSession& s) { s.status = kXferUserAbort; },
                nullptr),
            kXferUserAbort);
  EXPECT_EQ(sender_.heard, kCancel);

  // An AbortHook's positive answer is still a failure for the caller.
  SetAbortHook([](XferSession&) { return 3; });
  sender_ = ScriptedSender{};
  EXPECT_EQ(Receive(), kXferUserAbort);
}

TEST_F(XferTest, BusyTransmitQueue) {
  struct Case {
    const char* name;
    int busyCode;
    unsigned freeRoomAfter;  // the line frees its queue this long after the start
    bool ackStuck;           // "C" goes out, then the ACK stays stuck
    int result;
  } cases[] = {
      {"request, -9, freed for the cancel", serial::kTxQueueFull, 40000, false, kXferRequestFailed},
      {"request, -36, never freed", serial::kTxBusy, 0, false, kXferSendBufferFailed},
      {"ack, -9, freed for the cancel", serial::kTxQueueFull, 40000, true, kXferAckFailed},
      {"ack, -9, never freed", serial::kTxQueueFull, 0, true, kXferSendBufferFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sender_ = ScriptedSender{};
    sender_.data = Pattern(10);
    messages_.clear();
    const std::uint32_t start = clock_.now();
    if (c.busyCode == serial::kTxBusy) {
      line_.FailNext(TestLine::Op::kWrite, serial::kTxBusy, 1 << 30);
    } else {
      line_.SetTxRoom(c.ackStuck ? 1 : 0);
    }
    clock_.SetOnIdle([&](Port&) {
      if (c.freeRoomAfter && clock_.now() - start == c.freeRoomAfter) line_.SetUnlimitedTx();
      return 0;
    });
    EXPECT_EQ(Receive(), c.result);
    EXPECT_EQ(port_->status, c.busyCode);  // only a send that got through restores the word
    EXPECT_EQ(sender_.heard,
              std::string(c.ackStuck ? "C" : "") + (c.freeRoomAfter ? kCancel : std::string()));
    EXPECT_THAT(messages_, ::testing::Contains("Timeout error sending buffer"));
    EXPECT_TRUE(HasMessage("25 sec left to WriteChar"));
    EXPECT_TRUE(HasMessage("0 sec left to WriteChar"));
    EXPECT_TRUE(HasMessage("55 sec to complete WriteBuffer"));
    EXPECT_EQ(HasMessage("0 sec to complete WriteBuffer"), !c.freeRoomAfter);
    EXPECT_EQ(clock_.now() - start, c.freeRoomAfter ? 41000u : 91000u);
    line_.FailNext(TestLine::Op::kWrite, 0, 0);
    line_.SetUnlimitedTx();
    clock_.SetOnIdle(nullptr);
    port_->ClearError();
  }
}

TEST_F(XferTest, BriefBusySpellsLeaveNoErrorInThePort) {
  sender_.data = Pattern(300);
  line_.FailNext(TestLine::Op::kWrite, serial::kTxBusy, 50);
  EXPECT_EQ(Receive(), 1);
  EXPECT_EQ(port_->status, 0);
  EXPECT_EQ(File(), Padded(sender_.data, 384));
  EXPECT_EQ(clock_.now(), 50u);
}

TEST_F(XferTest, IdleHookFailingWhileTheCancelWaitsForRoom) {
  sender_.data = Pattern(10);
  sender_.damage = [](int, int, const std::string&) { return std::string("\x18\x18"); };
  line_.SetTxRoom(1);
  clock_.SetOnIdle([](Port&) { return -40; });
  EXPECT_EQ(Receive(), kXferSendCharFailed);
  EXPECT_EQ(sender_.heard, "C");
}

TEST_F(XferTest, LineDropEndsTheRunAtOnce) {
  // Between blocks, and in the middle of a block's data.
  for (std::size_t cut : {std::size_t{0}, std::size_t{60}}) {
    SCOPED_TRACE(cut);
    TestLine line(1);
    Port* port = line.Open();
    sender_ = ScriptedSender{};
    sender_.data = Pattern(384);
    bool armed = false;
    sender_.damage = [&](int index, int, const std::string& frame) {
      if (index != 1) return frame;
      armed = true;
      return frame.substr(0, cut);
    };
    clock_.SetOnIdle([&](Port&) {
      if (armed) line.HangUp();
      return 0;
    });
    sender_.Attach(line);
    const std::uint32_t start = clock_.now();
    EXPECT_EQ(XferReceive(*port, path_.c_str(), nullptr, nullptr, nullptr), serial::kNoDevice);
    EXPECT_LT(clock_.now() - start, 10u);
    EXPECT_EQ(File(), sender_.data.substr(0, 128));
    EXPECT_EQ(sender_.heard, "C\x06");
    clock_.SetOnIdle(nullptr);
    port->Close();
  }
}

TEST_F(XferTest, CloseStampsTheModificationTimeAsLocalTime) {
  std::tm wanted{};
  wanted.tm_year = 2021 - 1900;
  wanted.tm_mon = 2;
  wanted.tm_mday = 4;
  wanted.tm_hour = 5;
  wanted.tm_min = 6;
  wanted.tm_sec = 8;
  XferSession s;
  s.localName = path_.c_str();
  s.file = std::fopen(path_.c_str(), "wb");
  s.modTime = static_cast<std::int32_t>(timegm(&wanted));
  XferCloseFile(s);
  EXPECT_EQ(s.file, nullptr);
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  std::tm got{};
  localtime_r(&st.st_mtime, &got);
  EXPECT_EQ(
      std::vector<int>({got.tm_year, got.tm_mon, got.tm_mday, got.tm_hour, got.tm_min, got.tm_sec}),
      std::vector<int>({121, 2, 4, 5, 6, 8}));
}

}  // namespace
}  // namespace brelin::xfer
