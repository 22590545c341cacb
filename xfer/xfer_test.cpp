// The receiver against a scripted sender on the in-memory line, in virtual time.

#include "xfer/xfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "serial/testing/test_driver.h"
#include "serial/testing/virtual_clock.h"
#include "xfer/crc16.h"

namespace brelin::xfer {
namespace {

using serial::Port;
using serial::testing::TestLine;
using ::testing::HasSubstr;

const std::string kCancel = std::string(10, '\x18') + std::string(10, '\x08');

std::string Padded(std::string data, std::size_t size) {
  data.resize(size, '\x1A');
  return data;
}

std::string Frame(int number, const std::string& data, std::size_t size, bool crc) {
  const std::string block = Padded(data, size);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
  const unsigned check =
      crc ? Crc16Xmodem(size, 0, bytes) : std::accumulate(bytes, bytes + size, 0u);
  const std::string head{static_cast<char>(size == 1024 ? kStx : kSoh), static_cast<char>(number),
                         static_cast<char>(~number)};
  return head + block + (crc ? std::string(1, static_cast<char>(check >> 8)) : "") +
         static_cast<char>(check & 0xFF);
}

// Flips bits of one byte; inlined, g++ -O2 takes the frame for a short string and warns.
[[gnu::noinline]] std::string Flip(std::string frame, std::size_t at, unsigned bits) {
  frame.at(at) = static_cast<char>(frame.at(at) ^ bits);
  return frame;
}

// Answers what the receiver writes; damage turns each sending of a block into what goes out.
struct ScriptedSender {
  std::string data;
  int bigFrom = 1 << 30;      // blocks from this index on have 1024 bytes, those before 128
  bool checksumOnly = false;  // a sender that does not know "C"
  int loseAck = -1;           // this ACK (0-based) is missed: the block is sent again
  std::function<std::string(int index, int attempt, const std::string& frame)> damage;
  std::string heard;                   // every byte the receiver wrote
  std::vector<std::uint32_t> heardAt;  // and when
  bool started = false, crc = true;
  int index = 0, attempt = 0, acks = 0;
  std::size_t offset = 0;

  std::size_t Size() const { return index >= bigFrom ? 1024 : 128; }
  void React(TestLine& line, char c) {
    heard += c;
    heardAt.push_back(serial::TickCount());
    if (!started) {
      if (c != kNak && (c != kCrcRequest || checksumOnly)) return;
      started = true;
      crc = c == kCrcRequest;
    } else if (c == kAck) {
      if (offset >= data.size()) return;  // EOT acknowledged
      if (acks++ != loseAck) {
        offset += Size();
        ++index;
        attempt = 0;
      }
    } else if (c == kNak || c == kCrcRequest) {
      ++attempt;
    } else {
      return;
    }
    if (offset >= data.size()) return line.Feed(std::string(1, kEot));
    const std::string frame = Frame(index + 1, data.substr(offset, Size()), Size(), crc);
    line.Feed(damage ? damage(index, attempt, frame) : frame);
  }
};

// One run's world: virtual time from 0, a line, a sender of 384 bytes and the local file.
struct Rig {
  serial::testing::VirtualClock clock;
  TestLine line;
  Port* port = line.Open();
  ScriptedSender sender;
  std::string path = TempPath();
  std::vector<std::int32_t> options{kOptEnd};
  PassCallback onPass;
  std::vector<std::string> messages;
  XferView outcome;

  Rig() {
    for (std::size_t i = 0; i < 384; ++i) sender.data += static_cast<char>(i * 7 + i / 256);
    std::remove(path.c_str());
  }
  ~Rig() {
    port->Close();
    std::remove(path.c_str());
    SetFileOpenHook(nullptr);
    SetAbortHook(nullptr);
  }
  // A file of the test's own: a table row's name comes after a slash.
  static std::string TempPath() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return ::testing::TempDir() + "xfer_" + name;
  }
  void Options(auto... tags) { options = {tags..., kOptEnd}; }
  int Receive() {
    line.SetPeer([this](TestLine& l) {
      for (char c : l.TakeOutput()) sender.React(l, c);
    });
    return XferReceive(
        *port, path.c_str(), [this](const char* text) { messages.emplace_back(text); }, onPass,
        options.data(), &outcome);
  }
};

// Block 2's first sending goes on the line as damage leaves it.
void DamageBlock2(Rig& r, std::string (*damage)(Rig&, std::string)) {
  r.sender.damage = [&r, damage](int index, int attempt, const std::string& frame) {
    return index == 1 && attempt == 0 ? damage(r, frame) : frame;
  };
}

// The first `bad` sendings of every block after the first fail their CRC.
void DamageLater(Rig& r, int bad) {
  r.sender.damage = [bad](int index, int attempt, const std::string& frame) {
    return index > 0 && attempt < bad ? Flip(frame, 10, 1) : frame;
  };
}

// A stream that takes every byte but has no descriptor, so it cannot be synced to a disk.
std::FILE* Unsyncable() {
  cookie_io_functions_t io{};
  io.write = [](void*, const char*, size_t n) -> ssize_t { return static_cast<ssize_t>(n); };
  return fopencookie(nullptr, "wb", io);
}

// The transmit queue stays busy (serial::kTxQueueFull with room for `room` bytes, or
// serial::kTxBusy) until freeAt, if ever.
void BusyQueue(Rig& r, int code, unsigned room, std::uint32_t freeAt) {
  if (code == serial::kTxBusy) r.line.FailNext(TestLine::Op::kWrite, code, 1 << 30);
  if (code == serial::kTxQueueFull) r.line.SetTxRoom(room);
  r.clock.SetOnIdle([&r, freeAt](Port&) {
    if (r.clock.now() == freeAt) r.line.SetUnlimitedTx();
    return 0;
  });
}

constexpr std::size_t kNoFile = std::string::npos;
const std::string kWhole = "C\x06\x06\x06\x06", kRetried = "C\x06\x15\x06\x06\x06",
                  kNak9(9, '\x15');
const std::string kBusy =  // the 5 s countdowns of the byte and then of the whole write
    "25 sec left to WriteChar\n20 sec left to WriteChar\n15 sec left to WriteChar\n10 sec left to "
    "WriteChar\n5 sec left to WriteChar\n0 sec left to WriteChar\nTimeout error sending buffer\n"
    "55 sec to complete WriteBuffer\n50 sec to complete WriteBuffer\n";

struct Case {
  const char* name;  // the row's test name: Rows/XferRunTest.Receives/<name>
  int result;
  std::string heard;   // every byte the receiver wrote
  std::size_t stored;  // bytes of the padded data in the file afterwards, or kNoFile
  std::uint32_t ms;    // how long the run took
  void (*setup)(Rig&);
  std::string messages = "";  // consecutive lines among those shown
  int portStatus = 0;
  int fileError = 0;  // the errno the run's outcome names
  int errors = -1;    // the run's error count, where the row names it
} const kCases[] = {
    {"CrcShortThenLongBlocksPadded", 1, "C\x06\x06\x06", 1152, 0,
     [](Rig& r) {
       r.sender.data.resize(129);
       r.sender.bigFrom = 1;
     }},
    // Values are taken as values, 0 too; the checksum option makes the first request a NAK.
    {"OptionsTakeTheirValues", 1, "\x15\x06\x06\x06\x06", 384, 0,
     [](Rig& r) {
       r.Options(kOptAccepted, kOpt1027, 5, kOptCarrierWatch, kOpt1007, 0, kOptChecksum);
     }},
    {"EotFirstMakesAnEmptyFile", 1, "C\x06", 0, 0, [](Rig& r) { r.sender.data.clear(); }},
    // A failure from before the run is cleared at its start.
    {"PortErrorClearedAndBusySpellsLeaveNone", 1, kWhole, 384, 50,
     [](Rig& r) {
       r.line.FailNext(TestLine::Op::kWrite, serial::kPlatformFailure);
       r.port->WriteChar('x');
       r.line.FailNext(TestLine::Op::kWrite, serial::kTxBusy, 50);
     }},
    {"ChecksumOnlySenderServedAfterTheThirdWait", 1, "CCC\x15\x06\x06\x06\x06", 384, 15000,
     [](Rig& r) { r.sender.checksumOnly = true; }},
    {"RepeatedBlockAcknowledgedAndDropped", 1, kWhole + "\x06", 384, 0,
     [](Rig& r) { r.sender.loseAck = 0; }, "Duplicate block 2", 0, 0, 1},
    {"RetryCountStartsAgainPerBlock", 1, "C\x06" + kNak9 + "\x06" + kNak9 + "\x06\x06", 384, 0,
     [](Rig& r) { DamageLater(r, 9); }},
    // Damage the receiver recovers from with one request, which the block sent again answers. The
    // request goes out once the line is quiet: after a purge of what is left of a damaged block or
    // of noise, or at once after a read that has already waited 1000 ms for nothing.
    {"SingleCan", 1, kRetried, 384, 0,
     [](Rig& r) { DamageBlock2(r, [](Rig&, std::string) { return std::string("\x18"); }); }},
    {"BadComplement", 1, kRetried, 384, 1000,
     [](Rig& r) { DamageBlock2(r, [](Rig&, std::string f) { return Flip(f, 2, 1); }); },
     "Bad block numbers 02 fc"},
    {"BlockNumberMissing", 1, kRetried, 384, 1000,
     [](Rig& r) { DamageBlock2(r, [](Rig&, std::string f) { return f.substr(0, 1); }); },
     "Bad block numbers fffffff8 fffffff8"},
    {"BlockCutShort", 1, kRetried, 384, 1000,
     [](Rig& r) { DamageBlock2(r, [](Rig&, std::string f) { return f.substr(0, 60); }); }},
    // A CRC block one byte short waits for its last check byte, two short for its first.
    {"DroppedDataByte", 1, kRetried, 384, 1000,
     [](Rig& r) { DamageBlock2(r, [](Rig&, std::string f) { return f.erase(50, 1); }); }},
    {"DroppedTwoDataBytes", 1, kRetried, 384, 1000,
     [](Rig& r) { DamageBlock2(r, [](Rig&, std::string f) { return f.erase(50, 2); }); }},
    {"DroppedCheckByte", 1, "\x15\x06\x15\x06\x06\x06", 384, 1000,
     [](Rig& r) {
       r.Options(kOptChecksum);
       DamageBlock2(r, [](Rig&, std::string f) { return f.erase(f.size() - 1); });
     }},
    // Quiet for 1000 ms after the last byte of the burst; a NUL is noise like any other byte.
    {"NoiseBurst", 1, kRetried, 384, 2200,
     [](Rig& r) {
       DamageBlock2(r, [](Rig& r, std::string) {
         r.line.FeedAfter(500, std::string("\0x", 2));
         r.line.FeedAfter(1200, "yz");
         return std::string("xyz");
       });
     }},
    {"UnexpectedNumber", 1, kRetried, 384, 0,
     [](Rig& r) { DamageBlock2(r, [](Rig&, std::string f) { return Flip(Flip(f, 1, 1), 2, 1); }); },
     "Bad block number waiting for number 2"},
    {"BadCrc", 1, kRetried, 384, 0,
     [](Rig& r) { DamageBlock2(r, [](Rig&, std::string f) { return Flip(f, 50, 0x40); }); },
     "Bad CRC on block number 2"},
    // Failures: the close-out sends the cancel sequence, waits 1000 ms and drains the line.
    {"UnknownOptionTag", serial::kInvalidArgument, "", kNoFile, 0,
     [](Rig& r) { r.Options(kOptChecksum, 5); }},
    {"SenderCancels", kXferCancelled, "C\x06\x15" + kCancel, 128, 1000,
     [](Rig& r) {
       DamageBlock2(r, [](Rig& r, std::string) {
         r.line.FeedAfter(500, std::string("late\0bytes", 10));  // during the close-out wait
         return std::string("\x18\x18");
       });
     }},
    {"TenBadSendingsOfABlock", kXferTooManyRetries, "C\x06" + kNak9 + "\x15" + kCancel, 128, 1000,
     [](Rig& r) { DamageLater(r, 10); }},
    {"FileCannotBeOpenedNameCut", kXferOpenFailed, kCancel, kNoFile, 1000,
     [](Rig& r) {
       r.path.assign(100, 'n');
       SetFileOpenHook(
           [](const XferView&, const char*, const char*) -> std::FILE* { return nullptr; });
     },
     "Opening file " + std::string(70, 'n') + "\nFailed to open file\n", 0, EIO},
    {"FileCannotBeWritten", kXferWriteFailed, "C" + kCancel, kNoFile, 1000,
     [](Rig&) {
       SetFileOpenHook([](const XferView&, const char*, const char*) {
         std::FILE* full = std::fopen("/dev/full", "wb");
         std::setvbuf(full, nullptr, _IONBF, 0);
         return full;
       });
     },
     "", 0, ENOSPC},
    // A buffered file takes every block and fails only when flushed: the run fails after all.
    {"FullDiskFoundAtClose", kXferWriteFailed, kWhole + kCancel, kNoFile, 1000,
     [](Rig&) {
       SetFileOpenHook(
           [](const XferView&, const char*, const char*) { return std::fopen("/dev/full", "wb"); });
     },
     "End of file, cleaning up\nFailed to write file\n", 0, ENOSPC},
    // Every byte reached the file, but the file could not be made durable: not a success.
    {"FileCannotBeSynced", kXferWriteFailed, kWhole + kCancel, kNoFile, 1000,
     [](Rig&) {
       SetFileOpenHook([](const XferView&, const char*, const char*) { return Unsyncable(); });
     },
     "End of file, cleaning up\nFailed to write file\n", 0, EBADF},
    // A line that never goes quiet: each purge gives up after 10 s, the tenth failed header wait
    // ends the run.
    {"NoiseNeverEnds", kXferNoHeader, "C\x06" + kNak9 + "\x15" + kCancel, 128, 101010,
     [](Rig& r) {
       r.sender.damage = [&r](int index, int, const std::string& frame) {
         if (index == 0) return frame;
         r.clock.SetOnIdle([&r](Port&) {
           r.line.Feed("n");
           return 0;
         });
         return std::string();
       };
     }},
    // An abort runs the close-out once, from before the file or from within the run.
    {"AbortHookStopsAtTheStart", kXferUserAbort, kCancel, kNoFile, 1000,
     [](Rig&) { SetAbortHook([](const XferView&) { return 3; }); }, "Transfer aborted..."},
    {"AbortHookStopsAfterABlock", kXferUserAbort, "C\x06" + kCancel, 128, 1000,
     [](Rig&) { SetAbortHook([](const XferView& run) { return run.bytesStored > 0 ? 1 : 0; }); },
     "Transfer aborted..."},
    {"CarrierLost", kXferCarrierLost, kCancel, kNoFile, 1000,
     [](Rig& r) {
       r.line.SetModemStatus(0x30);
       r.Options(kOptCarrierWatch);
     },
     "Transfer aborted..."},
    // A caller's own abort hook does not switch the carrier watch off.
    {"CarrierLostUnderAnOwnAbortHook", kXferCarrierLost, kCancel, kNoFile, 1000,
     [](Rig& r) {
       SetAbortHook([](const XferView&) { return 0; });
       r.line.SetModemStatus(0x30);
       r.Options(kOptCarrierWatch);
     },
     "Transfer aborted..."},
    {"UserAbort", kXferUserAbort, kCancel, kNoFile, 1000,
     [](Rig& r) { r.onPass = [](XferView& run) { run.status = kXferUserAbort; }; }},
    {"IdleHookFailsWhileTheCancelWaits", kXferSendCharFailed, "C", 0, 3,
     [](Rig& r) {
       r.sender.damage = [](int, int, const std::string&) { return std::string("\x18\x18"); };
       r.line.SetTxRoom(1);
       r.clock.SetOnIdle([](Port&) { return -40; });
     }},
    // Only a send that gets through restores the Port's status.
    {"RequestQueueFullFreedForTheCancel", kXferRequestFailed, kCancel, 0, 41000,
     [](Rig& r) { BusyQueue(r, serial::kTxQueueFull, 0, 40000); }, kBusy, serial::kTxQueueFull},
    // The tenth header wait fails and its request stays stuck: still the header's failure.
    {"TenthRequestUnsentStillNoHeader", kXferNoHeader, "CCC" + std::string(7, '\x15') + kCancel, 0,
     82000,
     [](Rig& r) {
       r.sender.damage = [](int, int, const std::string&) { return std::string(); };
       BusyQueue(r, serial::kTxQueueFull, 10, 81000);
     },
     "0 sec left to WriteChar\nTimeout error sending buffer\n", serial::kTxQueueFull},
    // An idle hook that takes a whole second: the countdown still names the seconds left.
    {"CountdownInWholeSecondSteps", kXferRequestFailed, kCancel, 0, 41000,
     [](Rig& r) {
       r.clock.SetIdleStep(1000);
       BusyQueue(r, serial::kTxQueueFull, 0, 40000);
     },
     "25 sec left to WriteChar\n20 sec left to WriteChar\n15 sec left to WriteChar\n10 sec left to "
     "WriteChar\n5 sec left to WriteChar\nTimeout error sending buffer\n55 sec to complete "
     "WriteBuffer\n",
     serial::kTxQueueFull},
    {"RequestTxBusyNeverFreed", kXferSendBufferFailed, "", 0, 91000,
     [](Rig& r) { BusyQueue(r, serial::kTxBusy, 0, 0); },
     kBusy +
         "45 sec to complete WriteBuffer\n40 sec to complete WriteBuffer\n35 sec to complete "
         "WriteBuffer\n30 sec to complete WriteBuffer\n25 sec to complete WriteBuffer\n20 sec to "
         "complete WriteBuffer\n15 sec to complete WriteBuffer\n10 sec to complete WriteBuffer\n5 "
         "sec to complete WriteBuffer\n0 sec to complete WriteBuffer\nTimeout error sending "
         "buffer\n",
     serial::kTxBusy},
    // The sender goes silent after block 1: ten header waits of ten byte timeouts each.
    {"SenderSilentAfterTheFirstBlock", kXferNoHeader, "C\x06" + kNak9 + "\x15" + kCancel, 128,
     101000,
     [](Rig& r) {
       r.sender.damage = [](int index, int, const std::string& frame) {
         return index == 0 ? frame : std::string();
       };
     }},
    {"AckQueueFullFreedForTheCancel", kXferAckFailed, "C" + kCancel, 128, 41000,
     [](Rig& r) { BusyQueue(r, serial::kTxQueueFull, 1, 40000); }, kBusy, serial::kTxQueueFull},
    // The acknowledgement cannot go out because the line is gone: that stays the reason.
    {"AckUnsentLineGone", serial::kNoDevice, "C", 128, 0,
     [](Rig& r) {
       r.sender.damage = [&r](int index, int, const std::string& frame) {
         if (index == 0) r.line.FailNext(TestLine::Op::kWrite, serial::kNoDevice, 1 << 30);
         return frame;
       };
     },
     "Read 128 byte block 1\nError -14 sending buffer\n", serial::kNoDevice},
    {"LineDropWithinABlock", serial::kNoDevice, "C\x06", 128, 1,
     [](Rig& r) {
       r.sender.damage = [&r](int index, int, const std::string& frame) {
         if (index == 0) return frame;
         r.clock.SetOnIdle([&r](Port&) {
           r.line.HangUp();
           return 0;
         });
         return frame.substr(0, 60);  // the line goes away within block 2
       };
     },
     "Transfer aborted...\nError -14 sending buffer\n", serial::kNoDevice},
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

class XferRunTest : public ::testing::TestWithParam<Case> {};

TEST_P(XferRunTest, Receives) {
  const Case& c = GetParam();
  Rig r;
  c.setup(r);
  EXPECT_EQ(r.Receive(), c.result);
  EXPECT_EQ(r.outcome.status, c.result == 1 ? 0 : c.result);
  EXPECT_EQ(r.outcome.fileError, c.fileError);
  if (c.errors >= 0) {
    EXPECT_EQ(r.outcome.errorCount, c.errors);
  }
  EXPECT_EQ(r.sender.heard, c.heard);
  EXPECT_EQ(r.clock.now(), c.ms);
  EXPECT_EQ(r.line.pendingInput(), 0u);
  EXPECT_EQ(r.port->status, c.portStatus);
  std::ifstream in(r.path, std::ios::binary);
  EXPECT_EQ(in.is_open(), c.stored != kNoFile);
  if (in) {
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), Padded(r.sender.data, c.stored));
    // No time stamp was asked for: the file keeps the time it was written.
    EXPECT_GT(std::filesystem::last_write_time(r.path),
              std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  }
  std::string shown;
  for (const std::string& text : r.messages) shown += text + '\n';
  EXPECT_THAT(shown, HasSubstr(c.messages));
  EXPECT_EQ(shown.ends_with("End of file, cleaning up\n"), c.result == 1) << shown;
  if (c.result == 1) {
    EXPECT_EQ(r.outcome.bytesStored, static_cast<std::int32_t>(c.stored));
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, XferRunTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(XferReceiveTest, SilentSenderGetsThreeCThenEightNakFiveSecondsApart) {
  Rig r;
  r.sender.damage = [](int, int, const std::string&) { return std::string(); };
  EXPECT_EQ(r.Receive(), kXferNoHeader);
  ASSERT_EQ(r.sender.heard, "CCC" + std::string(8, '\x15') + kCancel);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(r.sender.heardAt[i], 5000u * i) << i;
  EXPECT_EQ(r.sender.heardAt.back(), 50000u);
  EXPECT_EQ(r.clock.now(), 51000u);
}

}  // namespace
}  // namespace brelin::xfer
