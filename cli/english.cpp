// The English of the analysis's Japanese messages.
#include "english.h"

#include <cstring>

namespace {

struct Said {
    const char* japanese;   // the message, or its start when `prefix`
    const char* english;
    bool prefix;            // the message goes on with a name or a number
};

// The messages a copybook's analysis refuses it with, most often met first.
const Said kSaid[] = {
    {"ファイルのオープンに失敗！！", "the file cannot be opened", false},
    {"オープンエラー", "the file cannot be opened", false},
    {"ファイルシーク失敗！！", "the file cannot be read", false},
    {"ファイルサイズ取得失敗！！(MAX:2GB)", "the file's size cannot be read (at most 2 GB)", false},
    {"ファイルが大きすぎます", "the file is too large (under 2 GB)", true},
    {"数値型は18桁まで", "a number has at most 18 digits under the default rules", false},
    {"2進項目は18桁までです。", "a binary item has at most 18 digits", false},
    {"数字項目の桁数は38桁までです。", "a numeric item has at most 38 digits", false},
    {"数値型が64ビットを超えるかもしれません。", "the number may not fit 64 bits", false},
    {"COPYメンバのファイルを開けません: ", "the COPY member's file cannot be opened: ", true},
    {"COPY が循環しています: ", "the COPY statements include each other: ", true},
    {"COPY の入れ子が深すぎます（32段まで）。", "COPY statements nested too deep (at most 32)", false},
    {"COPY 文がピリオドで終わっていません。", "the COPY statement does not end with a period", false},
    {"COPY のメンバ名がありません。", "the COPY statement names no member", false},
    {"レコード長が大きすぎます。", "the record is too long", false},
    {"PICTURE の繰返し数 (n) が正しくありません。", "a repeat count (n) of the PICTURE is wrong", false},
    {"PICTURE の文字列がありません。", "the PICTURE clause has no character string", false},
    {"PICTURE に使えない文字 '", "a character the PICTURE cannot have: '", true},
    {"PICTURE 句が二つあります。", "two PICTURE clauses", false},
    {"PICTURE に桁がありません。", "the PICTURE has no digit", false},
    {"PICTURE が長すぎます。", "the PICTURE is too long", false},
    {"基本項目に PICTURE 句がありません。", "an elementary item without a PICTURE clause", false},
    {"従属項目のある集団項目に PICTURE 句は書けません。", "a group item with subordinate items has no PICTURE clause", false},
    {"最後の記述項にピリオドがありません。", "the last entry does not end with a period", false},
    {"データ記述項はレベル番号で始めてください: ", "a data description entry starts with a level number: ", true},
    {"解釈できない語があります: ", "a word that cannot be read: ", true},
    {"レベル番号解析エラー", "a level number that cannot be read", false},
    {"文法エラー？？？", "a syntax error", false},
    {"データ型エラー", "a data type error", false},
    {"認識できないデータ型", "a data type that is not known", false},
    {"属性の組み合わせが不当", "clauses that do not go together", false},
    {"小数部指定不当", "a wrong decimal part", false},
    {"桁指定エラー", "a wrong number of digits", false},
    {"配列要素数不当", "a wrong number of occurrences", false},
    {"OCCURS の回数は1以上にしてください。", "OCCURS needs a count of 1 or more", false},
    {"OCCURS m TO n には DEPENDING ON が必要です。", "OCCURS m TO n needs DEPENDING ON", false},
    {"DEPENDING指定の配列はサポートしていません。", "tables with DEPENDING ON are not read by the default rules", true},
    {"文字定数の終わりの引用符がありません。", "a literal without its closing quote", false},
    {"COPY句として扱えない形式", "not the form of a copybook", false},
    {"コピー句ファイルがおかしい。", "the copybook file is not a copybook", false},
    {"固定形式の行ではありません", "not a fixed-format line (columns 1-6 a sequence number, 7 an indicator, "
                                   "8-72 the text); read a file that does not fit the columns as free format",
     true},
    {"メモリの確保に失敗しました。", "out of memory", false},
    {"メモリ確保失敗", "out of memory", true},
};

}  // namespace

std::string WithEnglish(const std::string& message) {
    std::string first = message.substr(0, message.find('\n'));
    std::string rest = message.substr(first.size());
    while (!first.empty() && (first.back() == '\r' || first.back() == ' ')) first.pop_back();
    for (const Said& said : kSaid) {
        const size_t length = std::strlen(said.japanese);
        if (said.prefix ? first.compare(0, length, said.japanese) != 0 : first != said.japanese) continue;
        std::string english = said.english;
        // The name or number after the Japanese goes after the English too.
        if (said.prefix && (english.back() == ' ' || english.back() == '\'')) english += first.substr(length);
        return first + " (" + english + ")" + rest;
    }
    // The COPY member messages name the member in the middle.
    const std::string member = "COPYメンバ ";
    if (first.compare(0, member.size(), member) == 0) {
        const size_t end = first.find(' ', member.size());
        const std::string name = first.substr(member.size(), end - member.size());
        if (first.find("が見つかりません", member.size()) != std::string::npos) {
            return first + " (COPY member " + name + " not found)" + rest;
        }
        if (first.find("はファイルではなくフォルダです", member.size()) != std::string::npos) {
            return first + " (COPY member " + name + " is a folder, not a file)" + rest;
        }
    }
    return message;
}
