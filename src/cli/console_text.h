// Text to the standard output or error: UTF-8 bytes into a pipe or file,
// UTF-16 into a console (where 8-bit text would be shown in its code page).
#pragma once
#include <string>

namespace orvantacli {

class TextStream
{
public:
    enum Which { out, err };
    explicit TextStream(Which which);
    bool IsConsole() const { return m_console; }
    // Columns of the console window; 0 when not a console.
    int Width() const;
    void Write(const std::string& utf8) const;

private:
    void* m_handle;
    bool m_console;
};

} // namespace orvantacli
