// Encoding conversion: iconv on Linux, the Win32 code page functions on Windows.
#include "encoding.h"

#include <vector>

#ifdef _WIN32
#include <windows.h>

namespace {

std::wstring ToWide(const std::string& text, UINT codePage, DWORD flags, bool& ok) {
    ok = true;
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) {
        ok = false;
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string FromWide(const std::wstring& wide, UINT codePage, bool strict, bool& ok) {
    ok = true;
    if (wide.empty()) return std::string();
    BOOL usedDefault = FALSE;
    BOOL* used = strict ? &usedDefault : nullptr;
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, used);
    if (n <= 0 || usedDefault) {
        ok = false;
        return std::string();
    }
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

}  // namespace

std::string ShiftJisToUtf8(const std::string& text) {
    bool ok;
    std::wstring wide = ToWide(text, 932, MB_ERR_INVALID_CHARS, ok);
    if (!ok) {
        // Character by character: a byte that starts no character becomes U+FFFD and
        // the conversion goes on with the next byte, as with iconv.
        wide.clear();
        for (std::size_t i = 0; i < text.size();) {
            std::size_t width = IsDBCSLeadByteEx(932, static_cast<BYTE>(text[i])) && i + 1 < text.size() ? 2 : 1;
            std::wstring unit = ToWide(text.substr(i, width), 932, MB_ERR_INVALID_CHARS, ok);
            if (!ok || unit.empty()) {
                wide += L'\xFFFD';
                i += 1;
            } else {
                wide += unit;
                i += width;
            }
        }
    }
    return FromWide(wide, CP_UTF8, false, ok);
}

bool Utf8ToShiftJis(const std::string& text, std::string& out) {
    bool ok;
    std::wstring wide = ToWide(text, CP_UTF8, MB_ERR_INVALID_CHARS, ok);
    if (!ok) return false;
    std::string converted = FromWide(wide, 932, true, ok);
    if (!ok) return false;
    out = converted;
    return true;
}

#else
#include <cerrno>
#include <iconv.h>

namespace {

// Converts with iconv; `replace` puts U+FFFD for a byte that cannot be converted and
// goes on, otherwise the conversion fails.
bool Convert(const char* to, const char* from, const std::string& text, bool replace, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string result;
    std::vector<char> block(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = block.data();
        std::size_t outLeft = block.size();
        std::size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        result.append(block.data(), static_cast<std::size_t>(outPtr - block.data()));
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (!replace) {
            ok = false;
            break;
        }
        result += "\xEF\xBF\xBD";
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    if (ok) out = result;
    return ok;
}

}  // namespace

std::string ShiftJisToUtf8(const std::string& text) {
    std::string out;
    if (!Convert("UTF-8", "CP932", text, true, out)) return text;
    return out;
}

bool Utf8ToShiftJis(const std::string& text, std::string& out) {
    return Convert("CP932", "UTF-8", text, false, out);
}
#endif
