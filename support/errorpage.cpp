// The error pages of the support library: an HTML document in Shift_JIS written to
// standard output after a "Content-Type" header, after which the process ends.
// Standard output is written with the text-mode rule (every line feed as CR LF) on
// every platform. The texts shown are plain texts: the characters that HTML reads as
// markup are written as entities, so a message cannot change the page. (Shift_JIS
// trail bytes never fall on those characters, so the byte-wise escape is safe.)
#include "cgiclib.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Standard output in binary mode, so that the text-mode helper alone decides the bytes.
void PrepareStandardOutput() {
    std::fflush(stdout);
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

void WriteEscaped(const char* text) {
    if (text == nullptr) return;
    const char* from = text;
    for (const char* p = text; *p != '\0'; ++p) {
        const char* entity = nullptr;
        switch (*p) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            default: break;
        }
        if (entity == nullptr) continue;
        WriteText(stdout, from, static_cast<std::size_t>(p - from));
        WriteText(stdout, entity);
        from = p + 1;
    }
    WriteText(stdout, from);
}

void WritePageHead(const char* title, const char* heading) {
    WriteText(stdout,
              "Content-Type: text/html\n"
              "\n"
              "<html>\n"
              "<head>\n"
              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\n"
              "<title>");
    WriteEscaped(title);
    WriteText(stdout, "</title>\n</head>\n<body>\n<h1>");
    WriteEscaped(heading);
    WriteText(stdout, "</h1>\n");
}

[[noreturn]] void EndPage(int status) {
    WriteText(stdout, "</body>\n</html>\n");
    std::fflush(stdout);
    std::exit(status);
}

}  // namespace

CGIObject::~CGIObject() {}

void CGIObject::ExitWithErrorPage(const char* title, const char* heading, const char* format, ...) {
    // The detail text: at most 4099 bytes; a longer one is cut.
    char detail[4100];
    detail[0] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(detail, sizeof detail, format, args);
        va_end(args);
    }
    PrepareStandardOutput();
    WritePageHead(title, heading);
    WriteText(stdout, "<p>");
    WriteEscaped(detail);
    WriteText(stdout, "</p>\n");
    EndPage(1);
}

void CGIException::ExitWithReport() {
    PrepareStandardOutput();
    WritePageHead("CGI 例外発生", "例外が発生しました");
    WriteText(stdout, "<table border=\"1\">\n<caption>例外情報</caption>\n<tr><td>");
    WriteEscaped(exceptionName);
    WriteText(stdout, "</td></tr>\n<tr><td>");
    WriteEscaped(messageText.GetText());
    WriteText(stdout, "</td></tr>\n<tr><td>");
    WriteEscaped(location.GetText());
    WriteText(stdout, "</td></tr>\n</table>\n");
    EndPage(2);
}
