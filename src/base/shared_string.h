// Reference-counted, copy-on-write strings of 16-bit (CSharedString) and
// 8-bit (CSharedStringA) characters. A value is one pointer: null, or the
// first character of a heap block whose three-word header (reference count,
// capacity, cached length) lies just in front of it, so a value is also a
// plain NUL-terminated C string. Out of memory is reported by results
// (null, false); nothing throws. Not thread-safe.
#pragma once
#include <stdarg.h>
#include <stdint.h>

template <typename Ch>
class CSharedStringT
{
public:
    struct Header
    {
        int32_t refs;     // values sharing the block
        int32_t capacity; // characters the block holds, terminator not counted
        int32_t length;   // index of the first NUL, or -1 until counted
    };

    CSharedStringT() : m_chars(nullptr) {}
    // Makes a fresh block holding count characters; a null text gives null.
    CSharedStringT(const Ch* text, int count) : m_chars(nullptr)
    {
        if (text)
            Assign(text, count);
    }
    CSharedStringT(const CSharedStringT& other) : m_chars(other.m_chars)
    {
        if (m_chars)
            Head()->refs++;
    }
    CSharedStringT& operator=(const CSharedStringT& other)
    {
        if (other.m_chars)
            other.Head()->refs++;
        Release();
        m_chars = other.m_chars;
        return *this;
    }
    ~CSharedStringT() { Release(); }

    operator const Ch*() const { return m_chars; }
    const Ch* Chars() const { return m_chars; }
    bool IsNull() const { return m_chars == nullptr; }
    bool IsEmpty() const { return !m_chars || !m_chars[0]; }

    void Release();
    int Length() const;
    // Makes the block private and able to hold at least count characters.
    Ch* WritableBuffer(int count);
    // position -1 inserts at the end; count -1 takes the text up to its NUL.
    bool Insert(int position, const Ch* text, int count);
    bool Append(const Ch* text, int count = -1) { return Insert(-1, text, count); }
    CSharedStringT& Assign(const Ch* text, int count);
    // Records the length of text written through WritableBuffer.
    void SetLength(int length)
    {
        if (m_chars)
            Head()->length = length;
    }

    static const Header* HeaderOf(const Ch* chars)
    {
        return reinterpret_cast<const Header*>(chars) - 1;
    }

private:
    Header* Head() const { return reinterpret_cast<Header*>(m_chars) - 1; }
    static Ch* AllocBlock(int capacity);

    Ch* m_chars;
};

typedef CSharedStringT<wchar_t> CSharedString;
typedef CSharedStringT<char> CSharedStringA;

// Wide printf-style formatting with the Microsoft convention: "%s" takes a
// wide string and "%S" an 8-bit one. Null when memory runs out.
CSharedString Format(const wchar_t* format, ...);
CSharedString FormatV(const wchar_t* format, va_list args);
// Formats into a caller's buffer without allocating; false when the text
// with its terminator does not fit in capacity characters.
bool FormatInto(wchar_t* buffer, int capacity, const wchar_t* format, ...);
// UTF-16 to UTF-8 and back; a null text gives a null string.
CSharedStringA ToUtf8(const wchar_t* text);
CSharedString FromUtf8(const char* text);
// Byte-wise widening: each byte becomes the code unit of the same value.
// At most limit bytes are read (-1: up to the NUL).
CSharedString WidenBytes(const char* text, int limit);
