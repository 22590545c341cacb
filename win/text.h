#pragma once

#include <string>
#include <string_view>

namespace brelin::win {

// The window's controls take UTF-16; inside the program file names are UTF-8 and the fixed texts
// of the sequences and the report are Latin-1 (the degree sign is the byte 0xB0).
std::wstring FromUtf8(std::string_view text);
std::string ToUtf8(std::wstring_view text);
std::wstring FromLatin1(std::string_view text);
// Characters beyond Latin-1 become '?'.
std::string ToLatin1(std::wstring_view text);
// UTF-8 when the bytes are valid UTF-8 (a file name in a message), else Latin-1.
std::wstring FromMessage(std::string_view text);

}  // namespace brelin::win
