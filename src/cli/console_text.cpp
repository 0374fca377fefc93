#include "console_text.h"
#include <orvanta/text.h>
#include <windows.h>

namespace orvantacli {

TextStream::TextStream(Which which)
    : m_handle(GetStdHandle(which == out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE)), m_console(false)
{
    DWORD mode = 0;
    m_console = m_handle && m_handle != INVALID_HANDLE_VALUE && GetConsoleMode(m_handle, &mode);
}

int TextStream::Width() const
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!m_console || !GetConsoleScreenBufferInfo(m_handle, &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void TextStream::Write(const std::string& utf8) const
{
    if (!m_handle || m_handle == INVALID_HANDLE_VALUE || utf8.empty())
        return;
    DWORD written = 0;
    if (m_console)
    {
        std::wstring wide = orvanta::ToWide(utf8);
        WriteConsoleW(m_handle, wide.data(), (DWORD)wide.size(), &written, nullptr);
        return;
    }
    size_t done = 0;
    while (done < utf8.size())
    {
        if (!WriteFile(m_handle, utf8.data() + done, (DWORD)(utf8.size() - done), &written, nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

} // namespace orvantacli
