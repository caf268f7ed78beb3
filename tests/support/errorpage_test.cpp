// The exit pages: exit status, and the page bytes on standard output (Shift_JIS, CR LF,
// texts escaped) checked from a file that the dying child writes its output to.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cgiclib.h"
#include "test_util.h"

namespace {

// Points standard output at `path` (in the dying child only).
void CaptureStandardOutput(const char* path) {
    if (std::freopen(path, "wb", stdout) == nullptr) std::abort();
}

const char kReport[] =
    "Content-Type: text/html\r\n"
    "\r\n"
    "<html>\r\n"
    "<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\r\n"
    "<title>CGI 例外発生</title>\r\n"
    "</head>\r\n"
    "<body>\r\n"
    "<h1>例外が発生しました</h1>\r\n"
    "<table border=\"1\">\r\n"
    "<caption>例外情報</caption>\r\n"
    "<tr><td>CGIMemoryException</td></tr>\r\n"
    "<tr><td>a&lt;b&amp;&quot;c&gt;</td></tr>\r\n"
    "<tr><td>cgiclib:12/x:3</td></tr>\r\n"
    "</table>\r\n"
    "</body>\r\n"
    "</html>\r\n";

TEST(ErrorPageDeathTest, ExitWithReportWritesTheReportAndEndsWithStatus2) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* path = "errorpage_report.tmp";
    std::remove(path);
    EXPECT_EXIT(
        {
            CaptureStandardOutput(path);
            CGIMemoryException e("a<b&\"c>", 12, "cgiclib", "CGIMemoryException");
            e.AddLocation(3, "x", "/");
            e.ExitWithReport();
        },
        ::testing::ExitedWithCode(2), "");
    EXPECT_EQ(qbtest::ReadFileBytes(path), std::string(kReport));
    std::remove(path);
}

TEST(ErrorPageDeathTest, ExitWithErrorPageFormatsTheDetailAndEndsWithStatus1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* path = "errorpage_page.tmp";
    std::remove(path);
    EXPECT_EXIT(
        {
            CaptureStandardOutput(path);
            CGIString s("x");
            s.ExitWithErrorPage("題名", "見出し<", "%s=%d\n", "行", 42);
        },
        ::testing::ExitedWithCode(1), "");
    std::string page = qbtest::ReadFileBytes(path);
    EXPECT_EQ(page.rfind("Content-Type: text/html\r\n\r\n<html>\r\n", 0), 0u);
    EXPECT_NE(page.find("<title>題名</title>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<h1>見出し&lt;</h1>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<p>行=42\r\n</p>\r\n"), std::string::npos);
    EXPECT_EQ(page.size() - page.rfind("</body>\r\n</html>\r\n"), 18u);
    std::remove(path);
}

TEST(ErrorPageDeathTest, OverlongDetailIsCutNotOverrun) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* path = "errorpage_long.tmp";
    std::remove(path);
    std::string longText(5000, 'w');
    EXPECT_EXIT(
        {
            CaptureStandardOutput(path);
            CGIObject o;
            o.ExitWithErrorPage("t", "h", "%s", longText.c_str());
        },
        ::testing::ExitedWithCode(1), "");
    std::string page = qbtest::ReadFileBytes(path);
    EXPECT_NE(page.find("<p>" + std::string(4099, 'w') + "</p>"), std::string::npos);
    std::remove(path);
}

}  // namespace
