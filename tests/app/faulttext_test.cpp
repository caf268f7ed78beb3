// The data window's Japanese words for the codec's faults, from faults built by hand
// with the codec's English reasons: each kind a sentence of its own with what the
// reason names, settings named by the window's controls, no English left but names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "faulttext.h"

using quillbox::FaultCode;
using quillbox::FaultText;

namespace {

// Whether `text` holds an English word (three ASCII letters in a row) other than the
// names allowed in it.
bool HasEnglish(std::string text, std::initializer_list<const char*> names = {})
{
    for (const char* name : names)
        for (size_t at; (at = text.find(name)) != std::string::npos;)
            text.erase(at, std::char_traits<char>::length(name));
    int letters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {   // a Shift_JIS lead byte: its trail byte may look like a letter
            ++i;
            letters = 0;
            continue;
        }
        letters = std::isalpha(c) ? letters + 1 : 0;
        if (letters >= 3)
            return true;
    }
    return false;
}

}  // namespace

TEST(FaultText, TheIssuesReasonsInJapanese)
{
    struct {
        FaultCode code;
        const char* reason;
        const char* text;
    } cases[] = {
        // The detail pane's reasons.
        {FaultCode::kNotDigit, "display byte 0xF2 is not a digit", "数字でないバイトがあります (0xF2)"},
        {FaultCode::kTextDecode, "text does not convert from cp932", "文字コード cp932 から変換できない文字があります"},
        {FaultCode::kShortRecord, "short record: 16 of 357 bytes", "レコードが短すぎます (16 バイト、レイアウトは 357 バイト)"},
        // The edit refusals.
        {FaultCode::kNotNumber, "\"abc\" is not a decimal number", "\"abc\" は数値ではありません"},
        {FaultCode::kTooManyDigits, "123456 has more digits than the picture's 5", "123456 は桁数が多すぎます (PIC は 5 桁)"},
        {FaultCode::kTooManyDigits, "\"1234567\" has too many digits", "\"1234567\" は桁数が多すぎます"},
        {FaultCode::kTooManyDecimals, "\"1.5\" has more than 0 decimal places", "\"1.5\" は小数部の桁数が多すぎます (小数部は 0 桁まで)"},
        {FaultCode::kTextTooLong, "text of 42 bytes does not fit the item's 40", "文字列が長すぎます (42 バイト、項目は 40 バイト)"},
        // The scan's.
        {FaultCode::kFraming, "bad RDW: record of 3 bytes in a block with 1 bytes left",
         "RDW (レコード記述語) が正しくありません: レコード長 3 バイトがブロックの残り 1 バイトを超えます"},
        {FaultCode::kFraming, "bad RDW: bytes 3 and 4 are not zero (spanned records are not read)",
         "RDW (レコード記述語) が正しくありません: 3・4 バイト目が 0 ではありません。スパンレコードは読めません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(FaultText(c.code, c.reason), c.text);
    }
}

TEST(FaultText, ASettingIsNamedByTheWindowsControl)
{
    const std::string text = FaultText(
        FaultCode::kBlankNumeric, "numeric item is all spaces, no number (--blank-numeric null or zero reads it as empty or 0)");
    EXPECT_NE(text.find("「空白の数値項目」"), std::string::npos) << text;
    EXPECT_EQ(text.find("--blank-numeric"), std::string::npos) << text;
}

TEST(FaultText, APicNTextMustBeDoubleByte)
{
    const std::string text = FaultText(FaultCode::kNotDoubleByte,
                                       "\"ABC\" is not all double-byte (\xE5\x85\xA8\xE8\xA7\x92) characters, as a PIC N item must be");
    EXPECT_EQ(text.rfind("\"ABC\" は全角文字ではありません。", 0), 0u) << text;
    EXPECT_NE(text.find("全角 (2バイト) 文字"), std::string::npos) << text;
}

TEST(FaultText, EveryKindIsJapanese)
{
    for (int code = static_cast<int>(FaultCode::kOther); code <= static_cast<int>(FaultCode::kIo); ++code) {
        SCOPED_TRACE(quillbox::FaultCodeName(static_cast<FaultCode>(code)));
        const std::string text = FaultText(static_cast<FaultCode>(code), "a reason 0x41 of 12 \"x\"");
        ASSERT_FALSE(text.empty());
        EXPECT_NE(std::find_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }),
                  text.end())
            << text;
        // Only kOther, kFraming and kIo (whose reasons are no kind of their own) keep
        // the codec's words beside theirs.
        if (code != static_cast<int>(FaultCode::kOther) && code != static_cast<int>(FaultCode::kFraming) &&
            code != static_cast<int>(FaultCode::kIo)) {
            EXPECT_FALSE(HasEnglish(text, {"PIC", "OCCURS DEPENDING ON", "Shift_JIS"})) << text;
        }
    }
    // A reason of no known kind: said to be bad data, the codec's words beside.
    EXPECT_EQ(FaultText(FaultCode::kOther, "something new"), "正しくないデータです (something new)");
}

TEST(FaultText, OpenFailuresAndPlaces)
{
    EXPECT_EQ(quillbox::SetupFailureText("the copybook has no 01 record NOPE"),
              "コピー句に 01 レコード NOPE がありません。レコード種別の規則のレコード名を確かめてください。");
    EXPECT_EQ(quillbox::SetupFailureText("no record has a column HDR-REC-TYPE (--record-type HDR-REC-TYPE=H:HDR)"),
              "列 HDR-REC-TYPE を持つレコードがありません。レコード種別の規則の項目名を確かめてください。");
    const std::string cobol = quillbox::SetupFailureText(
        "record DTL-REC starts at byte 11, not at the record's first byte: record types need the COBOL rules (--cobol), "
        "which lay every 01 record over the same bytes");
    EXPECT_NE(cobol.find("DTL-REC"), std::string::npos) << cobol;
    EXPECT_NE(cobol.find("「COBOL標準構文で解析」"), std::string::npos) << cobol;
    EXPECT_EQ(cobol.find("--cobol"), std::string::npos) << cobol;
    EXPECT_EQ(quillbox::FaultPlace(3, "CUST-NO", 4, "X"), "レコード 3、項目 CUST-NO (位置 4): X");
    EXPECT_EQ(quillbox::FaultPlace(3, "", 0, "X"), "レコード 3: X");
}
