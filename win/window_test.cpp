// The window under Wine, in-process, against klv480-sim on COM1 (scripts/wine-tests.sh starts a
// fresh simulator for each test: --refuse for *Refused*, --silent for *Silent*, a long paced
// image for *Close*). Clicks are BM_CLICK messages; message boxes are answered by the presenters.
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/testing/status_lines.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "win/dialogs.h"
#include "win/idle_hook.h"
#include "win/main_window.h"
#include "win/resource.h"
#include "win/text.h"

namespace brelin::win {
namespace {

// The serial layer's time runs four times as fast as the machine's: timeouts and the fixed pauses
// of the sequences pass in a quarter of their time.
constexpr std::uint32_t kSpeedUp = 4;
std::uint32_t FastTicks() {
  return static_cast<std::uint32_t>(GetTickCount64() * kSpeedUp);
}
void FastPause(std::uint32_t milliseconds) {
  Sleep(milliseconds / kSpeedUp);
}

using app::testing::kDownloaded;
using app::testing::kErasing;
using app::testing::kOpening;

// User and kernel time of this process so far.
double ProcessSeconds() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The readings rows of a CSV report: the fields of each line after the four lines of its heading,
// with an empty unit where the report has none.
std::vector<std::vector<std::string>> CsvRows(const std::string& report) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(report);
  std::string line;
  for (int skip = 0; skip < 4 && std::getline(lines, line);) ++skip;
  while (std::getline(lines, line) && line != "\r") {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = line.substr(1, line.size() - 2);  // the outer quotes
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
      const std::size_t end = line.find("\",\"", start);
      std::string field = line.substr(start, end - start);
      field.erase(0, field.find_first_not_of(' '));
      field.erase(field.find_last_not_of(' ') + 1);
      fields.push_back(field);
      if (end == std::string::npos) break;
      start = end + 3;
    }
    if (fields.size() == 5) fields.insert(fields.begin() + 3, std::string());
    rows.push_back(fields);
  }
  return rows;
}

// Runs `action` on the modal dialog with this caption once it shows (from a timer of the thread,
// which the dialog's own message loop dispatches).
std::function<void(HWND)> modalAction;
const wchar_t* modalCaption = nullptr;
void CALLBACK LookForModal(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowW(L"#32770", modalCaption);
  if (dialog == nullptr || !IsWindowVisible(dialog)) return;
  KillTimer(nullptr, timer);
  auto action = std::move(modalAction);
  action(dialog);
}
void WhenModal(const wchar_t* caption, std::function<void(HWND)> action) {
  modalCaption = caption;
  modalAction = std::move(action);
  SetTimer(nullptr, 0, 20, LookForModal);
}

void ClickIn(HWND dialog, int id) {
  SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = L"";
  GetWindowTextW(window, text, 1024);
  return text;
}

// The window as the operator sees it, recording every position of its bar ("~" for a transfer's
// creep, whose steps depend on the image's size) and the messages it shows.
class RecordingWindow : public MainWindow {
 public:
  using MainWindow::MainWindow;
  void SetProgress(int position) override {
    bar += std::to_string(position) + " ";
    MainWindow::SetProgress(position);
    if (onBar) onBar(position);
  }
  void ShowTransfer(const device::TransferProgress& progress) override {
    if (!bar.ends_with("~ ")) bar += "~ ";
    MainWindow::ShowTransfer(progress);
    if (onTransfer) onTransfer();
  }
  std::string bar;
  std::function<void(int)> onBar;
  std::function<void()> onTransfer;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    serial::SetTickSource(FastTicks);
    serial::SetSleeper(FastPause);
    InstallWindowIdleHook();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    key_.path = L"Software\\Brelin-test\\" + FromUtf8(info->name());
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.path.c_str());
    Open();
  }

  void TearDown() override {
    window_.reset();
    DrainQuit();
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.path.c_str());
    serial::SetTickSource(nullptr);
    serial::SetSleeper(nullptr);
  }

  // A new window on the test's settings, as at a start of the program.
  void Open() {
    window_.reset();
    DrainQuit();
    window_.emplace(key_);
    hwnd_ = window_->Create();
    ASSERT_NE(hwnd_, nullptr);
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    window_->SetMessagePresenter(
        [this](HWND, const std::wstring& text) { messages_.push_back(ToUtf8(text)); });
    window_->SetQuestionPresenter([this](HWND, const std::wstring& text) {
      messages_.push_back(ToUtf8(L"?" + text));
      return answer_;
    });
  }

  // The WM_QUIT of a window that ended, which would end the next test's waits.
  static void DrainQuit() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  void Click(int id) { ClickIn(hwnd_, id); }
  std::string Text(int id) const { return ToUtf8(TextOf(Item(id))); }
  void SetText(int id, const std::string& text) {
    SetWindowTextW(Item(id), FromUtf8(text).c_str());
  }
  int Position() const {
    return static_cast<int>(SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0));
  }

  std::vector<std::vector<std::string>> ViewRows() const {
    HWND list = Item(IDC_READINGS);
    std::vector<std::vector<std::string>> rows(
        static_cast<std::size_t>(ListView_GetItemCount(list)));
    for (std::size_t row = 0; row < rows.size(); ++row) {
      for (int column = 0; column < app::kColumnCount; ++column) {
        wchar_t cell[256] = L"";
        ListView_GetItemText(list, static_cast<int>(row), column, cell, 256);
        rows[row].push_back(ToLatin1(cell));
      }
    }
    return rows;
  }

  SettingsKey key_;
  std::optional<RecordingWindow> window_;
  HWND hwnd_ = nullptr;
  std::vector<std::string> messages_;
  bool answer_ = false;
};

// How long clicks posted during a transfer wait before the window handles them.
struct ClickLatency {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> posted;
  std::vector<double> milliseconds;

  static LRESULT CALLBACK Handled(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR self) {
    auto& latency = *reinterpret_cast<ClickLatency*>(self);
    if (message == BM_CLICK && latency.posted) {
      const std::chrono::duration<double, std::milli> waited = Clock::now() - *latency.posted;
      latency.milliseconds.push_back(waited.count());
      latency.posted.reset();
    }
    return DefSubclassProc(button, message, wParam, lParam);
  }
  // Clicks `button` unless the last click still waits.
  void Click(HWND button) {
    if (posted) return;
    posted = Clock::now();
    PostMessageW(button, BM_CLICK, 0, 0);
  }
};

// The whole download: every step in the log and on the bar, the report in the chosen layout and
// units (the script compares it with what the Linux analysis writes from the same image), the
// image beside it, and the readings view showing exactly the report's rows, then sorted,
// filtered and copied.
TEST_F(WindowTest, GetDataFillsTheReadingsAndWritesTheReport) {
  SetText(IDC_OUTPUT_FILE, "window-report.txt");
  Click(IDC_IMPERIAL);
  Click(IDC_CSV);
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_OPEN_REPORT)));
  bool greyed = false;
  window_->onBar = [&](int position) {
    if (position != 30) return;
    greyed = !IsWindowEnabled(Item(IDC_GET_DATA)) && !IsWindowEnabled(Item(IDC_ERASE)) &&
             !IsWindowEnabled(Item(IDC_PORT_SETUP)) && !IsWindowEnabled(Item(IDC_BROWSE)) &&
             IsWindowEnabled(Item(IDCLOSE));
  };
  // Imperial again during the transfer: checked already, so nothing changes but the timing.
  ClickLatency latency;
  SetWindowSubclass(Item(IDC_IMPERIAL), ClickLatency::Handled, 1,
                    reinterpret_cast<DWORD_PTR>(&latency));
  window_->onTransfer = [&] { latency.Click(Item(IDC_IMPERIAL)); };
  const double cpuBefore = ProcessSeconds();
  const auto start = std::chrono::steady_clock::now();
  Click(IDC_GET_DATA);
  // For the script's figures: what the window costs while it waits for the instrument, and how
  // soon it takes a click.
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("Get Data: %.2f s wall, %.1f%% of a core in the window's process\n", took.count(),
              100 * (ProcessSeconds() - cpuBefore) / took.count());
  EXPECT_FALSE(latency.milliseconds.empty());
  if (!latency.milliseconds.empty()) {
    std::sort(latency.milliseconds.begin(), latency.milliseconds.end());
    std::printf("Clicks during the transfer: %zu, waited %.1f ms (median), %.1f ms at most\n",
                latency.milliseconds.size(), latency.milliseconds[latency.milliseconds.size() / 2],
                latency.milliseconds.back());
  }
  EXPECT_TRUE(IsDlgButtonChecked(hwnd_, IDC_IMPERIAL));

  EXPECT_EQ(window_->StatusText(), kDownloaded + "Creating CSV file report.\r\nDone.");
  EXPECT_EQ(window_->bar, "10 ~ 30 50 70 85 100 ");
  EXPECT_EQ(Position(), 100);
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  EXPECT_TRUE(greyed) << "only Close is active while the command runs";
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_GET_DATA)));
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_OPEN_REPORT)));
  std::wstring opened;
  window_->SetFileOpener([&](HWND, const std::wstring& path) { opened = path; });
  Click(IDC_OPEN_REPORT);
  EXPECT_EQ(std::filesystem::path(opened), std::filesystem::absolute("window-report.txt"));
  EXPECT_TRUE(std::filesystem::is_regular_file("KLV480.bin")) << "the image is beside the report";
  EXPECT_NE(Text(IDC_SUMMARY).find("Memory image: "), std::string::npos) << Text(IDC_SUMMARY);

  const std::string report = ReadAll("window-report.txt");
  const auto rows = CsvRows(report);
  ASSERT_GT(rows.size(), 100u);
  EXPECT_EQ(ViewRows(), rows);
  EXPECT_NE(Text(IDC_COUNT), "");

  // A click on the Nr column sorts by it; a second click reverses the order.
  NMLISTVIEW click{};
  click.hdr = {Item(IDC_READINGS), IDC_READINGS, LVN_COLUMNCLICK};
  click.iSubItem = static_cast<int>(app::Column::kNumber);
  SendMessageW(hwnd_, WM_NOTIFY, IDC_READINGS, reinterpret_cast<LPARAM>(&click));
  auto sorted = ViewRows();
  EXPECT_EQ(sorted.front()[1], "0");
  SendMessageW(hwnd_, WM_NOTIFY, IDC_READINGS, reinterpret_cast<LPARAM>(&click));
  sorted = ViewRows();
  EXPECT_NE(sorted.front()[1], "0");
  EXPECT_EQ(sorted.back()[1], "0");

  // The filter shows one point's readings; Ctrl+C copies the selection as tab-separated lines.
  const std::string point = rows.front()[0];
  SetText(IDC_FILTER, point);
  const auto filtered = ViewRows();
  ASSERT_FALSE(filtered.empty());
  for (const auto& row : filtered) EXPECT_EQ(row[0], point);
  EXPECT_NE(Text(IDC_COUNT).find("(of " + std::to_string(rows.size()) + ")"), std::string::npos)
      << Text(IDC_COUNT);
  HWND list = Item(IDC_READINGS);
  ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  SendMessageW(list, WM_KEYDOWN, 'C', 0);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  ASSERT_TRUE(OpenClipboard(hwnd_));
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const std::string copied =
      data != nullptr ? ToLatin1(static_cast<const wchar_t*>(GlobalLock(data))) : "";
  if (data != nullptr) GlobalUnlock(data);
  CloseClipboard();
  std::string expected;
  for (const std::string& cell : filtered.front()) expected += cell + "\t";
  expected.back() = '\r';
  EXPECT_EQ(copied, expected + "\n");

  // Metric now: the view shows the readings in it, the report stays as it was written.
  Click(IDC_METRIC);
  const auto metric = ViewRows();
  ASSERT_EQ(metric.size(), filtered.size());
  bool changed = false;
  for (std::size_t i = 0; i < metric.size(); ++i) {
    EXPECT_NE(metric[i][3],
              "\xB0"
              "F");
    changed = changed || metric[i][2] != filtered[i][2];
  }
  EXPECT_EQ(changed, filtered.front()[3] ==
                         "\xB0"
                         "F")
      << filtered.front()[3];
  EXPECT_NE(Text(IDC_COUNT).find("in the units chosen now"), std::string::npos);
  EXPECT_EQ(ReadAll("window-report.txt"), report);
}

TEST_F(WindowTest, RefusedDownloadSaysSoAndWritesNothing) {
  SetText(IDC_OUTPUT_FILE, "refused.txt");
  Click(IDC_GET_DATA);
  EXPECT_EQ(window_->StatusText(), kOpening);
  EXPECT_EQ(window_->bar, "10 0 ");
  EXPECT_EQ(messages_, std::vector<std::string>{"No download allowed !!!\n"});
  EXPECT_EQ(ReadAll("refused.txt"), "");
  EXPECT_FALSE(std::filesystem::exists("KLV480.bin"));
  EXPECT_EQ(ListView_GetItemCount(Item(IDC_READINGS)), 0);
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_GET_DATA)));
}

TEST_F(WindowTest, SilentInstrumentIsNoResponse) {
  SetText(IDC_OUTPUT_FILE, "silent.txt");
  Click(IDC_GET_DATA);
  EXPECT_EQ(window_->StatusText(), kOpening);
  EXPECT_EQ(messages_, std::vector<std::string>{"No response of KLV480"});
  EXPECT_EQ(serial::PortListHead(), nullptr) << "the port is closed";
}

TEST_F(WindowTest, NoFileNameStopsBeforeThePort) {
  // Enter is Get Data, except in the readings' filter.
  auto enterIn = [&](int id) {
    SetFocus(Item(id));
    PostMessageW(Item(id), WM_KEYDOWN, VK_RETURN, 0);
    DispatchPending();
  };
  enterIn(IDC_FILTER);
  EXPECT_EQ(window_->StatusText(), "");
  enterIn(IDC_OUTPUT_FILE);
  EXPECT_EQ(window_->StatusText(), "Checking output filename.\r\n");
  Click(IDC_GET_DATA);
  EXPECT_EQ(window_->StatusText(), "Checking output filename.\r\nChecking output filename.\r\n");
  EXPECT_EQ(messages_, std::vector<std::string>(2, "There is no output File name selected "));
  EXPECT_EQ(window_->bar, "");
}

// ERASE asks first: Cancel sends nothing (the script checks that the simulator saw one ERASE).
TEST_F(WindowTest, EraseAsksFirstAndRunsOnlyAfterOk) {
  const std::string question = std::string("?") + app::kEraseQuestion;
  answer_ = false;
  Click(IDC_ERASE);
  EXPECT_EQ(window_->StatusText(), "");
  EXPECT_EQ(window_->bar, "");
  EXPECT_EQ(messages_, std::vector<std::string>{question});

  answer_ = true;
  Click(IDC_ERASE);
  EXPECT_EQ(window_->StatusText(), kErasing + "Erasing data in the KLV480.\r\nDone.");
  // The bar follows the erase's time, in steps that depend on the machine's speed.
  std::istringstream bar(window_->bar);
  std::vector<int> positions{std::istream_iterator<int>(bar), std::istream_iterator<int>()};
  EXPECT_EQ(positions.front(), 5);
  EXPECT_EQ(positions.back(), 100);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << window_->bar;
  EXPECT_EQ(messages_, (std::vector<std::string>{question, question}));
}

// Close in the middle of a paced transfer: the transfer ends with its cancel sequence, the
// instrument gets LOCK (the script checks the simulator's log), the port is closed, and only then
// the window ends, with exit code 1. Escape meanwhile is ignored.
TEST_F(WindowTest, CloseDuringADownloadStopsItCleanlyFirst) {
  SetText(IDC_OUTPUT_FILE, "closed.txt");
  window_->onBar = [&](int position) {
    if (position != 10) return;
    PostMessageW(hwnd_, WM_COMMAND, IDCANCEL, 0);
    PostMessageW(Item(IDCLOSE), BM_CLICK, 0, 0);
  };
  const auto start = std::chrono::steady_clock::now();
  Click(IDC_GET_DATA);
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_EQ(window_->ExitCode(), 1);
  EXPECT_EQ(serial::PortListHead(), nullptr);
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  EXPECT_FALSE(std::filesystem::exists("KLV480.bin"));
  // The whole image would take about a minute at 9600 baud.
  EXPECT_LT(took, std::chrono::seconds(20));
}

TEST_F(WindowTest, StatusLogCaretStaysBeforeTheLastLineEnd) {
  HWND log = Item(IDC_STATUS_LOG);
  auto caret = [&] {
    DWORD start = 0, end = 0;
    SendMessageW(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, end);
    return static_cast<int>(start);
  };
  window_->AppendStatus("Get data from KLV480.\r\n");
  EXPECT_EQ(caret(), 21);
  window_->AppendStatus("Done.");
  EXPECT_EQ(caret(), 23 + 3) << "between \"Don\" and \"e.\"";
  // What the operator typed stays; the next line follows "Done." directly.
  SendMessageW(log, EM_SETSEL, 0, 0);
  SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"typed "));
  window_->AppendStatus("Checking output filename.\r\n");
  EXPECT_EQ(window_->StatusText(),
            "typed Get data from KLV480.\r\nDone.Checking output filename.\r\n");
  // Past the edit control's default limit of 30000 characters.
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += std::string(98, 'x') + "\r\n";
  window_->AppendStatus(lines);
  window_->AppendStatus("Opening communication port.\r\n");
  EXPECT_EQ(window_->StatusText().size(), 6 + 23 + 5 + 27 + 30000 + 29u);
  EXPECT_EQ(caret(), static_cast<int>(window_->StatusText().size()) - 2);
}

TEST_F(WindowTest, ChoicesSurviveARestart) {
  EXPECT_EQ(Text(IDC_PORT_LABEL).substr(0, 10), "Port: COM1");
  SetText(IDC_OUTPUT_FILE, "C:\\Reports\\r\xC3\xA9sum\xC3\xA9.txt");
  Click(IDC_IMPERIAL);
  Click(IDC_ABSOLUTE);
  Click(IDC_CSV);
  window_->portIndex = 4;
  SendMessageW(hwnd_, WM_COMMAND, IDCANCEL, 0);  // Escape
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_EQ(window_->ExitCode(), 0);

  Open();
  EXPECT_EQ(Text(IDC_OUTPUT_FILE), "C:\\Reports\\r\xC3\xA9sum\xC3\xA9.txt");
  EXPECT_EQ(window_->OutputFileName(), "C:\\Reports\\r\xC3\xA9sum\xC3\xA9.txt");
  EXPECT_FALSE(window_->MetricChosen());
  EXPECT_TRUE(window_->AbsoluteChosen());
  EXPECT_FALSE(window_->AsciiChosen());
  EXPECT_EQ(window_->portIndex, 4);
  EXPECT_EQ(Text(IDC_PORT_LABEL).substr(0, 10), "Port: COM5");

  // No port chosen is remembered as such.
  window_->portIndex = -1;
  Click(IDCLOSE);
  EXPECT_EQ(window_->ExitCode(), 1);
  Open();
  EXPECT_EQ(window_->portIndex, -1);
  EXPECT_EQ(Text(IDC_PORT_LABEL), "Port: none chosen (COM Port Setup)");
}

// Alt and a letter reach every button and option, each letter once.
TEST_F(WindowTest, EveryButtonAndOptionHasItsOwnMnemonic) {
  std::vector<std::pair<std::string, wchar_t>> keys;
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t kind[32] = L"";
    GetClassNameW(child, kind, 32);
    const std::wstring text = TextOf(child);
    const std::size_t amp = text.find(L'&');
    const bool button = lstrcmpiW(kind, L"Button") == 0;
    const LONG style = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
    if (button && style != BS_GROUPBOX) {
      EXPECT_NE(amp, std::wstring::npos) << ToUtf8(text);
    }
    if (amp != std::wstring::npos && amp + 1 < text.size()) {
      keys.emplace_back(ToUtf8(text), static_cast<wchar_t>(std::towlower(text[amp + 1])));
    }
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    for (std::size_t j = i + 1; j < keys.size(); ++j) {
      EXPECT_NE(keys[i].second, keys[j].second) << keys[i].first << " and " << keys[j].first;
    }
  }
  EXPECT_GE(keys.size(), 16u);
}

TEST(PortText, TakesComNamesInAnyFormAndRefusesOthers) {
  EXPECT_EQ(ResolvePortText("COM1").index, 0);
  EXPECT_EQ(ResolvePortText(" com12 ").index, 11);
  EXPECT_EQ(ResolvePortText("\\\\.\\COM3").index, 2);
  EXPECT_EQ(ResolvePortText("COM256").index, 255);
  const PortResolution empty = ResolvePortText("  ");
  EXPECT_EQ(empty.index, -1);
  EXPECT_EQ(empty.error, "");
  for (const char* text : {"COM0", "COM257", "COM", "LPT1", "3", "/dev/ttyS0", "COM1x"}) {
    const PortResolution refused = ResolvePortText(text);
    EXPECT_EQ(refused.index, -1) << text;
    EXPECT_EQ(refused.error, "There is no port " + std::string(text) +
                                 ": type COM1 to COM256, or choose a port from the list.");
  }
  EXPECT_EQ(PortLabel({"COM5", "\\\\.\\COM5", "USB Serial Port (COM5)"}), "USB Serial Port (COM5)");
  EXPECT_EQ(PortLabel({"COM1", "\\\\.\\COM1", "\\Device\\Serial0"}), "COM1 (\\Device\\Serial0)");
  EXPECT_EQ(PortLabel({"COM2", "\\\\.\\COM2", ""}), "COM2");
}

// COM Port Setup: the listed ports, a typed name refused with the reason and the dialog kept
// open, a typed COMn taken after OK, Cancel changing nothing.
TEST_F(WindowTest, PortSetupTakesTheChoiceOnlyAfterOk) {
  std::vector<std::string> listed;
  std::string refusal;
  WhenModal(L"COM Port Setup", [&](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      wchar_t item[256] = L"";
      SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
      listed.push_back(ToUtf8(item));
    }
    SetWindowTextW(list, L"ttyS9");
    ClickIn(dialog, IDC_PORT_OK);
    refusal = ToUtf8(TextOf(GetDlgItem(dialog, IDC_PORT_ERROR)));
    SetWindowTextW(list, L"com7");
    ClickIn(dialog, IDC_PORT_OK);
  });
  Click(IDC_PORT_SETUP);
  EXPECT_EQ(refusal,
            "There is no port ttyS9: type COM1 to COM256, or choose a port from the list.");
  EXPECT_EQ(window_->portIndex, 6);
  EXPECT_EQ(Text(IDC_PORT_LABEL), "Port: COM7");
  ASSERT_FALSE(listed.empty()) << "COM1 is there";
  EXPECT_EQ(listed.front().substr(0, 4), "COM1");

  std::string shown;
  WhenModal(L"COM Port Setup", [&](HWND dialog) {
    shown = ToUtf8(TextOf(GetDlgItem(dialog, IDC_PORT_LIST)));
    SetWindowTextW(GetDlgItem(dialog, IDC_PORT_LIST), L"COM2");
    ClickIn(dialog, IDC_PORT_CANCEL);
  });
  Click(IDC_PORT_SETUP);
  EXPECT_EQ(shown, "COM7") << "a port that is not listed shows as typed";
  EXPECT_EQ(window_->portIndex, 6);

  // The first listed port, chosen from the list: Enter is OK.
  WhenModal(L"COM Port Setup", [&](HWND dialog) {
    SendDlgItemMessageW(dialog, IDC_PORT_LIST, CB_SETCURSEL, 0, 0);
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  Click(IDC_PORT_SETUP);
  EXPECT_EQ(window_->portIndex, 0);
}

TEST_F(WindowTest, AboutOpensFromTheSystemMenuF1AndHelp) {
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  wchar_t item[64] = L"";
  GetMenuStringW(menu, IDM_ABOUTBOX, item, 64, MF_BYCOMMAND);
  EXPECT_EQ(ToUtf8(item), "&About Brelin...");
  int shown = 0;
  std::string version;
  auto answer = [&](HWND dialog) {
    ++shown;
    version = ToUtf8(TextOf(GetDlgItem(dialog, IDC_ABOUT_VERSION)));
    EXPECT_NE(SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0), 0);
    ClickIn(dialog, IDOK);
  };
  WhenModal(L"About Brelin", answer);
  SendMessageW(hwnd_, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  WhenModal(L"About Brelin", answer);
  SendMessageW(hwnd_, WM_HELP, 0, 0);
  WhenModal(L"About Brelin", answer);
  Click(IDHELP);
  EXPECT_EQ(shown, 3);
  EXPECT_EQ(version, "Brelin Version " BRELIN_VERSION);
}

}  // namespace
}  // namespace brelin::win
