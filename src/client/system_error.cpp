#include "client/system_error.h"
#include "orvanta/text.h"
#include <windows.h>

namespace orvanta {

std::string SystemErrorText(uint32_t code)
{
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, (wchar_t*)&text, 0, nullptr);
    std::wstring message = n ? std::wstring(text, n) : std::wstring();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    std::string result = "error " + std::to_string(code);
    if (!message.empty())
        result += ": " + ToUtf8(message);
    return result;
}

} // namespace orvanta
