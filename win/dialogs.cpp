#include "win/dialogs.h"

#include <algorithm>
#include <cctype>

#include "win/resource.h"
#include "win/text.h"

namespace brelin::win {
namespace {

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

struct PortSetup {
  int selected;
  const std::vector<serial::PortEntry>& ports;
  std::vector<int> indexes;  // the port index of each list entry
};

void AcceptPort(HWND dialog, PortSetup& setup) {
  HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
  const std::wstring text = WindowText(list);
  const auto position = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
  if (position >= 0 && static_cast<std::size_t>(position) < setup.indexes.size()) {
    std::wstring item(
        static_cast<std::size_t>(SendMessageW(list, CB_GETLBTEXTLEN, position, 0)) + 1, L'\0');
    item.resize(static_cast<std::size_t>(
        SendMessageW(list, CB_GETLBTEXT, position, reinterpret_cast<LPARAM>(item.data()))));
    if (item == text) {
      setup.selected = setup.indexes[static_cast<std::size_t>(position)];
      EndDialog(dialog, IDOK);
      return;
    }
  }
  const PortResolution typed = ResolvePortText(ToUtf8(text));
  if (!typed.error.empty()) {
    SetDlgItemTextW(dialog, IDC_PORT_ERROR, FromUtf8(typed.error).c_str());
    SetFocus(list);
    return;
  }
  setup.selected = typed.index;
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK PortSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* setup = reinterpret_cast<PortSetup*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      setup = reinterpret_cast<PortSetup*>(lParam);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
      for (const serial::PortEntry& port : setup->ports) {
        const int index = serial::ResolvePort(port.path);
        if (index < 0) continue;
        setup->indexes.push_back(index);
        SendMessageW(list, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(FromUtf8(PortLabel(port)).c_str()));
      }
      const auto found = std::find(setup->indexes.begin(), setup->indexes.end(), setup->selected);
      if (found != setup->indexes.end()) {
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(found - setup->indexes.begin()), 0);
      } else if (setup->selected >= 0) {
        // Chosen before, not listed now: shown as typed, so that OK keeps it.
        SetWindowTextW(list, FromUtf8(serial::PortPath(setup->selected).substr(4)).c_str());
      }
      SendMessageW(dialog, DM_SETDEFID, IDC_PORT_OK, 0);
      SetFocus(list);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDC_PORT_OK:
          AcceptPort(dialog, *setup);
          return TRUE;
        case IDCANCEL:
        case IDC_PORT_CANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        case IDC_PORT_LIST:
          if (HIWORD(wParam) == CBN_EDITCHANGE || HIWORD(wParam) == CBN_SELCHANGE) {
            SetDlgItemTextW(dialog, IDC_PORT_ERROR, L"");
          }
          return TRUE;
      }
      break;
  }
  return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_SETICON,
                          reinterpret_cast<WPARAM>(AppIcon(GetSystemMetrics(SM_CXICON))), 0);
      SetDlgItemTextW(dialog, IDC_ABOUT_VERSION,
                      (L"Brelin Version " + FromUtf8(BRELIN_VERSION)).c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

HICON AppIcon(int size) {
  auto* icon =
      static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_BRELIN),
                                    IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED));
  return icon != nullptr ? icon : LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
}

std::string PortLabel(const serial::PortEntry& port) {
  if (port.description.empty()) return port.path;
  // A friendly name says which COM port it is: "USB Serial Port (COM5)".
  if (port.description.find("(" + port.path + ")") != std::string::npos) return port.description;
  return port.path + " (" + port.description + ")";
}

PortResolution ResolvePortText(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  if (text.empty()) return {};
  std::string_view name = text;
  if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
  std::string upper(name.substr(0, 3));
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const int index = upper == "COM" ? serial::ResolvePort(name) : -1;
  if (index < 0) {
    return {-1, "There is no port " + std::string(text) +
                    ": type COM1 to COM256, or choose a port from the list."};
  }
  return {index, {}};
}

std::optional<int> RunPortSetup(HWND owner, int selectedIndex,
                                const std::vector<serial::PortEntry>& ports) {
  PortSetup setup{selectedIndex, ports, {}};
  const INT_PTR result =
      DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PORT_SETUP), owner,
                      PortSetupProc, reinterpret_cast<LPARAM>(&setup));
  if (result != IDOK) return std::nullopt;
  return setup.selected;
}

void RunAbout(HWND owner) {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, 0);
}

}  // namespace brelin::win
