#include "shared_string.h"
#include "compat.h"
#include "memory.h"
#include <stdio.h>
#include <string.h>
#include <wchar.h>

// A block is the header, capacity characters and 4 bytes more, which always
// hold a NUL at index capacity.
template <typename Ch>
Ch* CSharedStringT<Ch>::AllocBlock(int capacity)
{
    size_t bytes = (size_t)capacity * sizeof(Ch) + sizeof(Header) + 4;
    Header* head = static_cast<Header*>(MemAlloc(bytes));
    if (!head)
        return nullptr;
    head->refs = 1;
    head->capacity = capacity;
    head->length = -1;
    Ch* chars = reinterpret_cast<Ch*>(head + 1);
    chars[capacity] = 0;
    return chars;
}

template <typename Ch>
void CSharedStringT<Ch>::Release()
{
    if (!m_chars)
        return;
    Header* head = Head();
    if (head->refs <= 1)
        MemFree(head);
    else
        head->refs--;
    m_chars = nullptr;
}

template <typename Ch>
int CSharedStringT<Ch>::Length() const
{
    if (!m_chars)
        return 0;
    Header* head = Head();
    if (head->length < 0)
    {
        int n = 0;
        while (m_chars[n])
            n++;
        head->length = n;
    }
    return head->length;
}

template <typename Ch>
Ch* CSharedStringT<Ch>::WritableBuffer(int count)
{
    if (count < 0)
        return nullptr;
    if (!m_chars)
    {
        m_chars = AllocBlock(count);
        return m_chars;
    }
    Header* head = Head();
    if (head->refs > 1)
    {
        Ch* fresh = AllocBlock(count);
        if (!fresh)
            return nullptr;
        int keep = head->capacity < count ? head->capacity : count;
        // The characters kept and the 4 bytes after them, so the old
        // terminator comes along when count is at least the old length.
        memcpy(fresh, m_chars, (size_t)keep * sizeof(Ch) + 4);
        // When count cuts the old text, the copy holds no NUL of its own.
        fresh[count] = 0;
        head->refs--;
        m_chars = fresh;
        return m_chars;
    }
    if (count <= head->capacity)
    {
        head->length = -1;
        return m_chars;
    }
    size_t bytes = (size_t)count * sizeof(Ch) + sizeof(Header) + 4;
    Header* grown = static_cast<Header*>(MemRealloc(head, bytes));
    if (!grown)
        return nullptr;
    grown->refs = 1;
    grown->capacity = count;
    grown->length = -1;
    m_chars = reinterpret_cast<Ch*>(grown + 1);
    m_chars[count] = 0;
    return m_chars;
}

template <typename Ch>
bool CSharedStringT<Ch>::Insert(int position, const Ch* text, int count)
{
    if (count == 0)
        return true;
    if (count < 0)
    {
        count = 0;
        if (text)
            while (text[count])
                count++;
        if (count == 0)
            return true;
    }
    int oldLength = Length();
    if (position < 0)
        position = oldLength;
    if (position > oldLength)
        return false;
    int newLength = oldLength + count;
    if (!m_chars || Head()->refs > 1)
    {
        if (!WritableBuffer(newLength))
            return false;
    }
    else if (Head()->capacity < newLength)
    {
        int doubled = Head()->capacity * 2;
        if (!WritableBuffer(doubled > newLength ? doubled : newLength))
            return false;
    }
    memmove(m_chars + position + count, m_chars + position,
            (size_t)(oldLength - position) * sizeof(Ch));
    memcpy(m_chars + position, text, (size_t)count * sizeof(Ch));
    m_chars[newLength] = 0;
    Head()->length = newLength;
    return true;
}

template <typename Ch>
CSharedStringT<Ch>& CSharedStringT<Ch>::Assign(const Ch* text, int count)
{
    Release();
    if (count < 0)
        return *this;
    Ch* chars = AllocBlock(count);
    if (!chars)
        return *this;
    if (count)
        memcpy(chars, text, (size_t)count * sizeof(Ch));
    chars[count] = 0;
    m_chars = chars;
    Head()->length = count;
    return *this;
}

template class CSharedStringT<wchar_t>;
template class CSharedStringT<char>;

CSharedString FormatV(const wchar_t* format, va_list args)
{
    CSharedString result;
    va_list measureArgs;
    va_copy(measureArgs, args);
    int measured = _vscwprintf(format, measureArgs);
    va_end(measureArgs);
    if (measured < 0)
    {
        result.WritableBuffer(0);
        return result;
    }
    wchar_t* buffer = result.WritableBuffer(measured + 1);
    if (!buffer)
        return result;
    _vsnwprintf(buffer, (size_t)measured + 1, format, args);
    buffer[measured] = 0;
    return result;
}

CSharedString Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    CSharedString result = FormatV(format, args);
    va_end(args);
    return result;
}

bool FormatInto(wchar_t* buffer, int capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buffer, (size_t)capacity, format, args);
    va_end(args);
    if (n < 0 || n >= capacity)
    {
        if (capacity > 0)
            buffer[0] = 0;
        return false;
    }
    return true;
}

CSharedStringA ToUtf8(const wchar_t* text)
{
    CSharedStringA result;
    if (!text)
        return result;
    int units = (int)wcslen(text) + 1;
    char* buffer = result.WritableBuffer(3 * units);
    if (!buffer)
        return result;
    WideCharToMultiByte(CP_UTF8, 0, text, units, buffer, 3 * units, nullptr, nullptr);
    return result;
}

CSharedString FromUtf8(const char* text)
{
    CSharedString result;
    if (!text)
        return result;
    int bytes = (int)strlen(text) + 1;
    wchar_t* buffer = result.WritableBuffer(bytes);
    if (!buffer)
        return result;
    // The string ends where the conversion's count says. Under Wine a text
    // that ends inside an incomplete sequence converts without a terminator,
    // and the block beyond the converted units still holds older bytes.
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, buffer, bytes);
    if (units > 0 && buffer[units - 1] == 0)
        units--;
    if (units < 0)
        units = 0;
    buffer[units] = 0;
    result.SetLength(units);
    return result;
}

CSharedString WidenBytes(const char* text, int limit)
{
    CSharedString result;
    if (!text)
        return result;
    int count = 0;
    while ((limit < 0 || count < limit) && text[count])
        count++;
    wchar_t* buffer = result.WritableBuffer(count);
    if (!buffer)
        return result;
    for (int i = 0; i < count; i++)
        buffer[i] = (wchar_t)(unsigned char)text[i];
    buffer[count] = 0;
    result.SetLength(count);
    return result;
}
