#include "win/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/commands.h"
#include "report/analysis.h"
#include "report/file_error.h"
#include "serial/discovery.h"
#include "win/dialogs.h"
#include "win/resource.h"
#include "win/text.h"

namespace brelin::win {
namespace {

// Greyed while a command runs: each would start a second command nested in the first, which
// would fight over the port and hold the first up.
constexpr int kCommands[] = {IDC_GET_DATA, IDC_ERASE,      IDC_PORT_SETUP,
                             IDC_BROWSE,   IDC_OPEN_IMAGE, IDHELP};
// In pixels; the time stamp takes the rest of the list's width.
constexpr int kColumnWidths[app::kColumnCount] = {45, 30, 60, 45, 140, 150};

void ShowMessageBox(HWND owner, const std::wstring& text) {
  MessageBoxW(owner, text.c_str(), L"Brelin", MB_OK | MB_ICONWARNING);
}

bool AskQuestion(HWND owner, const std::wstring& text) {
  return MessageBoxW(owner, text.c_str(), L"Brelin",
                     MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2) == IDOK;
}

void OpenWithShell(HWND owner, const std::wstring& path) {
  ShellExecuteW(owner, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring AbsolutePath(const std::wstring& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.wstring();
}

}  // namespace

MainWindow::MainWindow(SettingsKey settings)
    : settingsKey_(std::move(settings)),
      presenter_(ShowMessageBox),
      question_(AskQuestion),
      opener_(OpenWithShell) {}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (boldFont_ != nullptr) DeleteObject(boldFont_);
}

HWND MainWindow::Create() {
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES |
                                                                        ICC_PROGRESS_CLASS |
                                                                        ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                     reinterpret_cast<LPARAM>(this));
  return hwnd_;
}

INT_PTR CALLBACK MainWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<MainWindow*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    window->hwnd_ = hwnd;
    window->Initialise();
    return TRUE;
  }
  auto* window = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (window == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    window->hwnd_ = nullptr;
    return FALSE;
  }
  return window->Handle(message, wParam, lParam);
}

void MainWindow::Initialise() {
  if (HMENU menu = GetSystemMenu(hwnd_, FALSE); menu != nullptr) {
    wchar_t about[64] = L"";
    if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 64) > 0) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(AppIcon(GetSystemMetrics(SM_CXICON))));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(AppIcon(GetSystemMetrics(SM_CXSMICON))));
  CheckRadioButton(hwnd_, IDC_METRIC, IDC_IMPERIAL, IDC_METRIC);
  CheckRadioButton(hwnd_, IDC_ABSOLUTE, IDC_RELATIVE, IDC_RELATIVE);
  CheckRadioButton(hwnd_, IDC_ASCII, IDC_CSV, IDC_ASCII);
  SendMessageW(hwnd_, DM_SETDEFID, IDC_GET_DATA, 0);
  // The log only grows: no limit of the edit control's default 30000 characters.
  SendMessageW(Item(IDC_STATUS_LOG), EM_SETLIMITTEXT, 0, 0);

  HWND list = Item(IDC_READINGS);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (int column = 0; column < app::kColumnCount; ++column) {
    std::wstring title = FromLatin1(app::ColumnTitle(static_cast<app::Column>(column)));
    LVCOLUMNW item{};
    item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    item.fmt = column <= static_cast<int>(app::Column::kValue) ? LVCFMT_RIGHT : LVCFMT_LEFT;
    item.cx = kColumnWidths[column];
    item.pszText = title.data();
    ListView_InsertColumn(list, column, &item);
  }
  ListView_SetColumnWidth(list, app::kColumnCount - 1, LVSCW_AUTOSIZE_USEHEADER);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof font, &font);
  font.lfWeight = FW_BOLD;
  boldFont_ = CreateFontIndirectW(&font);

  RestoreSettings();
  ShowReadings();
  UpdateReportActions();
}

INT_PTR MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      return Command(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_NOTIFY:
      return Notify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        About();
        return TRUE;
      }
      return FALSE;
    case WM_HELP:  // F1
      About();
      return TRUE;
    case WM_CLOSE:
      if (running_) {
        stopRequested_ = true;
        if (afterCommand_ == AfterCommand::kStay) afterCommand_ = AfterCommand::kClose;
      } else {
        End(0);
      }
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(exitCode_);
      return TRUE;
  }
  return FALSE;
}

bool MainWindow::Command(int id, int code) {
  switch (id) {
    case IDOK:  // Enter where no button takes it
    case IDC_GET_DATA:
      // Enter in the readings' filter only ends the typing there.
      if (GetFocus() != Item(IDC_FILTER)) GetData();
      return true;
    case IDC_ERASE:
      Erase();
      return true;
    case IDC_BROWSE:
      Browse();
      return true;
    case IDC_PORT_SETUP:
      PortSetup();
      return true;
    case IDC_OPEN_IMAGE:
      OpenImage();
      return true;
    case IDC_OPEN_REPORT:
      OpenReport();
      return true;
    case IDHELP:
      About();
      return true;
    case IDCLOSE:
      CloseProgram();
      return true;
    case IDCANCEL:  // Escape would end the window while the command still runs inside it
      if (!running_) End(0);
      return true;
    case IDC_OUTPUT_FILE:
      if (code == EN_CHANGE) UpdateReportActions();
      return true;
    case IDC_METRIC:
    case IDC_IMPERIAL:
    case IDC_ABSOLUTE:
    case IDC_RELATIVE:
      if (code == BN_CLICKED) RerenderReadings();
      return true;
    case IDC_FILTER:
      if (code == EN_CHANGE) {
        readings_.SetFilter(ToLatin1(ItemText(IDC_FILTER)));
        RefreshReadings();
      }
      return true;
  }
  return false;
}

INT_PTR MainWindow::Notify(const NMHDR& header) {
  if (header.idFrom != IDC_READINGS) return FALSE;
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item =
          const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)).item;
      if ((item.mask & LVIF_TEXT) != 0 && item.iItem >= 0 &&
          static_cast<std::size_t>(item.iItem) < readings_.size() && item.cchTextMax > 0) {
        const std::wstring text =
            FromLatin1(app::CellText(readings_.row(static_cast<std::size_t>(item.iItem)),
                                     static_cast<app::Column>(item.iSubItem)));
        lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
      }
      return TRUE;
    }
    case LVN_COLUMNCLICK:
      SortReadings(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
      return TRUE;
    case LVN_KEYDOWN: {
      const auto& key = reinterpret_cast<const NMLVKEYDOWN&>(header);
      if (key.wVKey == 'C' && GetKeyState(VK_CONTROL) < 0) CopyReadings();
      if (key.wVKey == 'A' && GetKeyState(VK_CONTROL) < 0) {
        ListView_SetItemState(Item(IDC_READINGS), -1, LVIS_SELECTED, LVIS_SELECTED);
      }
      return TRUE;
    }
    case NM_CUSTOMDRAW: {
      // The newest reading of each point in bold.
      const auto& draw = reinterpret_cast<const NMLVCUSTOMDRAW&>(header);
      LRESULT result = CDRF_DODEFAULT;
      if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
        result = CDRF_NOTIFYITEMDRAW;
      } else if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT &&
                 draw.nmcd.dwItemSpec < readings_.size() &&
                 readings_.row(draw.nmcd.dwItemSpec).newest) {
        SelectObject(draw.nmcd.hdc, boldFont_);
        result = CDRF_NEWFONT;
      }
      SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
      return TRUE;
    }
  }
  return FALSE;
}

std::wstring MainWindow::ItemText(int id) const {
  HWND item = Item(id);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool MainWindow::Checked(int id) const {
  return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}

std::string MainWindow::OutputFileName() const {
  return ToUtf8(ItemText(IDC_OUTPUT_FILE));
}

bool MainWindow::MetricChosen() const {
  return Checked(IDC_METRIC);
}
bool MainWindow::AbsoluteChosen() const {
  return Checked(IDC_ABSOLUTE);
}
bool MainWindow::AsciiChosen() const {
  return Checked(IDC_ASCII);
}

void MainWindow::AppendStatus(std::string_view text) {
  // Appended at the end, so that what the operator typed into the log stays; then the caret goes
  // two characters before the end, after the last line's text, and that line is in view.
  HWND log = Item(IDC_STATUS_LOG);
  const int end = GetWindowTextLengthW(log);
  SendMessageW(log, EM_SETSEL, end, end);
  const std::wstring wide = FromLatin1(text);
  SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
  const int caret = std::max(0, GetWindowTextLengthW(log) - 2);
  SendMessageW(log, EM_SETSEL, caret, caret);
  SendMessageW(log, EM_SCROLLCARET, 0, 0);
}

std::string MainWindow::StatusText() const {
  return ToLatin1(ItemText(IDC_STATUS_LOG));
}

void MainWindow::SetProgress(int position) {
  SetDlgItemTextW(hwnd_, IDC_SUMMARY, L"");  // a transfer's figures are over when the bar moves on
  SendMessageW(Item(IDC_PROGRESS), PBM_SETPOS, std::clamp(position, 0, 100), 0);
}

void MainWindow::ShowTransfer(const device::TransferProgress& progress) {
  // The image's size is not known before it has arrived: the bar creeps towards the transfer's
  // end position (30) without ever claiming a share, and the figures say how far it has come.
  constexpr std::int64_t kHalfWay = 32 * 1024;
  const std::int64_t bytes = std::max<std::int64_t>(progress.bytes, 0);
  SetDlgItemTextW(hwnd_, IDC_SUMMARY, FromUtf8("Received " + app::TransferText(progress)).c_str());
  SendMessageW(Item(IDC_PROGRESS), PBM_SETPOS,
               static_cast<WPARAM>(10 + 19 * bytes / (bytes + kHalfWay)), 0);
}

void MainWindow::ShowMessage(std::string_view text) {
  presenter_(hwnd_, FromMessage(text));
}

void MainWindow::GetData() {
  if (running_) return;
  RunCommand([this] {
    const std::string image = app::ImageBesideReport(OutputFileName());
    if (app::GetDataCommand(*this, {.imagePath = image})) {
      viewImage_ = image;
      ShowReadings();
    }
  });
}

void MainWindow::Erase() {
  if (running_ || !question_(hwnd_, FromLatin1(app::kEraseQuestion))) return;
  RunCommand([this] { app::EraseCommand(*this); });
}

void MainWindow::OpenImage() {
  if (running_) return;
  wchar_t path[MAX_PATH * 4] = L"";
  OPENFILENAMEW chooser{};
  chooser.lStructSize = sizeof chooser;
  chooser.hwndOwner = hwnd_;
  chooser.lpstrFilter = L"Memory images (*.bin)\0*.bin\0All files (*.*)\0*.*\0";
  chooser.lpstrFile = path;
  chooser.nMaxFile = static_cast<DWORD>(std::size(path));
  chooser.lpstrTitle = L"Open Memory Image";
  chooser.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&chooser)) return;
  const std::string image = ToUtf8(path);
  RunCommand([this, &image] {
    if (app::OpenImageCommand(*this, image)) {
      viewImage_ = image;
      ShowReadings();
    }
  });
}

void MainWindow::RunCommand(const std::function<void()>& command) {
  running_ = true;
  // Greying the focused button would leave the window without a focus; the log takes it.
  HWND focus = GetFocus();
  EnableCommands(false);
  ShowSummary(nullptr);
  try {
    command();
  } catch (const report::FileError& error) {
    presenter_(hwnd_, FromMessage(error.path() + "\n" + error.reason()));
  } catch (const std::exception& error) {
    // Nothing may leave a handler into the message loop.
    presenter_(hwnd_, FromMessage(error.what()));
  }
  EnableCommands(true);
  if (focus != nullptr && IsWindowEnabled(focus)) {
    SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
  }
  running_ = false;
  ShowSummary(analysisSummary ? &*analysisSummary : nullptr,
              analysisSummary ? viewImage_ : std::string());
  UpdateReportActions();
  ShowPort();
  stopRequested_ = false;
  const AfterCommand after = std::exchange(afterCommand_, AfterCommand::kStay);
  if (after == AfterCommand::kExit) End(1);
  if (after == AfterCommand::kClose) End(0);
}

void MainWindow::EnableCommands(bool enable) {
  if (!enable && std::find(std::begin(kCommands), std::end(kCommands), GetDlgCtrlID(GetFocus())) !=
                     std::end(kCommands)) {
    // Not to Close, where the next Enter or Space would end the program.
    SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_STATUS_LOG)), TRUE);
  }
  for (int id : kCommands) EnableWindow(Item(id), enable);
  if (HMENU menu = GetSystemMenu(hwnd_, FALSE); menu != nullptr) {
    EnableMenuItem(menu, IDM_ABOUTBOX, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
  }
}

void MainWindow::ShowSummary(const report::AnalysisSummary* summary, const std::string& image) {
  std::string line = summary ? app::SummaryText(*summary) : "";
  const std::string warning = summary ? app::SummaryWarning(*summary) : "";
  std::wstring text = FromUtf8(line);
  if (!image.empty()) text += L" Memory image: " + AbsolutePath(FromUtf8(image));
  SetDlgItemTextW(hwnd_, IDC_SUMMARY, text.c_str());
  SetDlgItemTextW(hwnd_, IDC_WARNING,
                  warning.empty() ? L"" : FromUtf8("Warning: " + warning).c_str());
}

void MainWindow::ShowReadings() {
  readings_.SetReadings(viewImage_.empty() ? std::vector<app::Reading>{}
                                           : app::ReadingsOf(pointTable));
  countNote_.clear();
  RefreshReadings();
}

void MainWindow::RerenderReadings() {
  // A command reads the choices itself and fills the view when it ends.
  if (running_ || viewImage_.empty()) return;
  auto table = std::make_unique<report::PointTable>();
  try {
    report::DecodeImage(*table, viewImage_, app::ChosenReportOptions(*this));
  } catch (const report::FileError&) {
    countNote_ = ", in the report's units: the image cannot be read again";
    RefreshReadings();
    return;
  }
  readings_.SetReadings(app::ReadingsOf(*table));
  // The report file keeps its units until the next Get Data or Open Image.
  countNote_ = ", in the units chosen now";
  RefreshReadings();
}

void MainWindow::RefreshReadings() {
  HWND list = Item(IDC_READINGS);
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  ListView_SetItemCountEx(list, static_cast<int>(readings_.size()), 0);
  InvalidateRect(list, nullptr, FALSE);
  SetDlgItemTextW(hwnd_, IDC_COUNT,
                  readings_.totalReadings() == 0
                      ? L""
                      : FromLatin1(readings_.CountText() + countNote_).c_str());
}

void MainWindow::SortReadings(int column) {
  if (column < 0 || column >= app::kColumnCount) return;
  descending_ = column == sortColumn_ && !descending_;
  sortColumn_ = column;
  readings_.Sort(static_cast<app::Column>(column), descending_);
  HWND header = ListView_GetHeader(Item(IDC_READINGS));
  for (int i = 0; i < app::kColumnCount; ++i) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    Header_GetItem(header, i, &item);
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (i == column) item.fmt |= descending_ ? HDF_SORTDOWN : HDF_SORTUP;
    Header_SetItem(header, i, &item);
  }
  RefreshReadings();
}

void MainWindow::CopyReadings() {
  HWND list = Item(IDC_READINGS);
  std::vector<std::size_t> rows;
  for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0;
       i = ListView_GetNextItem(list, i, LVNI_SELECTED)) {
    rows.push_back(static_cast<std::size_t>(i));
  }
  if (rows.empty()) return;
  std::vector<app::Column> columns;
  for (int i = 0; i < app::kColumnCount; ++i) columns.push_back(static_cast<app::Column>(i));
  std::wstring text = FromLatin1(readings_.CopyText(rows, columns));
  // The clipboard's text has CR LF line ends.
  std::wstring crlf;
  for (wchar_t c : text) crlf += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
  if (!OpenClipboard(hwnd_)) return;
  EmptyClipboard();
  const std::size_t bytes = (crlf.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes); memory != nullptr) {
    std::copy_n(crlf.c_str(), crlf.size() + 1, static_cast<wchar_t*>(GlobalLock(memory)));
    GlobalUnlock(memory);
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  }
  CloseClipboard();
}

void MainWindow::Browse() {
  if (running_) return;
  std::wstring current = ItemText(IDC_OUTPUT_FILE);
  wchar_t path[MAX_PATH * 4] = L"";
  lstrcpynW(path, current.c_str(), static_cast<int>(std::size(path)));
  OPENFILENAMEW chooser{};
  chooser.lStructSize = sizeof chooser;
  chooser.hwndOwner = hwnd_;
  // The chosen layout's kind of file first; its extension is added to a name typed without one.
  chooser.lpstrFilter =
      L"Text report (*.txt)\0*.txt\0CSV report (*.csv)\0*.csv\0All files (*.*)\0*.*\0";
  chooser.nFilterIndex = AsciiChosen() ? 1 : 2;
  chooser.lpstrDefExt = AsciiChosen() ? L"txt" : L"csv";
  chooser.lpstrFile = path;
  chooser.nMaxFile = static_cast<DWORD>(std::size(path));
  chooser.lpstrTitle = L"Output File";
  chooser.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&chooser)) return;
  SetDlgItemTextW(hwnd_, IDC_OUTPUT_FILE, path);
  SaveSettings();
}

void MainWindow::OpenReport() {
  const std::wstring report = ItemText(IDC_OUTPUT_FILE);
  if (IsFile(report)) opener_(hwnd_, AbsolutePath(report));
}

void MainWindow::PortSetup() {
  if (running_) return;
  std::vector<serial::PortEntry> ports = serial::DiscoverPorts();
  serial::SetPortTable(ports);  // the port label shows what was found
  const std::optional<int> chosen = RunPortSetup(hwnd_, portIndex, ports);
  if (!chosen) return;
  portIndex = *chosen;
  ShowPort();
  SaveSettings();
}

void MainWindow::About() {
  if (!running_) RunAbout(hwnd_);
}

void MainWindow::CloseProgram() {
  if (!running_) return End(1);
  stopRequested_ = true;
  afterCommand_ = AfterCommand::kExit;
}

void MainWindow::End(int code) {
  SaveSettings();
  exitCode_ = code;
  DestroyWindow(hwnd_);
}

void MainWindow::ShowPort() {
  std::string text = "Port: none chosen (COM Port Setup)";
  if (portIndex >= 0) {
    const std::vector<serial::PortEntry>& table = serial::PortTable();
    const auto index = static_cast<std::size_t>(portIndex);
    const std::string name = serial::PortPath(portIndex).substr(4);  // without "\\.\"
    text = "Port: " +
           (index < table.size() && !table[index].path.empty() ? PortLabel(table[index]) : name);
  }
  SetDlgItemTextW(hwnd_, IDC_PORT_LABEL, FromUtf8(text).c_str());
}

void MainWindow::UpdateReportActions() {
  EnableWindow(Item(IDC_OPEN_REPORT), IsFile(ItemText(IDC_OUTPUT_FILE)));
}

void MainWindow::RestoreSettings() {
  const Settings settings = LoadSettings(settingsKey_);
  if (settings.outputFile) SetDlgItemTextW(hwnd_, IDC_OUTPUT_FILE, settings.outputFile->c_str());
  if (settings.port) portIndex = serial::ResolvePort(ToUtf8(*settings.port));
  if (settings.metric) {
    CheckRadioButton(hwnd_, IDC_METRIC, IDC_IMPERIAL, *settings.metric ? IDC_METRIC : IDC_IMPERIAL);
  }
  if (settings.absolute) {
    CheckRadioButton(hwnd_, IDC_ABSOLUTE, IDC_RELATIVE,
                     *settings.absolute ? IDC_ABSOLUTE : IDC_RELATIVE);
  }
  if (settings.ascii) {
    CheckRadioButton(hwnd_, IDC_ASCII, IDC_CSV, *settings.ascii ? IDC_ASCII : IDC_CSV);
  }
  // Only onto a screen that is still there.
  if (settings.position && MonitorFromPoint(*settings.position, MONITOR_DEFAULTTONULL) != nullptr) {
    SetWindowPos(hwnd_, nullptr, settings.position->x, settings.position->y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowPort();
}

void MainWindow::SaveSettings() const {
  Settings settings;
  settings.outputFile = ItemText(IDC_OUTPUT_FILE);
  settings.port = portIndex >= 0 ? FromUtf8(serial::PortPath(portIndex).substr(4)) : L"";
  settings.metric = MetricChosen();
  settings.absolute = AbsoluteChosen();
  settings.ascii = AsciiChosen();
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (GetWindowPlacement(hwnd_, &placement)) {
    settings.position = POINT{placement.rcNormalPosition.left, placement.rcNormalPosition.top};
  }
  win::SaveSettings(settingsKey_, settings);
}

}  // namespace brelin::win
