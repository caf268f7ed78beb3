// CException family: trail growth on rethrow, class names through base handlers,
// the 512-byte message limit and the copy-out rule at its edges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgiclib.h"

namespace {

// Switches the allocation hook off again whatever a test did with it.
struct AllocationHookGuard {
    ~AllocationHookGuard() { FailAllocationAfter(-1); }
};

TEST(CException, ConstructionBuildsTheFirstTrailEntry) {
    CException e("abc", 42, "cobcpy");
    EXPECT_STREQ(e.GetExceptionName(), "CException");
    EXPECT_STREQ(e.GetMessageText(), "abc");
    EXPECT_STREQ(e.GetLocation(), "cobcpy : 42\n");
    EXPECT_EQ(e.GetLine(), 42);

    // The widest line number still fits the entry's fixed storage.
    CException widest("m", -2147483647 - 1, "F");
    EXPECT_STREQ(widest.GetLocation(), "F : -2147483648\n");
}

TEST(CException, TrailGrowsOnEveryRethrowAndCopiesOwnIt) {
    std::string trail;
    int line = 0;
    try {
        try {
            throw CMemoryException("メモリ不足", 59, "F");
        } catch (CMemoryException caught) {
            EXPECT_TRUE(caught.AddLocation(63, "F"));
            throw caught;
        }
    } catch (CException caught) {
        // A base-class handler still sees the raised class.
        EXPECT_STREQ(caught.GetExceptionName(), "CMemoryException");
        EXPECT_STREQ(caught.GetMessageText(), "メモリ不足");
        trail = caught.GetLocation();
        line = caught.GetLine();
    }
    EXPECT_EQ(trail, "F : 59\nF : 63\n");
    EXPECT_EQ(line, 59);

    CException original("m", 1, "A");
    CException copy(original);
    ASSERT_TRUE(copy.AddLocation(2, "B"));
    EXPECT_STREQ(original.GetLocation(), "A : 1\n");
    EXPECT_STREQ(copy.GetLocation(), "A : 1\nB : 2\n");
    EXPECT_EQ(copy.GetLine(), 1);
    EXPECT_STREQ(copy.GetSourceFileName(), "A");
}

TEST(CException, SubclassesKeepTheirNameThroughCopies) {
    try {
        throw CFileException("開けません", 7, "F");
    } catch (CException caught) {
        EXPECT_STREQ(caught.GetExceptionName(), "CFileException");
    }
    CFileException file("x", 1, "F");
    CFileException fileCopy(file);
    EXPECT_STREQ(fileCopy.GetExceptionName(), "CFileException");
    CMemoryException memory("x", 1, "F");
    CException asBase(memory);
    EXPECT_STREQ(asBase.GetExceptionName(), "CMemoryException");
    EXPECT_STREQ(asBase.GetLocation(), "F : 1\n");
}

TEST(CException, MissingTrailStorageLeavesACompleteObject) {
    AllocationHookGuard guard;
    FailAllocationAfter(0);
    CException e("abc", 5, "F");
    EXPECT_STREQ(e.GetMessageText(), "abc");
    EXPECT_STREQ(e.GetLocation(), "");
    char buffer[10] = "zzzzzzzzz";
    EXPECT_EQ(e.CopyLocation(nullptr, 10), 0);
    EXPECT_EQ(e.CopyLocation(buffer, 10), 0);
    EXPECT_STREQ(buffer, "");
    buffer[0] = 'z';
    EXPECT_EQ(e.CopyLocation(buffer, 0), 0);
    EXPECT_EQ(buffer[0], 'z');

    // A trail can still be started later, and a copy of a trail-less object has none.
    CException copy(e);
    EXPECT_STREQ(copy.GetLocation(), "");
    EXPECT_TRUE(e.AddLocation(6, "G"));
    EXPECT_STREQ(e.GetLocation(), "G : 6\n");

    // A copy whose trail storage fails has no trail; nothing is thrown.
    FailAllocationAfter(0);
    CException noTrail(e);
    EXPECT_STREQ(noTrail.GetLocation(), "");
    EXPECT_STREQ(noTrail.GetMessageText(), "abc");

    // A failed growth keeps the old trail.
    FailAllocationAfter(0);
    EXPECT_FALSE(e.AddLocation(7, "H"));
    EXPECT_STREQ(e.GetLocation(), "G : 6\n");
}

TEST(CException, MessageIsCutAt512Bytes) {
    std::string long600(600, 'x');
    for (std::size_t i = 0; i < long600.size(); ++i) long600[i] = static_cast<char>('a' + i % 26);
    CException e(long600.c_str(), 1, "F");
    EXPECT_EQ(std::string(e.GetMessageText()), long600.substr(0, 512));

    EXPECT_FALSE(e.SetMessageText(long600.c_str()));
    EXPECT_EQ(std::strlen(e.GetMessageText()), 512u);
    std::string exact(512, 'q');
    EXPECT_TRUE(e.SetMessageText(exact.c_str()));
    EXPECT_EQ(std::string(e.GetMessageText()), exact);
    EXPECT_TRUE(e.SetMessageText("short"));
    EXPECT_STREQ(e.GetMessageText(), "short");
}

TEST(CException, AppendStopsAtTheLimit) {
    std::string five00(500, 'm');
    CException e(five00.c_str(), 1, "F");
    EXPECT_FALSE(e.AppendMessageText("01234567890123456789"));
    EXPECT_EQ(std::string(e.GetMessageText()), five00 + "012345678901");

    CException f("ab", 1, "F");
    EXPECT_TRUE(f.AppendMessageText("cd"));
    EXPECT_STREQ(f.GetMessageText(), "abcd");
    std::string rest(508, 'r');
    EXPECT_TRUE(f.AppendMessageText(rest.c_str()));
    EXPECT_EQ(std::strlen(f.GetMessageText()), 512u);
    EXPECT_FALSE(f.AppendMessageText("x"));
    EXPECT_EQ(std::strlen(f.GetMessageText()), 512u);
}

TEST(CException, CopyOutRuleAtItsEdges) {
    CException e("abc", 12, "F");
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(e.CopyMessageText(nullptr, 10), 4);
    EXPECT_EQ(e.CopyMessageText(buffer, 0), 0);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(e.CopyMessageText(buffer, -3), -3);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(e.CopyMessageText(buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(e.CopyMessageText(buffer, 3), 2);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(e.CopyMessageText(buffer, 4), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(e.CopyMessageText(buffer, 10), 3);
    EXPECT_STREQ(buffer, "abc");

    EXPECT_EQ(e.CopyExceptionName(nullptr, 0), 11);
    EXPECT_EQ(e.CopyExceptionName(buffer, 3), 2);
    EXPECT_STREQ(buffer, "CE");
    EXPECT_EQ(e.CopySourceFileName(buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "F");

    // The trail follows the same rule when it exists.
    EXPECT_EQ(e.CopyLocation(nullptr, 0), 8);  // "F : 12\n" and the terminator
    EXPECT_EQ(e.CopyLocation(buffer, 5), 4);
    EXPECT_STREQ(buffer, "F : ");
    EXPECT_EQ(e.CopyLocation(buffer, 0), 0);
}

}  // namespace
