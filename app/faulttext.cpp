#include "faulttext.h"

#include <cctype>
#include <vector>

#include "textcodec.h"

namespace quillbox {

namespace {

// The parts of an English reason that a Japanese sentence can name again.
struct ReasonParts {
    std::string hex;                    // the first byte written as 0xNN
    std::string quoted;                 // the first "..." (the value given), quotes kept
    std::vector<std::string> numbers;   // the plain numbers, in order (not those inside the quotes or a 0xNN)
    std::string lastWord;               // the last word (a code page, a record name)
};

ReasonParts PartsOf(const std::string& reason) {
    ReasonParts parts;
    const size_t n = reason.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(reason[i]);
        if (c == '"') {
            size_t end = reason.find('"', i + 1);
            if (end == std::string::npos) end = n - 1;
            if (parts.quoted.empty()) parts.quoted = reason.substr(i, end - i + 1);
            i = end + 1;
        } else if (c == '0' && i + 3 < n && (reason[i + 1] == 'x' || reason[i + 1] == 'X') &&
                   std::isxdigit(static_cast<unsigned char>(reason[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(reason[i + 3]))) {
            size_t end = i + 2;
            while (end < n && std::isxdigit(static_cast<unsigned char>(reason[end]))) ++end;
            if (parts.hex.empty()) parts.hex = reason.substr(i, end - i);
            i = end;
        } else if (std::isdigit(c) && (i == 0 || !std::isalnum(static_cast<unsigned char>(reason[i - 1])))) {
            size_t end = i;
            while (end < n && std::isdigit(static_cast<unsigned char>(reason[end]))) ++end;
            if (end == n || !std::isalpha(static_cast<unsigned char>(reason[end])))
                parts.numbers.push_back(reason.substr(i, end - i));
            i = end;
        } else {
            ++i;
        }
    }
    size_t end = reason.find_last_not_of(" .)");
    if (end != std::string::npos) {
        size_t begin = reason.find_last_of(" (", end);
        parts.lastWord = reason.substr(begin == std::string::npos ? 0 : begin + 1, end + 1 - (begin == std::string::npos ? 0 : begin + 1));
    }
    return parts;
}

// The codec's words (UTF-8) as the window's Shift_JIS; left as they are when they do
// not convert.
std::string Sjis(const std::string& utf8) {
    std::string out;
    return Utf8ToShiftJis(utf8, out) ? out : utf8;
}

// " (WHAT)" when `what` is not empty.
std::string Paren(const std::string& what) { return what.empty() ? std::string() : " (" + what + ")"; }

// A file's framing that cannot be read on: the descriptor words of RDW files, or lines.
std::string FramingText(const std::string& reason, const ReasonParts& parts) {
    auto has = [&](const char* words) { return reason.find(words) != std::string::npos; };
    const std::string first = parts.numbers.empty() ? std::string() : parts.numbers[0];
    const std::string second = parts.numbers.size() > 1 ? parts.numbers[1] : std::string();
    std::string what;
    if (has("bad RDW"))
        what = "RDW (レコード記述語) が正しくありません";
    else if (has("bad BDW"))
        what = "BDW (ブロック記述語) が正しくありません";
    else if (has("a line of more than"))
        return first + " バイトを超えても改行がありません。行単位のテキストファイルではないようです";
    else
        return "レコードの区切りが正しくありません (" + Sjis(reason) + ")";
    std::string detail;
    if (has("bytes 3 and 4 are not zero"))
        detail = "3・4 バイト目が 0 ではありません。スパンレコードは読めません";
    else if (has("in a block with"))
        detail = "レコード長 " + first + " バイトがブロックの残り " + second + " バイトを超えます";
    else if (has("cut by the end of the file"))
        detail = "レコード長 " + first + " バイトの途中でファイルが終わります";
    else if (has("where a descriptor word belongs") || has("at the end of the file"))
        detail = "ファイルの終わりに " + first + " バイトだけ残っています";
    else if (has("block length"))
        detail = "ブロック長 " + first + " バイト";
    else if (has("record length"))
        detail = "レコード長 " + first + " バイト";
    return what + (detail.empty() ? std::string() : ": " + detail);
}

}  // namespace

std::string FaultText(FaultCode code, const std::string& reason) {
    const ReasonParts parts = PartsOf(reason);
    const std::string hex = parts.hex;
    const std::string quoted = Sjis(parts.quoted);
    auto number = [&](size_t k) { return k < parts.numbers.size() ? parts.numbers[k] : std::string(); };
    switch (code) {
    case FaultCode::kNotDigit:
        return "数字でないバイトがあります" + Paren(hex);
    case FaultCode::kSignZone:
        return "ゾーン10進数の符号が正しくありません" + Paren(hex);
    case FaultCode::kSignByte:
        return "符号のバイトが + でも - でもありません" + Paren(hex);
    case FaultCode::kPackedNibble:
        return "パック10進数に数字でない桁があります" + Paren(hex);
    case FaultCode::kPackedSign:
        return "パック10進数の符号が正しくありません" + Paren(hex);
    case FaultCode::kUnsignedNegative:
        return "符号なしの項目に負の値があります" + Paren(quoted);
    case FaultCode::kBlankNumeric:
        return "数値項目が空白です (「空白の数値項目」の設定で、空または 0 として読めます)";
    case FaultCode::kBadBits:
        return "ビット項目の値が正しくありません" + Paren(hex);
    case FaultCode::kTextDecode:
        return "文字コード " + Sjis(parts.lastWord) + " から変換できない文字があります";
    case FaultCode::kTextForm:
        return "Shift_JIS で表せない文字があります";
    case FaultCode::kOverflow:
        return "値が大きすぎて入りません" + Paren(quoted);
    case FaultCode::kNotNumber:
        return (quoted.empty() ? std::string("値") : quoted + " ") + "は数値ではありません";
    case FaultCode::kTooManyDigits: {
        // "123456 has more digits than the picture's 5", "\"1234567\" has too many digits",
        // "packed value has more digits than the picture's 5"
        std::string value = !quoted.empty() ? quoted + " " : parts.numbers.size() > 1 ? number(0) + " " : "値";
        return value + "は桁数が多すぎます" + (parts.numbers.empty() ? std::string() : " (PIC は " + parts.numbers.back() + " 桁)");
    }
    case FaultCode::kTooManyDecimals:
        return (quoted.empty() ? std::string("値") : quoted + " ") + "は小数部の桁数が多すぎます" +
               (parts.numbers.empty() ? std::string() : " (小数部は " + parts.numbers.back() + " 桁まで)");
    case FaultCode::kTextTooLong:
        if (parts.numbers.size() >= 2)
            return "文字列が長すぎます (" + number(0) + " バイト、項目は " + number(1) + " バイト)";
        return "文字列が項目に入りません";
    case FaultCode::kTextEncode:
        return (quoted.empty() ? std::string("文字列") : quoted + " ") + "は文字コード " + Sjis(parts.lastWord) +
               " に変換できません";
    case FaultCode::kNotDoubleByte:
        return (quoted.empty() ? std::string("文字列") : quoted + " ") +
               "は全角文字ではありません。日本語項目 (PIC N) には全角 (2バイト) 文字で入力してください";
    case FaultCode::kShortRecord:
        if (parts.numbers.size() >= 2)
            return "レコードが短すぎます (" + number(0) + " バイト、レイアウトは " + number(1) + " バイト)";
        return "レコードがレイアウトより短すぎます";
    case FaultCode::kRecordLength:
        if (parts.numbers.size() >= 2)
            return "レコード長がレイアウトと合いません (" + number(0) + " バイト、レイアウトは " + number(1) + " バイト)";
        return "レコード長がレイアウトと合いません";
    case FaultCode::kCounterRange:
        return "OCCURS DEPENDING ON の個数が範囲外です" + Paren(number(0));
    case FaultCode::kRecordType:
        return "どのレコード種別にも当たらないレコードです" + Paren(quoted);
    case FaultCode::kBadRow:
        return "行を読めません";
    case FaultCode::kFraming:
        return FramingText(reason, parts);
    case FaultCode::kIo:
        return "ファイルを読み書きできません (" + Sjis(reason) + ")";
    case FaultCode::kOther:
        break;
    }
    return "正しくないデータです (" + Sjis(reason) + ")";
}

std::string SetupFailureText(const std::string& reason) {
    auto after = [&](const std::string& start) {
        return reason.compare(0, start.size(), start) == 0 ? Sjis(reason.substr(start.size())) : std::string();
    };
    std::string rest;
    if (!(rest = after("the copybook has no 01 record ")).empty())
        return "コピー句に 01 レコード " + rest + " がありません。レコード種別の規則のレコード名を確かめてください。";
    if (!(rest = after("no record has a column ")).empty()) {
        const std::string column = rest.substr(0, rest.find(' '));
        return "列 " + column + " を持つレコードがありません。レコード種別の規則の項目名を確かめてください。";
    }
    if (reason == "the copybook describes no record") return "コピー句にレコードがありません。";
    if (!(rest = after("record ")).empty() && reason.find("need the COBOL rules") != std::string::npos) {
        const std::string record = rest.substr(0, rest.find(' '));
        return "01 レコード " + record +
               " がレコードの先頭から始まりません。レコード種別を使うには、設定メニューの「COBOL標準構文で解析」をオンにしてください。";
    }
    return "この設定ではデータファイルを開けません (" + Sjis(reason) + ")。";
}

std::string FaultPlace(long long record, const std::string& item, long long offset, const std::string& text) {
    std::string place = "レコード " + std::to_string(record);
    if (!item.empty()) place += "、項目 " + item + " (位置 " + std::to_string(offset) + ")";
    return place + ": " + text;
}

}  // namespace quillbox
