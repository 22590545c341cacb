#include "win/text.h"

#include <windows.h>

namespace brelin::win {
namespace {

std::wstring Decode(std::string_view text, DWORD flags) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, flags, text.data(), size, wide.data(), length);
  return wide;
}

}  // namespace

std::wstring FromUtf8(std::string_view text) {
  return Decode(text, 0);
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

std::wstring FromLatin1(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

std::string ToLatin1(std::wstring_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) bytes += c <= 0xFF ? static_cast<char>(c) : '?';
  return bytes;
}

std::wstring FromMessage(std::string_view text) {
  std::wstring wide = Decode(text, MB_ERR_INVALID_CHARS);
  return wide.empty() ? FromLatin1(text) : wide;
}

}  // namespace brelin::win
