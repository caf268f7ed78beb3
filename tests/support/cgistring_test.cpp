// CGIString and the CGIException family: replace counts, escaping order, number and
// null assignment, and storage failures that must leave every string unchanged.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "cgiclib.h"

namespace {

struct AllocationHookGuard {
    ~AllocationHookGuard() { FailAllocationAfter(-1); }
};

// Runs `change` with the next storage request failing; expects CGIMemoryException with
// the library's message and class name, and returns whether one was thrown.
template <typename Change>
bool FailsWithMemoryException(Change change) {
    AllocationHookGuard guard;
    FailAllocationAfter(0);
    try {
        change();
    } catch (CGIMemoryException& failure) {
        EXPECT_STREQ(failure.GetMessageText(), "メモリ確保失敗");
        EXPECT_STREQ(failure.GetExceptionName(), "CGIMemoryException");
        EXPECT_STREQ(failure.GetSourceFileName(), "cgiclib");
        return true;
    }
    return false;
}

TEST(CGIString, ReplaceCountsNonOverlappingOccurrencesLeftToRight) {
    CGIString s("aaa");
    EXPECT_EQ(s.Replace("aa", "b"), 1);
    EXPECT_STREQ(s.GetText(), "ba");

    // The replacement is never scanned again.
    CGIString t("aXa");
    EXPECT_EQ(t.Replace("a", "aa"), 2);
    EXPECT_STREQ(t.GetText(), "aaXaa");

    CGIString lines("one\r\ntwo\r\nthree\n\r");
    EXPECT_EQ(lines.Replace("\r", ""), 3);
    EXPECT_STREQ(lines.GetText(), "one\ntwo\nthree\n");

    CGIString whole("abab");
    EXPECT_EQ(whole.Replace("abab", ""), 1);
    EXPECT_STREQ(whole.GetText(), "");

    // Shift_JIS text: every length counts bytes.
    CGIString japanese("項目・項目");
    EXPECT_EQ(japanese.Replace("項目", "x"), 2);
    EXPECT_STREQ(japanese.GetText(), "x・x");
}

TEST(CGIString, ReplaceThatChangesNothingCountsNothing) {
    CGIString s("abc");
    EXPECT_EQ(s.Replace("", "x"), 0);
    EXPECT_EQ(s.Replace("b", "b"), 0);
    EXPECT_EQ(s.Replace("zz", "y"), 0);
    EXPECT_EQ(s.Replace("abcd", "y"), 0);
    EXPECT_STREQ(s.GetText(), "abc");

    // None of these needs storage, so a failing request is never reached.
    AllocationHookGuard guard;
    FailAllocationAfter(0);
    EXPECT_EQ(s.Replace("", "x"), 0);
    EXPECT_EQ(s.Replace("b", "b"), 0);
    EXPECT_EQ(s.Replace("q", "x"), 0);
    s.Assign(s);
    FailAllocationAfter(-1);
    EXPECT_STREQ(s.GetText(), "abc");
}

TEST(CGIString, AmpersandFirstThenEscapeHtmlGivesCorrectHtml) {
    CGIString s("x<y&z>");
    EXPECT_EQ(s.Replace("&", "&amp;"), 1);
    EXPECT_STREQ(s.EscapeHtml(), "x&lt;y&amp;z&gt;");

    CGIString quoted("\"a\"&");
    EXPECT_STREQ(quoted.EscapeHtml(), "&quot;a&quot;&");

    CGIString plain("PIC X(10)");
    EXPECT_STREQ(plain.EscapeHtml(), "PIC X(10)");
    CGIString empty;
    EXPECT_STREQ(empty.EscapeHtml(), "");
}

TEST(CGIString, AssignAppendConcatAndEquals) {
    CGIString s("old");
    EXPECT_STREQ(s.Assign(static_cast<const char*>(nullptr)), "");
    EXPECT_STREQ(s.Assign(-5), "-5");
    EXPECT_STREQ(s.Assign(-2147483647 - 1), "-2147483648");
    EXPECT_STREQ(s.Assign(0), "0");
    EXPECT_TRUE(s.Equals("0"));

    CGIString zeros("00");
    EXPECT_FALSE(zeros.Equals("0"));
    CGIString empty;
    EXPECT_FALSE(empty.Equals("0"));
    EXPECT_TRUE(empty.Equals(""));

    CGIString f("F");
    CGIString joined = f.Concat(":");
    EXPECT_STREQ(joined.GetText(), "F:");
    EXPECT_STREQ(f.GetText(), "F");

    CGIString twice("ab");
    EXPECT_STREQ(twice.Append(twice), "abab");
    EXPECT_STREQ(twice.Append(12), "abab12");
    EXPECT_STREQ(twice.Append("-"), "abab12-");
    // A source that lies inside the string's own storage.
    EXPECT_STREQ(twice.Assign(twice.GetText() + 2), "ab12-");
    EXPECT_STREQ(twice.Append(twice.GetText() + 4), "ab12--");

    CGIString copy(twice);
    copy.Append("!");
    EXPECT_STREQ(twice.GetText(), "ab12--");
    EXPECT_STREQ(copy.GetText(), "ab12--!");
    CGIString other("zz");
    EXPECT_STREQ(copy.Assign(other), "zz");
}

TEST(CGIString, FailedRequestLeavesTheStringUnchanged) {
    CGIString s("a<b");
    const char* held = s.GetText();
    EXPECT_TRUE(FailsWithMemoryException([&] { s.Replace("a", "xyz"); }));
    EXPECT_TRUE(FailsWithMemoryException([&] { s.EscapeHtml(); }));
    EXPECT_TRUE(FailsWithMemoryException([&] { s.Assign("new"); }));
    EXPECT_TRUE(FailsWithMemoryException([&] { s.Assign(7); }));
    EXPECT_TRUE(FailsWithMemoryException([&] { s.Append("tail"); }));
    EXPECT_TRUE(FailsWithMemoryException([&] { s.Append(s); }));
    EXPECT_TRUE(FailsWithMemoryException([&] { s.Concat(":"); }));
    EXPECT_EQ(s.GetText(), held);
    EXPECT_STREQ(s.GetText(), "a<b");

    EXPECT_TRUE(FailsWithMemoryException([] { CGIString fresh("x"); }));
    EXPECT_TRUE(FailsWithMemoryException([] { CGIString fresh; }));
    EXPECT_TRUE(FailsWithMemoryException([&] { CGIString fresh(s); }));
}

TEST(CGIString, ExhaustedStorageEndsInBadAllocInsteadOfEndlessReports) {
    // With no storage at all, the memory exception cannot be built either; the
    // failure still leaves the string unchanged and ends in a catchable throw.
    CGIString s("keep");
    AllocationHookGuard guard;
    FailEveryAllocationAfter(0);
    EXPECT_THROW(s.Append("more"), std::bad_alloc);
    FailAllocationAfter(-1);
    EXPECT_STREQ(s.GetText(), "keep");
    // The guard was reset: the next failure is a proper CGIMemoryException again.
    EXPECT_TRUE(FailsWithMemoryException([&] { s.Append("more"); }));
}

TEST(CGIException, ConstructionAndLocationTexts) {
    CGIException e("m", 260, "F", "N");
    EXPECT_STREQ(e.GetMessageText(), "m");
    EXPECT_STREQ(e.GetLineText(), "260");
    EXPECT_STREQ(e.GetSourceFileName(), "F");
    EXPECT_STREQ(e.GetExceptionName(), "N");
    EXPECT_STREQ(e.AddLocation(7, "G", "/"), "F:260/G:7");
    EXPECT_STREQ(e.GetLineText(), "260/7");
    EXPECT_STREQ(e.GetSourceFileName(), "F/G");

    // The setters replace their field only; the location is not rebuilt.
    EXPECT_STREQ(e.SetLine(-3), "-3");
    EXPECT_STREQ(e.SetSourceFileName("H"), "H");
    EXPECT_STREQ(e.SetMessageText(CGIString("n")), "n");
    EXPECT_STREQ(e.SetSourceFileName(CGIString("I")), "I");
    EXPECT_STREQ(e.SetMessageText("o"), "o");
    EXPECT_STREQ(e.AddLocation(1, "J", ""), "F:260/G:7J:1");

    CGIException copy(e);
    copy.SetMessageText("changed");
    EXPECT_STREQ(e.GetMessageText(), "o");
    EXPECT_STREQ(copy.GetExceptionName(), "N");
}

TEST(CGIException, SubclassesTakeTheRaisersClassName) {
    CGIDataException data("d", 1, "F", "CGIDataException");
    CGIFileException file("f", 2, "F", "CGIFileException");
    CGIImageException image("i", 3, "F", "anything");
    CGIMemoryException memory("m", 4, "F", "CGIMemoryException");
    EXPECT_STREQ(data.GetExceptionName(), "CGIDataException");
    EXPECT_STREQ(file.GetExceptionName(), "CGIFileException");
    EXPECT_STREQ(image.GetExceptionName(), "anything");
    CGIException& base = memory;
    EXPECT_STREQ(base.GetLineText(), "4");
    try {
        throw CGIFileException("f", 2, "F", "CGIFileException");
    } catch (CGIException& caught) {
        EXPECT_NE(dynamic_cast<CGIFileException*>(&caught), nullptr);
    }
}

TEST(CGIException, FailureWhileBuildingRaisesAMemoryException) {
    // Every one of the construction's storage requests can fail.
    for (int request = 0; request < 10; ++request) {
        AllocationHookGuard guard;
        FailAllocationAfter(request);
        bool raised = false;
        try {
            CGIDataException e("m", 260, "F", "CGIDataException");
        } catch (CGIMemoryException& failure) {
            raised = true;
            EXPECT_STREQ(failure.GetMessageText(), "メモリ確保失敗");
        }
        EXPECT_TRUE(raised) << "request " << request;
    }
    // Past the construction's last request, the object is complete.
    AllocationHookGuard guard;
    FailAllocationAfter(10);
    CGIDataException whole("m", 260, "F", "CGIDataException");
    FailAllocationAfter(-1);
    EXPECT_STREQ(whole.AddLocation(7, "G", "/"), "F:260/G:7");
}

}  // namespace
