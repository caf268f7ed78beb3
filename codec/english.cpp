// The English of the copybook analysis's Japanese messages.
#include "english.h"

#include <cstring>

namespace quillbox {
namespace {

// A message's Japanese form ("%" where it holds a name or a number) and its English
// ("%1", "%2" ... for those, in the Japanese order). The first form that matches is
// taken: a form that others contain comes after them.
struct Said {
    const char* japanese;
    const char* english;
};

const Said kSaid[] = {
    // Files.
    {"ファイルのオープンに失敗！！", "the file cannot be opened"},
    {"オープンエラー", "the file cannot be opened"},
    {"オープンモードエラー", "a wrong open mode"},
    {"ファイルシーク失敗！！", "the file cannot be read"},
    {"ファイルサイズ取得失敗！！(MAX:2GB)", "the file's size cannot be read (at most 2 GB)"},
    {"ファイルが大きすぎます（2GB 未満まで）。", "the file is too large (under 2 GB)"},
    {"コピー句ファイルがおかしい。", "the copybook file is not a copybook"},
    {"データファイルがオープンされていない。", "no data file is open"},
    {"COPY句として扱えない形式", "not the form of a copybook"},
    // COPY statements and the source text.
    {"COPYメンバのファイルを開けません: %", "the COPY member's file cannot be opened: %1"},
    {"COPYメンバのファイルが大きすぎます（2GB 未満まで）: %", "the COPY member's file is too large (under 2 GB): %1"},
    {"COPYメンバ % はファイルではなくフォルダです: %", "COPY member %1 is a folder, not a file: %2"},
    {"COPYメンバ % はファイルではなく装置などです: %", "COPY member %1 is a device or the like, not a file: %2"},
    {"COPYメンバ % が見つかりません。", "COPY member %1 not found"},
    {"COPY が循環しています: %", "the COPY statements include each other: %1"},
    {"COPY の入れ子が深すぎます（32段まで）。", "COPY statements nested too deep (at most 32)"},
    {"COPY 文がピリオドで終わっていません。", "the COPY statement does not end with a period"},
    {"COPY のメンバ名がありません。", "the COPY statement names no member"},
    {"COPY の REPLACING の書き方が正しくありません。", "the REPLACING of a COPY statement is not written right"},
    {"COPY の REPLACING に BY がありません。", "the REPLACING of a COPY statement has no BY"},
    {"REPLACING の == が閉じられていません。", "a == of REPLACING is not closed"},
    {"REPLACING の置き換え元が空です。", "a REPLACING has nothing to replace"},
    {"LEADING/TRAILING の置き換えは1語どうしで書いてください。", "LEADING/TRAILING replaces one word by one word"},
    {"原始テキストが大きすぎます（COPY メンバと REPLACING の結果を含めて % 語まで）。",
     "the source text is too large (at most %1 words, COPY members and REPLACING included)"},
    {"固定形式の行ではありません（1-6桁目は一連番号、7桁目は標識 * / - D、8-72桁目が本文です）。"
     "桁に合わない原始ファイルは自由形式で読んでください。",
     "not a fixed-format line (columns 1-6 a sequence number, 7 an indicator, 8-72 the text); read a file "
     "that does not fit the columns as free format"},
    {"1-6桁目に本文があるため自由形式として読みました。", "read as free format: columns 1-6 hold text"},
    {"継続行の文字定数は引用符で始めてください。", "a literal on a continuation line starts with a quote"},
    {"文字定数の終わりの引用符がありません。", "a literal without its closing quote"},
    {"EXEC に対応する END-EXEC がありません。", "EXEC without its END-EXEC"},
    {"最後の記述項にピリオドがありません。", "the last entry does not end with a period"},
    // Entries and clauses.
    {"データ記述項はレベル番号で始めてください: %", "a data description entry starts with a level number: %1"},
    {"レベル番号 % は使えません（01-49, 66, 77, 88）。", "level number %1 is not one of 01-49, 66, 77 and 88"},
    {"レベル番号解析エラー", "a level number that cannot be read"},
    {"レベル % の項目には名前が必要です。", "an item of level %1 needs a name"},
    {"レベル % の項目に OCCURS は書けません。", "an item of level %1 cannot have OCCURS"},
    {"レベル88の項目の前に条件変数がありません。", "a level-88 item without a conditional variable before it"},
    {"レベル66の項目の前にレコードがありません。", "a level-66 item without a record before it"},
    {"レベル77の項目の下に従属項目は置けません。", "a level-77 item cannot have subordinate items"},
    {"レベル88の項目には VALUE が必要です。", "a level-88 item needs VALUE"},
    {"レベル66の項目には RENAMES が必要です。", "a level-66 item needs RENAMES"},
    {"レベル01と77の項目は RENAMES できません。", "level-01 and level-77 items cannot be renamed"},
    {"解釈できない語があります: %", "a word that cannot be read: %1"},
    {"文法エラー？？？", "a syntax error"},
    {"項目名なし！！", "an item without a name"},
    {"基本項目に PICTURE 句がありません。", "an elementary item without a PICTURE clause"},
    {"従属項目のある集団項目に PICTURE 句は書けません。", "a group item with subordinate items has no PICTURE clause"},
    {"PICTURE 句が二つあります。", "two PICTURE clauses"},
    {"PICTURE の文字列がありません。", "the PICTURE clause has no character string"},
    {"PICTURE に使えない文字 '%' があります。", "a character the PICTURE cannot have: '%1'"},
    {"PICTURE の繰返し数 (n) が正しくありません。", "a repeat count (n) of the PICTURE is wrong"},
    {"PICTURE に小数点が二つあります。", "the PICTURE has two decimal points"},
    {"PICTURE の S は先頭に一つだけ書けます。", "the PICTURE has one S at most, at its start"},
    {"PICTURE の CR と DB は末尾に一つだけ書けます。", "the PICTURE has one CR or DB at most, at its end"},
    {"PICTURE が長すぎます。", "the PICTURE is too long"},
    {"PICTURE に桁がありません。", "the PICTURE has no digit"},
    {"数字項目の桁数は38桁までです。", "a numeric item has at most 38 digits"},
    {"数値型は18桁まで", "a number has at most 18 digits under the default rules"},
    {"2進項目は18桁までです。", "a binary item has at most 18 digits"},
    {"数値型が64ビットを超えるかもしれません。", "the number may not fit 64 bits"},
    {"桁指定エラー", "a wrong number of digits"},
    {"小数部指定不当", "a wrong decimal part"},
    {"データ型エラー", "a data type error"},
    {"認識できないデータ型", "a data type that is not known"},
    {"属性の組み合わせが不当", "clauses that do not go together"},
    {"COMP系属性にできない形式", "a PICTURE that cannot be COMP"},
    {"項目 % のUSAGE 句が重複しています（duplicate USAGE clause）。後の % を採ります。",
     "item %1 has two USAGE clauses; the later one, %2, is taken"},
    {"USAGE 句が重複しています（duplicate USAGE clause）。後の % を採ります。",
     "two USAGE clauses; the later one, %1, is taken"},
    {"USAGE % は数字項目（9 S V P だけの PICTURE）にだけ使えます: %",
     "USAGE %1 is only for numeric items (a PICTURE of 9, S, V and P only): %2"},
    {"USAGE % の項目に PICTURE 句は書けません。", "an item of USAGE %1 has no PICTURE clause"},
    {"USAGE % は使えません。", "USAGE %1 is not known"},
    {"USAGE NATIONAL の項目の PICTURE は N か数字にしてください: %", "the PICTURE of a USAGE NATIONAL item is N or digits: %1"},
    {"USAGE DISPLAY-1 の項目の PICTURE は G か N にしてください: %", "the PICTURE of a USAGE DISPLAY-1 item is G or N: %1"},
    {"USAGE COMP-X の PICTURE は 9 か X にしてください: %", "the PICTURE of a USAGE COMP-X item is 9 or X: %1"},
    {"USAGE BIT の項目の PICTURE は 1 にしてください: %", "the PICTURE of a USAGE BIT item is 1: %1"},
    {"COMP-X の項目 % の大きさを % バイトとしました。", "the COMP-X item %1 is taken as %2 bytes"},
    {"SIGN 句は USAGE DISPLAY か NATIONAL の項目にだけ書けます。", "the SIGN clause is only for USAGE DISPLAY or NATIONAL items"},
    {"SIGN 句は S のある数字項目にだけ書けます。", "the SIGN clause is only for numeric items with S"},
    {"SIGN の後に LEADING か TRAILING を書いてください。", "SIGN is followed by LEADING or TRAILING"},
    {"BLANK WHEN の後に ZERO を書いてください。", "BLANK WHEN is followed by ZERO"},
    {"GROUP-USAGE の後に NATIONAL を書いてください。", "GROUP-USAGE is followed by NATIONAL"},
    {"VALUE の後に定数がありません。", "no literal after VALUE"},
    {"WHEN SET TO FALSE の書き方が正しくありません。", "WHEN SET TO FALSE is not written right"},
    {"この項目に REDEFINES は書けません。", "this item cannot have REDEFINES"},
    {"REDEFINES の対象 % は直前の同じレベルの項目ではありません。",
     "%1, which REDEFINES names, is not the item of the same level just before"},
    {"REDEFINES項目がおかしい・・・？", "a REDEFINES item that cannot be placed"},
    {"共有領域項目名なし", "REDEFINES names no item"},
    {"共有領域項目名誤り", "the item REDEFINES names is not there"},
    {"OCCURS が一つの記述項に二つあります。", "two OCCURS clauses in one entry"},
    {"OCCURS の最大回数が最小回数より小さくなっています。", "the most occurrences of OCCURS are fewer than the least"},
    {"OCCURS の回数は1以上にしてください。", "OCCURS needs a count of 1 or more"},
    {"OCCURS ... DEPENDING ON の最大回数 % は上限 % を超えています。",
     "the most occurrences of OCCURS ... DEPENDING ON, %1, are beyond the limit of %2"},
    {"OCCURS m TO n には DEPENDING ON が必要です。", "OCCURS m TO n needs DEPENDING ON"},
    {"OCCURS の項目 % は RENAMES の範囲の端にできません。", "the OCCURS item %1 cannot begin or end a RENAMES range"},
    {"DEPENDING ON の項目 % がありません。", "the DEPENDING ON item %1 is not there"},
    {"DEPENDING指定の配列はサポートしていません。", "tables with DEPENDING ON are not read by the default rules"},
    {"配列要素数不当", "a wrong number of occurrences"},
    {"配列を展開した項目数が上限の % を超えます。", "the tables expanded make more items than the limit of %1"},
    {"表 % の一部は RENAMES できません。", "part of the table %1 cannot be renamed"},
    {"RENAMES はレベル66の項目にだけ書けます。", "RENAMES is only for level-66 items"},
    {"RENAMES の対象 % がこのレコードにありません。", "%1, which RENAMES names, is not in this record"},
    {"THRU の項目 % がこのレコードにありません。", "%1, which THRU names, is not in this record"},
    {"THRU の項目 % が % より前にあります。", "%1, which THRU names, comes before %2"},
    {"RENAMES の範囲に OCCURS DEPENDING の表 % は含められません。", "a RENAMES range cannot hold the OCCURS DEPENDING table %1"},
    {"% は正の整数で書いてください: %", "%1 is a positive whole number: %2"},
    {"% は項目数の上限 8,388,608 を超えています。", "%1 is beyond the limit of 8,388,608 items"},
    // The record and its items.
    {"レコード長が大きすぎます。", "the record is too long"},
    {"項目がレコードの範囲外です。", "the item lies beyond the record"},
    {"項目が見つかりません！！", "no such item"},
    {"項目が見つかりません！", "no such item"},
    {"項目がありません！", "no such item"},
    {"インデックスオーバー！！", "the index is out of range"},
    {"インデックスオーバー", "the index is out of range"},
    {"インデックス値不当", "a wrong index"},
    {"キー名長過ぎ", "the key name is too long"},
    {"データ型が正しくない。", "the wrong data type"},
    {"日本語項目に半角文字は設定できない。", "a Japanese item cannot take single-byte characters"},
    {"Shift-JIS日本語項目に半角文字は設定できない。", "a Shift-JIS Japanese item cannot take single-byte characters"},
    {"2進数文字でない", "not a binary digit"},
    {"ビット型ではない", "not a bit item"},
    {"バッファサイズ少な杉", "the buffer is too small"},
    {"文字列切り出し用領域サイズエラー", "the text buffer is too small"},
    // Names.
    {"名前に NUL 文字（0x00）があります。", "the name holds a NUL character (0x00)"},
    {"名前に制御文字があります。", "the name holds a control character"},
    {"名前に \"/\" や \"\\\" は使えません。", "a name cannot hold \"/\" or \"\\\""},
    {"名前に \"..\" は使えません。", "a name cannot hold \"..\""},
    // Memory and the analysis itself.
    {"メモリの確保に失敗しました。", "out of memory"},
    {"メモリ確保失敗！！", "out of memory"},
    {"メモリ確保失敗", "out of memory"},
    {"おそらくメモリ関係の例外。", "probably out of memory"},
    {"既にリストにあるノードを追加しようとしました。", "an item was added to the list twice (an internal error)"},
    {"解析ステージ不当", "a wrong analysis stage (an internal error)"},
    // Last: a word the entry lacks (the word's own name is one of kWhat's).
    {"% がありません。", "%1 is missing"},
};

// The names of the words an entry may lack or get wrong, as the messages above hold them.
const Said kWhat[] = {
    {"USAGE の種類", "the kind of USAGE"},
    {"REDEFINES の対象の名前", "the name REDEFINES refers to"},
    {"修飾の名前", "the qualifying name"},
    {"OCCURS の最大回数", "the most occurrences of OCCURS"},
    {"OCCURS の回数", "the count of OCCURS"},
    {"DEPENDING ON の項目名", "the item name after DEPENDING ON"},
    {"RENAMES の対象の名前", "the name RENAMES refers to"},
    {"THRU の後の名前", "the name after THRU"},
};

// A name or number the message holds, with a word of kWhat at its start said in English.
std::string Held(const std::string& text) {
    for (const Said& what : kWhat) {
        const size_t length = std::strlen(what.japanese);
        if (text.compare(0, length, what.japanese) == 0) return what.english + text.substr(length);
    }
    return text;
}

// Whether `line` has the form `japanese`; the texts in place of its "%" into `held`.
bool Matches(const std::string& line, const char* japanese, std::vector<std::string>& held) {
    held.clear();
    std::vector<std::string> pieces;
    std::string piece;
    for (const char* p = japanese; *p != '\0'; ++p) {
        if (*p == '%') {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += *p;
        }
    }
    pieces.push_back(piece);
    if (line.compare(0, pieces[0].size(), pieces[0]) != 0) return false;
    size_t at = pieces[0].size();
    for (size_t i = 1; i < pieces.size(); ++i) {
        const std::string& next = pieces[i];
        size_t found;
        if (i + 1 == pieces.size()) {
            // The last piece ends the line.
            if (line.size() < at + next.size()) return false;
            found = line.size() - next.size();
            if (line.compare(found, next.size(), next) != 0) return false;
        } else {
            found = next.empty() ? std::string::npos : line.find(next, at);
            if (found == std::string::npos) return false;
        }
        if (found == at) return false;   // a name or number is never empty
        held.push_back(line.substr(at, found - at));
        at = found + next.size();
    }
    return pieces.size() > 1 || line.size() == pieces[0].size();
}

bool HasJapanese(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return true;
    return false;
}

std::string FirstLine(const std::string& message) {
    std::string first = message.substr(0, message.find('\n'));
    while (!first.empty() && (first.back() == '\r' || first.back() == ' ')) first.pop_back();
    return first;
}

}  // namespace

std::string EnglishOf(const std::string& message) {
    const std::string line = FirstLine(message);
    if (!HasJapanese(line)) return std::string();
    std::vector<std::string> held;
    for (const Said& said : kSaid) {
        if (!Matches(line, said.japanese, held)) continue;
        std::string english;
        for (const char* p = said.english; *p != '\0'; ++p) {
            if (*p == '%' && p[1] >= '1' && p[1] <= '9' && static_cast<size_t>(p[1] - '1') < held.size()) {
                english += Held(held[static_cast<size_t>(p[1] - '1')]);
                ++p;
            } else {
                english += *p;
            }
        }
        return english;
    }
    return std::string();
}

std::string WithEnglish(const std::string& message) {
    const std::string english = EnglishOf(message);
    if (english.empty()) return message;
    const std::string first = FirstLine(message);
    const size_t end = message.find('\n');
    const std::string rest = end == std::string::npos ? std::string() : message.substr(end);
    return first + " (" + english + ")" + rest;
}

std::vector<std::string> KnownJapaneseForms() {
    std::vector<std::string> forms;
    for (const Said& said : kSaid) forms.emplace_back(said.japanese);
    for (const Said& what : kWhat) forms.emplace_back(what.japanese);
    return forms;
}

}  // namespace quillbox
