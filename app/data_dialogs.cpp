// The data window's dialogs: the codec's options of a data file (データファイルの設定),
// and the encodings the codec knows, Japanese ones first.
#include "data_window.h"

#include <cstdio>
#include <cstring>

#include "datacodec.h"
#include "modal_seam.h"
#include "rectypes.h"
#include "resource.h"
#include "textcodec.h"

using quillbox::BlankNumeric;
using quillbox::NativeOrder;
using quillbox::RecordFormat;

DataSetupState dataSetup;

namespace {

// The code pages of Japanese data first, then the rest as the codec lists them.
std::vector<std::string> KnownEncodings()
{
    static const char* const japanese[] = {"cp932", "ibm-930", "ibm-939", "ibm-1390", "ibm-1399"};
    std::vector<std::string> names(std::begin(japanese), std::end(japanese));
    std::string list = quillbox::TextCodec::Names();
    std::vector<std::string> listed;
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        std::string name = list.substr(start, comma - start);
        while (!name.empty() && name.front() == ' ')
            name.erase(0, 1);
        // "ibm-1141 to ibm-1149": every page of the range.
        size_t to = name.find(" to ");
        if (to != std::string::npos && name.compare(0, 4, "ibm-") == 0) {
            int first = std::atoi(name.c_str() + 4);
            int last = std::atoi(name.c_str() + to + 4 + 4);
            for (int page = first; page <= last && first > 0; ++page)
                listed.push_back("ibm-" + std::to_string(page));
        } else if (!name.empty()) {
            listed.push_back(name);
        }
        start = comma + 1;
    }
    for (const std::string& name : listed) {
        bool seen = false;
        for (const std::string& have : names)
            seen = seen || have == name;
        if (!seen)
            names.push_back(name);
    }
    return names;
}

const char* EncodingLabel(const std::string& name)
{
    if (name == "cp932") return "cp932 (Shift_JIS)";
    if (name == "ibm-930") return "ibm-930 (日本語EBCDIC カタカナ)";
    if (name == "ibm-939") return "ibm-939 (日本語EBCDIC 英小文字)";
    if (name == "ibm-1390") return "ibm-1390 (日本語EBCDIC カタカナ, ユーロ)";
    if (name == "ibm-1399") return "ibm-1399 (日本語EBCDIC 英小文字, ユーロ)";
    return nullptr;
}

void AddItems(HWND dialog, int id, const char* const* texts, int count, int chosen)
{
    for (int index = 0; index < count; ++index)
        SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[index]));
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, chosen, 0);
}

int Chosen(HWND dialog, int id)
{
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

std::string ItemText(HWND dialog, int id)
{
    int length = GetWindowTextLengthA(GetDlgItem(dialog, id));
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetDlgItemTextA(dialog, id, &text[0], length + 1);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Shift_JIS (the dialog's texts) to UTF-8 (the record-type rules' names and values).
std::string Utf8Of(const std::string& text)
{
    if (text.empty())
        return text;
    int wide = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring buffer(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), &buffer[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}

std::string ShiftJisOf(const std::string& text)
{
    if (text.empty())
        return text;
    int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring buffer(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &buffer[0], wide);
    int bytes = WideCharToMultiByte(932, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(932, 0, buffer.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}

void FillSetupDialog(HWND dialog)
{
    const quillbox::DataOptions& options = dataSetup.options;
    std::vector<std::string> encodings = KnownEncodings();
    int chosen = 0;
    for (size_t index = 0; index < encodings.size(); ++index) {
        const char* label = EncodingLabel(encodings[index]);
        SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(label ? label : encodings[index].c_str()));
        if (encodings[index] == quillbox::TextCodec::CanonicalName(options.encoding))
            chosen = static_cast<int>(index);
    }
    SendDlgItemMessageA(dialog, IDC_DS_ENCODING, CB_SETCURSEL, chosen, 0);

    static const char* const formats[] = {"固定長", "行", "RDW", "RDWブロック"};
    AddItems(dialog, IDC_DS_FORMAT, formats, 4, static_cast<int>(options.records));
    static const char* const orders[] = {"文字コードに従う", "ビッグエンディアン", "リトルエンディアン"};
    AddItems(dialog, IDC_DS_NATIVE, orders, 3, static_cast<int>(options.nativeOrder));
    static const char* const blanks[] = {"不正データ", "値なし (null)", "ゼロ"};
    AddItems(dialog, IDC_DS_BLANK, blanks, 3, static_cast<int>(options.blankNumeric));

    if (options.signZonesGiven) {
        char zones[32];
        std::snprintf(zones, sizeof zones, "0x%02X,0x%02X", options.positiveZone, options.negativeZone);
        SetDlgItemTextA(dialog, IDC_DS_SIGN_ZONES, zones);
    }
    std::string rules;
    for (const quillbox::RecordTypeRule& rule : options.recordTypes)
        rules += ShiftJisOf(rule.field + "=" + rule.value + ":" + rule.record) + "\r\n";
    SetDlgItemTextA(dialog, IDC_DS_RULES, rules.c_str());
    SetDlgItemTextA(dialog, IDC_DS_DEFAULT, ShiftJisOf(options.recordTypeDefault).c_str());
    EnableWindow(GetDlgItem(dialog, IDC_DS_RULES), dataSetup.severalRecords);
    EnableWindow(GetDlgItem(dialog, IDC_DS_DEFAULT), dataSetup.severalRecords);
    CheckDlgButton(dialog, IDC_DS_READ_ONLY, dataSetup.readOnly ? BST_CHECKED : BST_UNCHECKED);
}

// Reads the controls into dataSetup; false (after saying what is wrong) when a text is
// not understood, and the dialog stays.
bool ReadSetupDialog(HWND dialog)
{
    quillbox::DataOptions options = dataSetup.options;
    std::vector<std::string> encodings = KnownEncodings();
    int encoding = Chosen(dialog, IDC_DS_ENCODING);
    if (encoding >= 0 && encoding < static_cast<int>(encodings.size()))
        options.encoding = encodings[static_cast<size_t>(encoding)];
    int format = Chosen(dialog, IDC_DS_FORMAT);
    if (format >= 0)
        options.records = static_cast<RecordFormat>(format);
    int order = Chosen(dialog, IDC_DS_NATIVE);
    if (order >= 0)
        options.nativeOrder = static_cast<NativeOrder>(order);
    int blank = Chosen(dialog, IDC_DS_BLANK);
    if (blank >= 0)
        options.blankNumeric = static_cast<BlankNumeric>(blank);

    std::string zones = ItemText(dialog, IDC_DS_SIGN_ZONES);
    options.signZonesGiven = !zones.empty();
    if (zones.empty()) {
        options.positiveZone = quillbox::DataOptions().positiveZone;
        options.negativeZone = quillbox::DataOptions().negativeZone;
    } else if (!quillbox::ParseSignZones(zones, options.positiveZone, options.negativeZone)) {
        modalUi.messageBox(dialog, "符号ゾーンは「正,負」の2つの数 (0x.. または10進, 0から255) で指定してください。",
                           "データファイルの設定", MB_ICONWARNING);
        return false;
    }

    options.recordTypes.clear();
    options.recordTypeDefault.clear();
    if (dataSetup.severalRecords) {
        std::string rules = ItemText(dialog, IDC_DS_RULES);
        size_t start = 0;
        while (start <= rules.size()) {
            size_t end = rules.find('\n', start);
            if (end == std::string::npos)
                end = rules.size();
            std::string line = rules.substr(start, end - start);
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            if (!line.empty()) {
                quillbox::RecordTypeRule rule;
                if (!quillbox::ParseRecordTypeRule(Utf8Of(line), rule)) {
                    std::string message = "レコード種別の規則が読めません (項目=値:01レコード名):\n" + line;
                    modalUi.messageBox(dialog, message.c_str(), "データファイルの設定", MB_ICONWARNING);
                    return false;
                }
                options.recordTypes.push_back(rule);
            }
            start = end + 1;
        }
        options.recordTypeDefault = Utf8Of(ItemText(dialog, IDC_DS_DEFAULT));
    }
    dataSetup.options = options;
    dataSetup.readOnly = IsDlgButtonChecked(dialog, IDC_DS_READ_ONLY) == BST_CHECKED;
    return true;
}

}  // namespace

INT_PTR CALLBACK DataSetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        FillSetupDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            if (ReadSetupDialog(dialog))
                EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        break;
    }
    return FALSE;
}
