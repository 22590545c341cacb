// Prints what Windows shows of a program's resources, for scripts/wine-tests.sh to compare: the
// version strings (as File properties reads them), the fixed version, the sizes of icon 1 and the
// embedded manifest. resource_dump PROGRAM.exe
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text, int length = -1) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();  // the terminator
  return out;
}

std::wstring Wide(const char* text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
  out.pop_back();
  return out;
}

bool PrintVersion(const std::wstring& file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<char> info(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) return false;
  std::printf("Fixed=%d.%d.%d.%d\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"FileVersion",
                             L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    wchar_t* value = nullptr;
    if (VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
      std::printf("%s=%s\n", Utf8(key).c_str(), Utf8(value).c_str());
    }
  }
  return true;
}

const void* Resource(HMODULE module, LPCWSTR type, DWORD& size) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), type);
  if (found == nullptr) return nullptr;
  size = SizeofResource(module, found);
  return LockResource(LoadResource(module, found));
}

#pragma pack(push, 2)
struct IconDirEntry {  // GRPICONDIRENTRY
  BYTE width, height, colours, reserved;
  WORD planes, bits;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: resource_dump PROGRAM.exe\n");
    return 2;
  }
  const std::wstring file = Wide(argv[1]);
  if (!PrintVersion(file)) std::printf("no version resource\n");
  HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::fprintf(stderr, "resource_dump: cannot load %s\n", argv[1]);
    return 1;
  }
  DWORD size = 0;
  // RT_GROUP_ICON (14): a 6-byte header (reserved, type, count), then one entry per image.
  if (const auto* group = static_cast<const BYTE*>(Resource(module, MAKEINTRESOURCEW(14), size));
      group != nullptr && size >= 6) {
    const WORD count = *reinterpret_cast<const WORD*>(group + 4);
    std::printf("IconSizes=");
    for (WORD i = 0; i < count && 6 + (i + 1) * sizeof(IconDirEntry) <= size; ++i) {
      IconDirEntry entry;
      std::memcpy(&entry, group + 6 + i * sizeof entry, sizeof entry);
      std::printf("%s%d", i ? " " : "", entry.width == 0 ? 256 : entry.width);
    }
    std::printf("\n");
  }
  // RT_MANIFEST
  if (const auto* manifest =
          static_cast<const char*>(Resource(module, MAKEINTRESOURCEW(24), size))) {
    std::printf("Manifest:\n%.*s\n", static_cast<int>(size), manifest);
  }
  FreeLibrary(module);
  return 0;
}
