// UTF-8, the program's text inside, and UTF-16, the text of the Windows W
// calls. Windows only.
#pragma once

#include <string>
#include <string_view>

// Text that is not valid UTF-8 gives an empty string (a name the W calls then
// refuse), never a different name.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
