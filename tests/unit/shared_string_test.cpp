// Capacities, sharing, cached lengths and out-of-memory outcomes of the
// shared strings, read straight from the block header.
#include "base/memory.h"
#include "base/shared_string.h"
#include "machines.h"
#include <gtest/gtest.h>
#include <string.h>
#include <vector>

namespace {

template <typename Ch>
const typename CSharedStringT<Ch>::Header* H(const CSharedStringT<Ch>& s)
{
    return CSharedStringT<Ch>::HeaderOf(s.Chars());
}

struct NoFailures : ::testing::Test
{
    void TearDown() override { MemFailNth(0); }
};

typedef NoFailures SharedString;

TEST_F(SharedString, ReleaseNullAndLastAndSharedHolders)
{
    CSharedString empty;
    empty.Release();
    EXPECT_TRUE(empty.IsNull());

    long before = MemLiveBlocks();
    {
        CSharedString a(L"abc", 3);
        EXPECT_EQ(MemLiveBlocks(), before + 1);
        CSharedString b = a, c = a;
        EXPECT_EQ(H(a)->refs, 3);
        b.Release();
        EXPECT_EQ(H(a)->refs, 2);
        EXPECT_TRUE(b.IsNull());
    }
    EXPECT_EQ(MemLiveBlocks(), before);
}

TEST_F(SharedString, AssignMakesExactBlockWithCachedLength)
{
    CSharedString s(L"hello", 5);
    EXPECT_EQ(H(s)->refs, 1);
    EXPECT_EQ(H(s)->capacity, 5);
    EXPECT_EQ(H(s)->length, 5);
    EXPECT_EQ(s.Chars()[5], 0);
    CSharedString none(nullptr, 3);
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(none.Length(), 0);
}

TEST_F(SharedString, WriteThroughOneHolderLeavesTheOtherIntact)
{
    CSharedString a(L"abcd", 4);
    CSharedString b = a;
    ASSERT_TRUE(b.Append(L"e", 1));
    EXPECT_STREQ(a, L"abcd");
    EXPECT_STREQ(b, L"abcde");
    EXPECT_EQ(H(a)->refs, 1);
    EXPECT_EQ(H(b)->refs, 1);
    EXPECT_NE(a.Chars(), b.Chars());

    CSharedString c = a;
    ASSERT_TRUE(c.Insert(0, L"X", 1));
    EXPECT_STREQ(a, L"abcd");
    EXPECT_STREQ(c, L"Xabcd");

    CSharedString d = a;
    wchar_t* w = d.WritableBuffer(4);
    ASSERT_NE(w, nullptr);
    w[0] = L'Z';
    EXPECT_STREQ(a, L"abcd");
    EXPECT_STREQ(d, L"Zbcd");
    EXPECT_EQ(H(a)->refs, 1);
}

TEST_F(SharedString, LengthCountsOnceAfterRawWrites)
{
    CSharedStringA s;
    char* w = s.WritableBuffer(10);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(H(s)->length, -1);
    EXPECT_EQ(w[10], 0); // a NUL inside the block before anything was written
    strcpy(w, "abc");
    EXPECT_EQ(s.Length(), 3);
    EXPECT_EQ(H(s)->length, 3);
}

TEST_F(SharedString, InsertZeroCountKeepsSharing)
{
    CSharedString a(L"abc", 3);
    CSharedString b = a;
    EXPECT_TRUE(b.Insert(1, L"zzz", 0));
    EXPECT_EQ(a.Chars(), b.Chars());
    EXPECT_EQ(H(a)->refs, 2);
}

TEST_F(SharedString, InsertInMiddleAndAtEnd)
{
    CSharedString s(L"ad", 2);
    ASSERT_TRUE(s.Insert(1, L"bc", -1));
    EXPECT_STREQ(s, L"abcd");
    ASSERT_TRUE(s.Insert(-1, L"ef", 2));
    EXPECT_STREQ(s, L"abcdef");
    EXPECT_EQ(H(s)->length, 6);
    EXPECT_TRUE(s.Insert(-1, nullptr, -1)); // a null text counts as empty
    EXPECT_STREQ(s, L"abcdef");
}

TEST_F(SharedString, AppendGrowthRule)
{
    // Private, full block of capacity 10: doubles.
    CSharedString full(L"0123456789", 10);
    ASSERT_TRUE(full.Append(L"x", 1));
    EXPECT_EQ(H(full)->capacity, 20);
    // Needing more than double: exactly the need.
    CSharedString big(L"0123456789", 10);
    ASSERT_TRUE(big.Append(L"abcdefghijklmno", 15));
    EXPECT_EQ(H(big)->capacity, 25);
    // Null: exact.
    CSharedString null;
    ASSERT_TRUE(null.Append(L"x", 1));
    EXPECT_EQ(H(null)->capacity, 1);
    // Shared block of capacity 10 holding 4: exact new length.
    CSharedString shared;
    wcscpy(shared.WritableBuffer(10), L"abcd");
    CSharedString other = shared;
    ASSERT_TRUE(shared.Append(L"x", 1));
    EXPECT_EQ(H(shared)->capacity, 5);
    EXPECT_STREQ(shared, L"abcdx");
    EXPECT_STREQ(other, L"abcd");
    // Private with room: nothing allocated.
    CSharedString roomy;
    wcscpy(roomy.WritableBuffer(10), L"ab");
    const wchar_t* before = roomy.Chars();
    ASSERT_TRUE(roomy.Append(L"cd", 2));
    EXPECT_EQ(roomy.Chars(), before);
    EXPECT_EQ(H(roomy)->capacity, 10);
}

TEST_F(SharedString, WritableBufferNeverShrinksOrMovesWithinCapacity)
{
    CSharedString s(L"abcdefgh", 8);
    const wchar_t* before = s.Chars();
    wchar_t* w = s.WritableBuffer(3);
    EXPECT_EQ(w, before);
    EXPECT_EQ(H(s)->capacity, 8);
    EXPECT_EQ(H(s)->length, -1);
    EXPECT_STREQ(s, L"abcdefgh");
    w = s.WritableBuffer(12);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(H(s)->capacity, 12);
    EXPECT_EQ(w[12], 0);
    EXPECT_STREQ(s, L"abcdefgh");
}

TEST_F(SharedString, WritableBufferOnSharedBlockBelowOldLengthIsTerminated)
{
    CSharedString a(L"abcdefgh", 8);
    CSharedString b = a;
    wchar_t* w = b.WritableBuffer(3);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(H(b)->capacity, 3);
    EXPECT_EQ(w[3], 0);
    EXPECT_EQ(b.Length(), 3);
    EXPECT_STREQ(b, L"abc");
    EXPECT_STREQ(a, L"abcdefgh");
    EXPECT_EQ(H(a)->refs, 1);

    CSharedStringA c("abcdefgh", 8);
    CSharedStringA d = c;
    d.WritableBuffer(2);
    EXPECT_EQ(d.Length(), 2);
}

TEST_F(SharedString, WritableBufferOnSharedBlockKeepsOldTerminator)
{
    CSharedString a(L"abc", 3);
    CSharedString b = a;
    ASSERT_NE(b.WritableBuffer(20), nullptr);
    EXPECT_STREQ(b, L"abc");
    EXPECT_EQ(H(b)->capacity, 20);
}

TEST_F(SharedString, FormatConventions)
{
    CSharedString s = Format(L"%s|%S|%i|%.8X|%.4x|%p|%.4i", L"w\u00e9", "8bit", -5, 255u, 0x1fu,
                             (void*)0x1234, 7);
    // %p: as many digits as the pointers of the machine have.
    if (testsupport::MachineUnderTest() == testsupport::Machine::X64)
        EXPECT_STREQ(s, L"w\u00e9|8bit|-5|000000FF|001f|0000000000001234|0007");
    else
        EXPECT_STREQ(s, L"w\u00e9|8bit|-5|000000FF|001f|00001234|0007");
    EXPECT_EQ(H(s)->length, -1);
    CSharedString nulls = Format(L"%s %S", (const wchar_t*)nullptr, (const char*)nullptr);
    EXPECT_STREQ(nulls, L"(null) (null)");
    CSharedString neg = Format(L"%.8X", -1);
    EXPECT_STREQ(neg, L"FFFFFFFF");
    CSharedString high = Format(L"%S", "\xe9\xff");
    EXPECT_EQ(high.Chars()[0], 0xe9);
    EXPECT_EQ(high.Chars()[1], 0xff);
}

TEST_F(SharedString, FormatOfNothingIsEmptyWithCapacityOne)
{
    CSharedString s = Format(L"");
    ASSERT_FALSE(s.IsNull());
    EXPECT_EQ(H(s)->capacity, 1);
    EXPECT_EQ(s.Length(), 0);
}

TEST_F(SharedString, Utf8Conversions)
{
    CSharedStringA empty = ToUtf8(L"");
    ASSERT_FALSE(empty.IsNull());
    EXPECT_EQ(H(empty)->capacity, 3);
    EXPECT_EQ(empty.Length(), 0);
    EXPECT_TRUE(ToUtf8(nullptr).IsNull());

    CSharedStringA u = ToUtf8(L"a\u00fc\u4e2d");
    EXPECT_STREQ(u, "a\xc3\xbc\xe4\xb8\xad");
    EXPECT_EQ(H(u)->capacity, 12);
    EXPECT_EQ(H(u)->length, -1);

    CSharedString cjk = FromUtf8("\xe4\xb8\xad");
    ASSERT_FALSE(cjk.IsNull());
    EXPECT_EQ(H(cjk)->capacity, 4);
    EXPECT_EQ(cjk.Length(), 1);
    EXPECT_EQ(cjk.Chars()[0], 0x4e2d);

    // Ill-formed UTF-8 converts without failing.
    CSharedString bad = FromUtf8("a\xff" "b");
    ASSERT_FALSE(bad.IsNull());
    EXPECT_EQ(bad.Chars()[0], L'a');
    EXPECT_EQ(bad.Chars()[bad.Length() - 1], L'b');
}

// The text converted right after blocks of the very capacity its
// conversion takes were filled with 'X' and freed, so that its block is one
// of them: nothing of the earlier contents may show.
std::wstring FromUtf8AfterStaleText(const char* text)
{
    int capacity = (int)strlen(text) + 1;
    {
        std::vector<CSharedString> earlier(16);
        for (CSharedString& one : earlier)
        {
            wchar_t* chars = one.WritableBuffer(capacity);
            for (int i = 0; chars && i < capacity; i++)
                chars[i] = L'X';
        }
    }
    CSharedString converted = FromUtf8(text);
    if (converted.IsNull())
        return L"<null>";
    return std::wstring(converted.Chars(), converted.Length());
}

// An incomplete sequence at the end becomes one replacement character, and
// the string ends right after it.
TEST_F(SharedString, FromUtf8OfIncompleteTwoByteEnding)
{
    EXPECT_EQ(FromUtf8AfterStaleText("a\xc3"), L"a\xfffd");
}

TEST_F(SharedString, FromUtf8OfIncompleteThreeByteEnding)
{
    EXPECT_EQ(FromUtf8AfterStaleText("\x7f\xe0"), L"\x7f\xfffd");
    EXPECT_EQ(FromUtf8AfterStaleText("a\xe3"), L"a\xfffd");
    EXPECT_EQ(FromUtf8AfterStaleText("a\xe3\x81"), L"a\xfffd");
}

TEST_F(SharedString, FromUtf8OfIncompleteFourByteEnding)
{
    EXPECT_EQ(FromUtf8AfterStaleText("a\xf0"), L"a\xfffd");
    EXPECT_EQ(FromUtf8AfterStaleText("a\xf0\x9f"), L"a\xfffd");
    EXPECT_EQ(FromUtf8AfterStaleText("a\xf0\x9f\x98"), L"a\xfffd");
}

TEST_F(SharedString, FromUtf8OfLoneContinuationByte)
{
    EXPECT_EQ(FromUtf8AfterStaleText("\x80"), L"\xfffd");
    EXPECT_EQ(FromUtf8AfterStaleText("a\x80"), L"a\xfffd");
    EXPECT_EQ(FromUtf8AfterStaleText("a\x80\x80"), L"a\xfffd\xfffd");
}

TEST_F(SharedString, FromUtf8OfEmptyTextIsEmptyNotNull)
{
    EXPECT_EQ(FromUtf8AfterStaleText(""), L"");
}

TEST_F(SharedString, FromUtf8OfLongTextWithIncompleteEnding)
{
    std::string text;
    for (int i = 0; i < 300; i++)
        text += "\xe3\x81\x82";
    text += "\xe3";
    std::wstring expected(300, L'\x3042');
    expected += L'\xfffd';
    EXPECT_EQ(FromUtf8AfterStaleText(text.c_str()), expected);
}

TEST_F(SharedString, WidenBytesMapsEachByte)
{
    CSharedString w = WidenBytes("A\x80\xff", -1);
    ASSERT_EQ(w.Length(), 3);
    EXPECT_EQ(w.Chars()[1], 0x80);
    EXPECT_EQ(w.Chars()[2], 0xff);
    char noNul[4] = {'a', 'b', 'c', 'd'};
    EXPECT_STREQ(WidenBytes(noNul, 3), L"abc");
    CSharedString empty = WidenBytes("", -1);
    EXPECT_FALSE(empty.IsNull());
    EXPECT_EQ(empty.Length(), 0);
}

// Out of memory: each operation's N-th allocation fails in turn, and the
// outcome is null or false with the old value untouched and nothing leaked.
TEST_F(SharedString, AssignAndMakeFailCleanly)
{
    long live = MemLiveBlocks();
    MemFailNth(1);
    CSharedString s(L"abc", 3);
    EXPECT_TRUE(s.IsNull());
    CSharedString t(L"x", 1);
    MemFailNth(1);
    t.Assign(L"abc", 3);
    EXPECT_TRUE(t.IsNull()); // Assign releases the old value first
    EXPECT_EQ(MemLiveBlocks(), live);
}

TEST_F(SharedString, WritableBufferFailureKeepsValue)
{
    CSharedString privateOne(L"abcd", 4);
    const wchar_t* before = privateOne.Chars();
    MemFailNth(1);
    EXPECT_EQ(privateOne.WritableBuffer(100), nullptr);
    EXPECT_EQ(privateOne.Chars(), before);
    EXPECT_STREQ(privateOne, L"abcd");
    EXPECT_EQ(H(privateOne)->capacity, 4);

    CSharedString shared = privateOne;
    MemFailNth(1);
    EXPECT_EQ(shared.WritableBuffer(2), nullptr);
    EXPECT_EQ(shared.Chars(), before);
    EXPECT_EQ(H(shared)->refs, 2);

    CSharedString null;
    MemFailNth(1);
    EXPECT_EQ(null.WritableBuffer(5), nullptr);
    EXPECT_TRUE(null.IsNull());
}

TEST_F(SharedString, InsertFailureKeepsText)
{
    for (int shared = 0; shared < 2; shared++)
    {
        CSharedString s(L"0123456789", 10);
        CSharedString holder;
        if (shared)
            holder = s;
        MemFailNth(1);
        EXPECT_FALSE(s.Insert(3, L"abc", 3));
        EXPECT_STREQ(s, L"0123456789");
        EXPECT_EQ(s.Length(), 10);
        EXPECT_TRUE(s.Append(L"z", 1)); // the hook fires once only
        EXPECT_STREQ(s, L"0123456789z");
    }
}

TEST_F(SharedString, FormatAndConversionsFailToNull)
{
    long live = MemLiveBlocks();
    MemFailNth(1);
    EXPECT_TRUE(Format(L"%i", 42).IsNull());
    MemFailNth(1);
    EXPECT_TRUE(ToUtf8(L"abc").IsNull());
    MemFailNth(1);
    EXPECT_TRUE(FromUtf8("abc").IsNull());
    MemFailNth(0);
    EXPECT_EQ(MemLiveBlocks(), live);
    EXPECT_STREQ(Format(L"%i", 42), L"42");
}

} // namespace
