// The data window: a virtual list view of a data file's records (rows decoded on
// demand by the DataDocument), the record detail below it, a status bar, the scan of
// variable records in timer slices, go to, find, filter, export, copy, edit and save.
#include "data_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>

#include "cobolrules.h"
#include "datacodec.h"
#include "desktop.h"
#include "modal_seam.h"
#include "rectypes.h"
#include "resource.h"

using quillbox::DataDocument;
using quillbox::DataOptions;
using quillbox::DataRowSet;

namespace {

const char* const DATA_CAPTION = "データファイル";
const UINT_PTR SCAN_TIMER = 1;
const uint64_t SCAN_SLICE_BYTES = 4u << 20;   // a slice of the scan
const DWORD SCAN_TICK_MS = 40;                 // a timer tick's time for the scan
const int FIRST_PAGE_ROWS = 40;               // rows measured for the column widths
const int MAX_COLUMN_WIDTH = 360;
const long long MAX_COPIED_ROWS = 100000;     // rows the clipboard takes at once
const UINT WM_DATA_SCAN_STOPPED = WM_APP + 1;  // posted once when the scan stops on bad framing

enum StatusPart { PART_RECORDS, PART_BAD, PART_FILTER, PART_EDITS, PART_COUNT };
enum ExportScope { SCOPE_ALL, SCOPE_SHOWN, SCOPE_SELECTED };

struct DataWindowState {
    HWND window = nullptr, list = nullptr, detail = nullptr, status = nullptr, editor = nullptr;
    HFONT font = nullptr;
    std::unique_ptr<CopyAnalyzer> analyzer;
    DataDocument document;
    std::string copybookPath, dataPath;
    DataOptions options;
    bool filtered = false;
    DataRowSet filter;
    // The list's selected positions. The window keeps them and the list asks for them
    // (its callback mask): a list view keeps its own selection by walking every row to
    // clear or extend it, seconds on a file of millions of records, where these
    // stretches take a step each.
    quillbox::DataRowRanges selected;
    ExportScope scope = SCOPE_ALL;
    std::string findText;
    int findColumn = -1;
    long long editRow = -1;
    size_t editColumn = 0;
    std::string editStart;   // the editor's text when it opened
    std::string cellText;   // LVN_GETDISPINFO's text stays valid until the next one
    uint64_t scanned = 0;   // bytes of the file the scan has passed
    long long badShown = 0; // the bad rows the status bar counts
    // The cell cursor: the list's column (1 = the first of the document's) of the focused
    // row that F2 and Enter edit; Left and Right move it, a click puts it.
    int cursorColumn = 1;
    bool scanStopTold = false;   // the message box of a scan that stopped was shown
    bool busy = false;      // a long run pumps messages: no command, scan or close meanwhile
};

std::vector<DataWindowState*> openWindows;
std::map<std::string, DataSetupState> rememberedSetup;   // per copybook, for the session
HACCEL dataAccelerators = nullptr;
WNDPROC editorProcedure = nullptr;
WNDPROC listProcedure = nullptr;

DataWindowState* StateOf(HWND window)
{
    return reinterpret_cast<DataWindowState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

long long ShownRows(const DataWindowState& state)
{
    return state.filtered ? state.filter.Count() : state.document.RecordCount();
}

// The list view's item count: its rows, at most what a list view can hold.
WPARAM ListCount(const DataWindowState& state)
{
    return static_cast<WPARAM>(std::min<long long>(ShownRows(state), 0x7FFFFFFF));
}

long long RowAt(const DataWindowState& state, long long position)
{
    if (position < 0)
        return -1;
    if (state.filtered)
        return state.filter.At(position);
    return position < state.document.RecordCount() ? position : -1;
}

// The list position of document row `row`, -1 when it is not shown.
long long PositionOf(const DataWindowState& state, long long row)
{
    if (!state.filtered)
        return row < state.document.RecordCount() ? row : -1;
    if (!state.filter.Contains(row))
        return -1;
    long long low = 0, high = state.filter.Count() - 1;
    while (low <= high) {
        long long middle = (low + high) / 2;
        long long at = state.filter.At(middle);
        if (at == row)
            return middle;
        if (at < row)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

void SetPart(DataWindowState& state, int part, const std::string& text)
{
    SendMessageA(state.status, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text.c_str()));
}

void UpdateStatus(DataWindowState& state)
{
    const DataDocument& document = state.document;
    char text[160];
    const DataDocument::ScanFault& stop = document.ScanStop();
    if (document.ScanDone()) {
        std::snprintf(text, sizeof text, "レコード数 %lld 件", document.RecordCount());
        if (stop.record > 0) {
            // The whole reason is in the message box (and in the bad-data count).
            std::snprintf(text + std::strlen(text), sizeof text - std::strlen(text), " (レコード %lld から先は読めません)",
                          stop.record);
            if (!state.scanStopTold) {
                state.scanStopTold = true;
                PostMessageA(state.window, WM_DATA_SCAN_STOPPED, 0, 0);
            }
        }
    } else {
        int percent = document.FileSize() > 0 ? static_cast<int>(state.scanned * 100 / document.FileSize()) : 0;
        std::snprintf(text, sizeof text, "レコード数 %lld 件以上 (索引作成中 %d%%)", document.RecordCount(), percent);
    }
    SetPart(state, PART_RECORDS, text);
    state.badShown = document.BadRowsShown();
    // The record the scan stopped at is bad data too.
    std::snprintf(text, sizeof text, "不正データ %lld 件", state.badShown + (stop.record > 0 ? 1 : 0));
    SetPart(state, PART_BAD, text);
    if (state.filtered)
        std::snprintf(text, sizeof text, "フィルタ %lld 件", state.filter.Count());
    else
        text[0] = '\0';
    SetPart(state, PART_FILTER, text);
    if (document.Modified())
        std::snprintf(text, sizeof text, "編集 %u 件", static_cast<unsigned>(document.EditedCount()));
    else
        std::snprintf(text, sizeof text, "%s", document.ReadOnly() ? "読み取り専用" : "");
    SetPart(state, PART_EDITS, text);
}

// The message box of a scan that stopped: the whole reason, the record and the file's
// byte where its framing begins, and what the window shows instead.
void TellScanStopped(DataWindowState& state)
{
    const DataDocument::ScanFault& stop = state.document.ScanStop();
    if (stop.record <= 0)
        return;
    char place[160];
    std::snprintf(place, sizeof place, "レコード %lld (ファイルの先頭から %llu バイト目、0x%llX)", stop.record,
                  static_cast<unsigned long long>(stop.offset) + 1, static_cast<unsigned long long>(stop.offset));
    char shown[200];
    std::snprintf(shown, sizeof shown,
                  "その前のレコード %lld 件を表示しています。レコードの形式 (固定長、RDW、RDWブロック、行) が"
                  "ファイルに合っているか確かめてください。",
                  state.document.RecordCount());
    std::string text = BaseName(state.dataPath) + " は途中から先を読めません。\n\n" + place + ":\n" + stop.text +
                       "\n\n" + shown;
    modalUi.messageBox(state.window, text.c_str(), DATA_CAPTION, MB_ICONWARNING);
}

void SetItemCount(DataWindowState& state)
{
    SendMessageA(state.list, LVM_SETITEMCOUNT, ListCount(state),
                 LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    InvalidateRect(state.list, nullptr, FALSE);
}

void UpdateTitle(DataWindowState& state)
{
    std::string title = BaseName(state.dataPath) + (state.document.Modified() ? " *" : "") + " - " +
                        BaseName(state.copybookPath) + " - " + PRODUCT_NAME;
    SetWindowTextA(state.window, title.c_str());
}

// The text of a cell as the list shows it: column 0 the record's number (an edited
// record marked), then the document's cells.
std::string CellText(DataWindowState& state, long long row, int subItem, bool* bad = nullptr, bool* edited = nullptr)
{
    const DataDocument::ShownRow* shown = state.document.Row(row);
    if (!shown)
        return subItem == 0 ? std::to_string(row + 1) : std::string();
    if (edited)
        *edited = shown->edited;
    if (subItem == 0)
        return std::to_string(row + 1) + (shown->edited ? " *" : "");
    size_t column = static_cast<size_t>(subItem - 1);
    if (column >= shown->cells.size())
        return std::string();
    const DataDocument::ShownCell& cell = shown->cells[column];
    if (bad)
        *bad = cell.bad;
    if (cell.bad)
        return quillbox::DATA_BAD_CELL_TEXT;
    return cell.text;
}

void FitColumns(DataWindowState& state)
{
    int columns = static_cast<int>(state.document.ColumnCount()) + 1;
    std::vector<int> widths(static_cast<size_t>(columns), 0);
    widths[0] = static_cast<int>(SendMessageA(state.list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>("No")));
    for (int column = 1; column < columns; ++column)
        widths[static_cast<size_t>(column)] = static_cast<int>(SendMessageA(
            state.list, LVM_GETSTRINGWIDTHA, 0,
            reinterpret_cast<LPARAM>(state.document.ColumnName(static_cast<size_t>(column - 1)).c_str())));
    long long rows = std::min<long long>(FIRST_PAGE_ROWS, state.document.RecordCount());
    for (long long row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            std::string text = CellText(state, row, column);
            int width = static_cast<int>(
                SendMessageA(state.list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text.c_str())));
            widths[static_cast<size_t>(column)] = std::max(widths[static_cast<size_t>(column)], width);
        }
    widths[0] = std::max(widths[0], static_cast<int>(SendMessageA(state.list, LVM_GETSTRINGWIDTHA, 0,
                                                                  reinterpret_cast<LPARAM>("0000000 *"))));
    for (int column = 0; column < columns; ++column)
        SendMessageA(state.list, LVM_SETCOLUMNWIDTH, column,
                     std::min(widths[static_cast<size_t>(column)] + 16, MAX_COLUMN_WIDTH));
}

void InsertColumns(DataWindowState& state)
{
    LVCOLUMNA entry = {};
    entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    entry.fmt = LVCFMT_RIGHT;
    entry.cx = 60;
    entry.pszText = const_cast<char*>("No");
    SendMessageA(state.list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&entry));
    for (size_t column = 0; column < state.document.ColumnCount(); ++column) {
        entry.fmt = state.document.ColumnIsNumber(column) ? LVCFMT_RIGHT : LVCFMT_LEFT;
        entry.pszText = const_cast<char*>(state.document.ColumnName(column).c_str());
        entry.iSubItem = static_cast<int>(column + 1);
        SendMessageA(state.list, LVM_INSERTCOLUMNA, column + 1, reinterpret_cast<LPARAM>(&entry));
    }
}

// The list's focused position, its selection mark (the anchor of Shift gestures).
long long Focused(DataWindowState& state)
{
    return static_cast<int>(SendMessageA(state.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

long long SelectionMark(DataWindowState& state)
{
    return static_cast<int>(SendMessageA(state.list, LVM_GETSELECTIONMARK, 0, 0));
}

void SetSelectionMark(DataWindowState& state, long long position)
{
    SendMessageA(state.list, LVM_SETSELECTIONMARK, 0, static_cast<LPARAM>(position));
}

long long FocusedRow(DataWindowState& state)
{
    long long position = Focused(state);
    if (position < 0)
        position = static_cast<int>(SendMessageA(state.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return RowAt(state, position);
}

std::vector<long long> SelectedRows(DataWindowState& state)
{
    std::vector<long long> rows;
    const long long count = static_cast<long long>(ListCount(state));
    for (long long position = state.selected.NextFrom(0); position >= 0 && position < count;
         position = state.selected.NextFrom(position + 1)) {
        long long row = RowAt(state, position);
        if (row >= 0)
            rows.push_back(row);
    }
    return rows;
}

const char* const DETAIL_TITLES[] = {"項目", "PIC", "属性", "位置", "長さ", "値", "16進"};
const int DETAIL_WIDTHS[] = {260, 90, 60, 50, 45, 220, 640};
const int DETAIL_COLUMNS = 7;

void InsertDetailColumns(DataWindowState& state)
{
    for (int column = 0; column < DETAIL_COLUMNS; ++column) {
        LVCOLUMNA entry = {};
        entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        entry.fmt = column == 3 || column == 4 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        entry.cx = DETAIL_WIDTHS[column];
        entry.pszText = const_cast<char*>(DETAIL_TITLES[column]);
        entry.iSubItem = column;
        SendMessageA(state.detail, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&entry));
    }
}

// The detail pane's cells of one item: indented level and name, picture, usage, offset
// (from 1, as the layout shows it), length, value (### and the reason when bad), bytes.
void DetailCells(const DataDocument::DetailLine& line, std::string (&cells)[DETAIL_COLUMNS])
{
    cells[0] = std::string(static_cast<size_t>(line.depth) * 2, ' ') + (line.level < 10 ? "0" : "") +
               std::to_string(line.level) + " " + line.name;
    cells[1] = line.picture;
    cells[2] = line.usage;
    if (line.view)
        cells[2] += cells[2].empty() ? "(再定義)" : " (再定義)";
    cells[3] = std::to_string(line.offset + 1);
    cells[4] = std::to_string(line.length);
    if (line.absent)
        cells[5] = "(OCCURS回数外)";
    else if (line.bad)
        cells[5] = std::string(quillbox::DATA_BAD_CELL_TEXT) + " " + line.reason;
    else
        cells[5] = line.value;
    cells[6] = line.hex;
}

// Bytes a row of the detail pane's 16進 column shows: more go on the rows below it, so
// that the bytes show whole.
const size_t DETAIL_HEX_ROW_BYTES = 32;
const int DETAIL_VALUE_MAX_WIDTH = 480;

// Adds a row of the detail pane; false when the list refused it.
bool AddDetailRow(DataWindowState& state, int index, const std::string (&cells)[DETAIL_COLUMNS], bool bad)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    item.pszText = const_cast<char*>(cells[0].c_str());
    item.lParam = bad ? 1 : 0;
    int at = static_cast<int>(SendMessageA(state.detail, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    for (int column = 1; column < DETAIL_COLUMNS && at >= 0; ++column) {
        LVITEMA cell = {};
        cell.iSubItem = column;
        cell.pszText = const_cast<char*>(cells[column].c_str());
        SendMessageA(state.detail, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&cell));
    }
    return at >= 0;
}

void ShowDetail(DataWindowState& state)
{
    SendMessageA(state.detail, WM_SETREDRAW, FALSE, 0);
    SendMessageA(state.detail, LVM_DELETEALLITEMS, 0, 0);
    long long row = FocusedRow(state);
    std::vector<DataDocument::DetailLine> lines;
    auto textWidth = [&](const std::string& text) {
        return static_cast<int>(SendMessageA(state.detail, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text.c_str())));
    };
    int valueWidth = textWidth(DETAIL_TITLES[5]);
    if (row >= 0 && state.document.Detail(row, lines)) {
        int index = 0;
        const size_t hexRow = DETAIL_HEX_ROW_BYTES * 3;   // "XX " a byte
        for (const DataDocument::DetailLine& line : lines) {
            std::string cells[DETAIL_COLUMNS];
            DetailCells(line, cells);
            valueWidth = std::max(valueWidth, textWidth(cells[5]));
            // The bytes past a row's worth on rows of their own below the line.
            const std::string hex = cells[6];
            cells[6] = hex.substr(0, std::min(hex.size(), hexRow - 1));
            if (!AddDetailRow(state, index++, cells, line.bad))
                break;
            for (size_t from = hexRow; from < hex.size(); from += hexRow) {
                std::string more[DETAIL_COLUMNS];
                more[6] = hex.substr(from, std::min(hex.size() - from, hexRow - 1));
                if (!AddDetailRow(state, index++, more, line.bad))
                    break;
            }
        }
    }
    // The values shown whole, up to a width that leaves the bytes on the screen.
    SendMessageA(state.detail, LVM_SETCOLUMNWIDTH, 5, std::min(valueWidth + 16, DETAIL_VALUE_MAX_WIDTH));
    SendMessageA(state.detail, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(state.detail, nullptr, TRUE);
}

void ClearSelection(DataWindowState& state)
{
    if (state.selected.Count() == 0)
        return;
    state.selected.Clear();
    InvalidateRect(state.list, nullptr, FALSE);
}

void SelectPosition(DataWindowState& state, long long position)
{
    ClearSelection(state);
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(state.list, LVM_SETITEMSTATE, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
    SetSelectionMark(state, position);
    SendMessageA(state.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(position), FALSE);
    SetFocus(state.list);
    ShowDetail(state);
}

void Layout(DataWindowState& state)
{
    RECT client = {};
    GetClientRect(state.window, &client);
    SendMessageA(state.status, WM_SIZE, 0, 0);
    RECT bar = {};
    GetWindowRect(state.status, &bar);
    int height = client.bottom - (bar.bottom - bar.top);
    if (height < 0)
        height = 0;
    int listHeight = height * 3 / 5;
    MoveWindow(state.list, 0, 0, client.right, listHeight, TRUE);
    MoveWindow(state.detail, 0, listHeight + 3, client.right, std::max(0, height - listHeight - 3), TRUE);
    int width = client.right;
    int edges[PART_COUNT] = {width * 2 / 5, width * 3 / 5, width * 4 / 5, -1};
    SendMessageA(state.status, SB_SETPARTS, PART_COUNT, reinterpret_cast<LPARAM>(edges));
}

// ---- Long runs: a progress dialog after half a second, its キャンセル or Escape cancels ----
struct RunProgress {
    DataWindowState* state = nullptr;
    const char* what = "";
    DWORD started = 0, shown = 0;
    HWND dialog = nullptr;
    bool cancelled = false;
    ~RunProgress()
    {
        if (dialog) {
            EnableWindow(state->window, TRUE);
            DestroyWindow(dialog);
        }
    }
};

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        return TRUE;
    }
    if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE) {
        if (RunProgress* run = reinterpret_cast<RunProgress*>(GetWindowLongPtrA(dialog, GWLP_USERDATA)))
            run->cancelled = true;
        return TRUE;
    }
    return FALSE;
}

// Whether a message is input (keys, mouse, the frames' and menus' clicks).
bool IsInput(UINT message)
{
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

quillbox::DataProgress ProgressOf(DataWindowState& state, const char* what)
{
    std::shared_ptr<RunProgress> run = std::make_shared<RunProgress>();
    run->state = &state;
    run->what = what;
    run->started = GetTickCount();
    return [run](long long done, long long total) {
        DWORD now = GetTickCount();
        if (run->cancelled)
            return false;
        if (now - run->shown < 100)
            return true;
        run->shown = now;
        char text[128];
        std::snprintf(text, sizeof text, "%s %lld / %lld 件", run->what, done, total);
        SetPart(*run->state, PART_RECORDS, text);
        if (!run->dialog && now - run->started >= 500) {
            run->dialog = CreateDialogParamA(frontEnd.instance, MAKEINTRESOURCEA(IDD_DATA_PROGRESS), run->state->window,
                                             ProgressDialogProc, reinterpret_cast<LPARAM>(run.get()));
            if (run->dialog) {
                SendDlgItemMessageA(run->dialog, IDC_DP_BAR, PBM_SETRANGE32, 0, 1000);
                EnableWindow(run->state->window, FALSE);
                ShowWindow(run->dialog, SW_SHOW);
            }
        }
        if (run->dialog) {
            SetDlgItemTextA(run->dialog, IDC_DP_TEXT, text);
            int permille = total > 0 ? static_cast<int>(std::min<long long>(done * 1000 / total, 1000)) : 0;
            SendDlgItemMessageA(run->dialog, IDC_DP_BAR, PBM_SETPOS, permille, 0);
        }
        UpdateWindow(run->state->status);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return false;
            }
            if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE)
                return false;
            bool toDialog = run->dialog && (message.hwnd == run->dialog || IsChild(run->dialog, message.hwnd));
            if (toDialog && IsDialogMessageA(run->dialog, &message))
                continue;
            // Input to every other window is dropped while the run goes on; painting and
            // timers go on.
            if (!toDialog && IsInput(message.message))
                continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return !run->cancelled;
    };
}

// ---- Commands ------------------------------------------------------------------------
bool ChooseSaveName(HWND owner, const char* title, const char* filter, const char* extension, std::string& path)
{
    char name[MAX_PATH] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.lpstrDefExt = extension;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = sizeof name;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (!modalUi.getSaveFileName(&dialog))
        return false;
    name[sizeof name - 1] = '\0';
    path = name;
    return !path.empty();
}

void ExportCommand(DataWindowState& state, quillbox::TableFormat format)
{
    bool csv = format == quillbox::TableFormat::kCsv;
    std::string target;
    if (!ChooseSaveName(state.window, csv ? "CSVで出力" : "JSON Linesで出力",
                        csv ? "CSV(*.csv)\0*.csv\0" : "JSON Lines(*.jsonl)\0*.jsonl\0", csv ? "csv" : "jsonl", target))
        return;
    quillbox::RunResult result;
    std::string error;
    bool done;
    quillbox::DataProgress progress = ProgressOf(state, "出力中");
    if (state.scope == SCOPE_SELECTED) {
        std::vector<long long> rows = SelectedRows(state);
        done = state.document.Export(target, format, &rows, result, error, progress);
    } else if (state.scope == SCOPE_SHOWN && state.filtered) {
        done = state.document.Export(target, format, state.filter, result, error, progress);
    } else {
        done = state.document.Export(target, format, nullptr, result, error, progress);
    }
    UpdateStatus(state);
    char text[512];
    if (done) {
        std::snprintf(text, sizeof text, "%lld 件を出力しました。", result.written);
        modalUi.messageBox(state.window, text, "通知", MB_ICONINFORMATION);
    } else {
        std::snprintf(text, sizeof text, "出力できませんでした。%s", error.empty() ? "(中止)" : error.c_str());
        modalUi.messageBox(state.window, text, DATA_CAPTION, MB_ICONWARNING);
    }
}

void CopyCommand(DataWindowState& state)
{
    // Millions of rows selected (Ctrl+A, Shift+End) would make a clipboard text of
    // gigabytes: they are exported instead.
    if (state.selected.Count() > MAX_COPIED_ROWS) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "選択行が多すぎるためコピーできません (%lld 件、%lld 件まで)。\n"
                      "出力メニューの「選択行を出力」をお使いください。",
                      state.selected.Count(), MAX_COPIED_ROWS);
        modalUi.messageBox(state.window, text, DATA_CAPTION, MB_ICONWARNING);
        return;
    }
    std::vector<long long> rows = SelectedRows(state);
    if (rows.empty())
        return;
    std::string text = state.document.CopyText(rows);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (!block)
        return;
    char* bytes = static_cast<char*>(GlobalLock(block));
    if (!bytes) {
        GlobalFree(block);
        return;
    }
    std::memcpy(bytes, text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    if (!OpenClipboard(state.window)) {
        GlobalFree(block);
        modalUi.messageBox(state.window, "クリップボードのオープンに失敗", "エラー", MB_ICONWARNING);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_TEXT, block))
        GlobalFree(block);
    CloseClipboard();
}

// The go-to, find and filter dialogs' texts, while one of them is shown.
struct AskState {
    std::string text;
    int column = -1;   // -1: every column
    int compare = 0;
    DataWindowState* window = nullptr;
} ask;

void FillColumnCombo(HWND dialog, bool withAll)
{
    if (withAll)
        SendDlgItemMessageA(dialog, IDC_DF_COLUMN, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("(すべての列)"));
    for (size_t column = 0; column < ask.window->document.ColumnCount(); ++column)
        SendDlgItemMessageA(dialog, IDC_DF_COLUMN, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(ask.window->document.ColumnName(column).c_str()));
    SendDlgItemMessageA(dialog, IDC_DF_COLUMN, CB_SETCURSEL, withAll ? ask.column + 1 : std::max(ask.column, 0), 0);
}

std::string DialogText(HWND dialog, int id)
{
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

INT_PTR CALLBACK AskDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        if (GetDlgItem(dialog, IDC_DG_NUMBER)) {
            SetDlgItemTextA(dialog, IDC_DG_NUMBER, ask.text.c_str());
            SendDlgItemMessageA(dialog, IDC_DG_NUMBER, EM_SETSEL, 0, -1);
        }
        if (GetDlgItem(dialog, IDC_DF_TEXT)) {
            SetDlgItemTextA(dialog, IDC_DF_TEXT, ask.text.c_str());
            SendDlgItemMessageA(dialog, IDC_DF_TEXT, EM_SETSEL, 0, -1);
        }
        if (GetDlgItem(dialog, IDC_DF_COMPARE)) {
            static const char* const compares[] = {"=", "<>", "<", ">", "を含む"};
            for (const char* text : compares)
                SendDlgItemMessageA(dialog, IDC_DF_COMPARE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
            SendDlgItemMessageA(dialog, IDC_DF_COMPARE, CB_SETCURSEL, ask.compare, 0);
            FillColumnCombo(dialog, false);
        } else if (GetDlgItem(dialog, IDC_DF_COLUMN)) {
            FillColumnCombo(dialog, true);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            if (GetDlgItem(dialog, IDC_DG_NUMBER))
                ask.text = DialogText(dialog, IDC_DG_NUMBER);
            if (GetDlgItem(dialog, IDC_DF_TEXT))
                ask.text = DialogText(dialog, IDC_DF_TEXT);
            if (GetDlgItem(dialog, IDC_DF_COMPARE)) {
                ask.compare = static_cast<int>(SendDlgItemMessageA(dialog, IDC_DF_COMPARE, CB_GETCURSEL, 0, 0));
                ask.column = static_cast<int>(SendDlgItemMessageA(dialog, IDC_DF_COLUMN, CB_GETCURSEL, 0, 0));
            } else if (GetDlgItem(dialog, IDC_DF_COLUMN)) {
                ask.column = static_cast<int>(SendDlgItemMessageA(dialog, IDC_DF_COLUMN, CB_GETCURSEL, 0, 0)) - 1;
            }
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

void GoToCommand(DataWindowState& state)
{
    ask = AskState();
    ask.window = &state;
    long long focused = FocusedRow(state);
    ask.text = focused >= 0 ? std::to_string(focused + 1) : "";
    if (modalUi.dialogBox(frontEnd.instance, IDD_DATA_GOTO, state.window, AskDialogProc) <= 0)
        return;
    long long number = std::atoll(ask.text.c_str());
    if (number >= 1 && number > state.document.RecordCount() && !state.document.ScanDone()) {
        // The index scanned up to it, with the progress dialog: cancelled, the records
        // scanned so far are shown and the selection stays.
        bool reached = state.document.ScanTo(number - 1, ProgressOf(state, "移動中"));
        state.scanned = state.document.ScanSome(0).bytes;   // where the scan stands (a record more)
        SetItemCount(state);
        UpdateStatus(state);
        if (!reached)
            return;
    }
    SetItemCount(state);
    UpdateStatus(state);
    long long position = number >= 1 ? PositionOf(state, number - 1) : -1;
    if (position < 0) {
        char text[160];
        std::snprintf(text, sizeof text, "レコード %s は%sありません。", ask.text.c_str(),
                      state.filtered ? "フィルタの中に" : "");
        modalUi.messageBox(state.window, text, DATA_CAPTION, MB_ICONWARNING);
        return;
    }
    SelectPosition(state, position);
}

void FindAgain(DataWindowState& state, bool forward)
{
    if (state.findText.empty())
        return;
    long long from = FocusedRow(state);
    long long found = from;
    for (;;) {
        found = state.document.Find(state.findText, state.findColumn, found, forward, ProgressOf(state, "検索中"));
        // In a filtered list only the filter's rows count.
        if (found < 0 || !state.filtered || state.filter.Contains(found))
            break;
    }
    SetItemCount(state);
    UpdateStatus(state);
    if (found == -2)
        return;
    if (found < 0) {
        std::string text = "「" + state.findText + "」は" + (forward ? "この後に" : "この前に") + "見つかりません。";
        modalUi.messageBox(state.window, text.c_str(), "値の検索", MB_ICONWARNING);
        return;
    }
    SelectPosition(state, PositionOf(state, found));
}

void FindCommand(DataWindowState& state)
{
    ask = AskState();
    ask.window = &state;
    ask.text = state.findText;
    ask.column = state.findColumn;
    if (modalUi.dialogBox(frontEnd.instance, IDD_DATA_FIND, state.window, AskDialogProc) <= 0 || ask.text.empty())
        return;
    state.findText = ask.text;
    state.findColumn = ask.column;
    FindAgain(state, true);
}

void FilterCommand(DataWindowState& state)
{
    static int lastCompare = 0;
    ask = AskState();
    ask.window = &state;
    ask.compare = lastCompare;
    ask.column = 0;
    if (modalUi.dialogBox(frontEnd.instance, IDD_DATA_FILTER, state.window, AskDialogProc) <= 0 || ask.column < 0)
        return;
    lastCompare = ask.compare;
    static const DataDocument::Compare compares[] = {DataDocument::Compare::kEqual, DataDocument::Compare::kNotEqual,
                                                     DataDocument::Compare::kLess, DataDocument::Compare::kGreater,
                                                     DataDocument::Compare::kContains};
    DataRowSet rows;
    std::string error;
    if (!state.document.Filter(static_cast<size_t>(ask.column), compares[std::min(std::max(ask.compare, 0), 4)], ask.text,
                               rows, ProgressOf(state, "フィルタ中"), error)) {
        UpdateStatus(state);
        if (!error.empty())
            modalUi.messageBox(state.window, error.c_str(), "フィルタ", MB_ICONWARNING);
        return;
    }
    state.filter = rows;
    state.filtered = true;
    ClearSelection(state);   // its positions are the file's rows, not the filter's
    SendMessageA(state.list, LVM_SETITEMCOUNT, ListCount(state), 0);
    InvalidateRect(state.list, nullptr, TRUE);
    UpdateStatus(state);
    if (state.filter.Count() > 0)
        SelectPosition(state, 0);
    else
        ShowDetail(state);
}

void UnfilterCommand(DataWindowState& state)
{
    long long row = FocusedRow(state);
    state.filtered = false;
    state.filter.Clear();
    ClearSelection(state);   // its positions are the filter's, not the file's rows
    SendMessageA(state.list, LVM_SETITEMCOUNT, ListCount(state), 0);
    InvalidateRect(state.list, nullptr, TRUE);
    UpdateStatus(state);
    if (row >= 0)
        SelectPosition(state, row);
}

bool SaveCommand(DataWindowState& state)
{
    if (!state.document.Modified())
        return true;
    if (state.document.ReadOnly()) {
        std::string text = "読み取り専用のため保存できません。";
        if (!state.document.ReadOnlyReason().empty())
            text += "\n" + state.document.ReadOnlyReason();
        modalUi.messageBox(state.window, text.c_str(), DATA_CAPTION, MB_ICONWARNING);
        return false;
    }
    std::string error;
    if (!state.document.Save(error)) {
        std::string text = "保存できませんでした。編集は残っています。\n" + error;
        modalUi.messageBox(state.window, text.c_str(), DATA_CAPTION, MB_ICONWARNING);
        return false;
    }
    InvalidateRect(state.list, nullptr, FALSE);
    UpdateStatus(state);
    UpdateTitle(state);
    ShowDetail(state);
    return true;
}

// ---- The cell editor ------------------------------------------------------------------
void EndEdit(DataWindowState& state, bool keep)
{
    if (!state.editor)
        return;
    HWND editor = state.editor;
    state.editor = nullptr;   // WM_KILLFOCUS of the destroyed editor ends nothing more
    // Only a changed text is stored: a cell opened and left as it was keeps its bytes (a
    // bad value, whose editor opens empty, among them).
    std::string text;
    if (keep) {
        int length = GetWindowTextLengthA(editor);
        text.assign(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
        text.resize(static_cast<size_t>(GetWindowTextA(editor, &text[0], length + 1)));
    }
    if (keep && text != state.editStart) {
        std::string reason;
        if (!state.document.SetCell(state.editRow, state.editColumn, text, reason)) {
            DestroyWindow(editor);
            std::string message = "この値は入力できません。\n" + reason;
            modalUi.messageBox(state.window, message.c_str(), "編集", MB_ICONWARNING);
            SetFocus(state.list);
            return;
        }
    }
    DestroyWindow(editor);
    InvalidateRect(state.list, nullptr, FALSE);
    UpdateStatus(state);
    UpdateTitle(state);
    ShowDetail(state);
    SetFocus(state.list);
}

LRESULT CALLBACK EditorProc(HWND editor, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window = GetAncestor(editor, GA_ROOT);
    DataWindowState* state = StateOf(window);
    if (state && state->editor == editor) {
        if (message == WM_GETDLGCODE)
            return DLGC_WANTALLKEYS;
        if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
            EndEdit(*state, wParam == VK_RETURN);
            return 0;
        }
        if (message == WM_CHAR && (wParam == '\r' || wParam == 27))
            return 0;
        if (message == WM_KILLFOCUS) {
            LRESULT result = CallWindowProcA(editorProcedure, editor, message, wParam, lParam);
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_DATA_EDIT, EN_KILLFOCUS), reinterpret_cast<LPARAM>(editor));
            return result;
        }
    }
    return CallWindowProcA(editorProcedure, editor, message, wParam, lParam);
}

void BeginEdit(DataWindowState& state, int position, int subItem)
{
    EndEdit(state, true);
    long long row = RowAt(state, position);
    if (row < 0 || subItem < 1 || static_cast<size_t>(subItem) > state.document.ColumnCount())
        return;
    if (state.document.ReadOnly()) {
        modalUi.messageBox(state.window, "読み取り専用のファイルです。", "編集", MB_ICONWARNING);
        return;
    }
    SendMessageA(state.list, LVM_ENSUREVISIBLE, position, FALSE);
    RECT cell = {};
    cell.top = subItem;
    cell.left = LVIR_BOUNDS;
    if (!SendMessageA(state.list, LVM_GETSUBITEMRECT, position, reinterpret_cast<LPARAM>(&cell)))
        return;
    bool bad = false;
    std::string text = CellText(state, row, subItem, &bad);
    if (bad)
        text.clear();
    state.editRow = row;
    state.editColumn = static_cast<size_t>(subItem - 1);
    state.editStart = text;
    state.editor = CreateWindowExA(0, "EDIT", text.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                                   cell.left, cell.top, std::max(80, static_cast<int>(cell.right - cell.left)),
                                   cell.bottom - cell.top + 2, state.list, reinterpret_cast<HMENU>(IDC_DATA_EDIT),
                                   frontEnd.instance, nullptr);
    if (!state.editor)
        return;
    SendMessageA(state.editor, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), TRUE);
    editorProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(state.editor, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditorProc)));
    SendMessageA(state.editor, EM_SETSEL, 0, -1);
    SetFocus(state.editor);
}

// The column under the list's point (client coordinates), 0 when none.
int SubItemAt(DataWindowState& state, POINT point, int& position)
{
    LVHITTESTINFO hit = {};
    hit.pt = point;
    SendMessageA(state.list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    position = hit.iItem;
    return hit.iSubItem;
}

void EditCommand(DataWindowState& state)
{
    const int position = static_cast<int>(Focused(state));
    if (position < 0)
        return;
    // The cell cursor's column.
    int column = state.cursorColumn;
    if (column < 1 || static_cast<size_t>(column) > state.document.ColumnCount())
        column = 1;
    BeginEdit(state, position, column);
}

void SetScope(DataWindowState& state, ExportScope scope)
{
    state.scope = scope;
    CheckMenuRadioItem(GetMenu(state.window), IDM_DATA_SCOPE_ALL, IDM_DATA_SCOPE_SELECTED,
                       IDM_DATA_SCOPE_ALL + static_cast<UINT>(scope), MF_BYCOMMAND);
}

// True when the window may close: no edits, or they were saved or given up.
bool MayClose(DataWindowState& state)
{
    EndEdit(state, true);
    if (!state.document.Modified())
        return true;
    std::string text = BaseName(state.dataPath) + " の編集を保存しますか？";
    int answer = modalUi.messageBox(state.window, text.c_str(), "確認", MB_ICONQUESTION | MB_YESNOCANCEL);
    if (answer == IDCANCEL)
        return false;
    if (answer == IDYES)
        return SaveCommand(state);
    return true;
}

// Marks the window busy while a long run pumps messages.
struct BusyScope {
    explicit BusyScope(DataWindowState& state) : state(state) { state.busy = true; }
    ~BusyScope() { state.busy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    DataWindowState& state;
};

void OnDataCommand(DataWindowState& state, int command, int code)
{
    if (state.busy)
        return;
    if (command == IDM_DATA_CLOSE) {
        SendMessageA(state.window, WM_CLOSE, 0, 0);
        return;
    }
    BusyScope busy(state);
    switch (command) {
    case IDM_DATA_SAVE: SaveCommand(state); break;
    case IDM_DATA_CSV: ExportCommand(state, quillbox::TableFormat::kCsv); break;
    case IDM_DATA_JSONL: ExportCommand(state, quillbox::TableFormat::kJsonl); break;
    case IDM_DATA_COPY: CopyCommand(state); break;
    case IDM_DATA_GOTO: GoToCommand(state); break;
    case IDM_DATA_FIND: FindCommand(state); break;
    case IDM_DATA_FIND_NEXT: FindAgain(state, true); break;
    case IDM_DATA_FIND_PREV: FindAgain(state, false); break;
    case IDM_DATA_FILTER: FilterCommand(state); break;
    case IDM_DATA_UNFILTER: UnfilterCommand(state); break;
    case IDM_DATA_EDIT: EditCommand(state); break;
    case IDM_DATA_SCOPE_ALL: SetScope(state, SCOPE_ALL); break;
    case IDM_DATA_SCOPE_SHOWN: SetScope(state, SCOPE_SHOWN); break;
    case IDM_DATA_SCOPE_SELECTED: SetScope(state, SCOPE_SELECTED); break;
    case IDC_DATA_EDIT:
        if (code == EN_KILLFOCUS && state.editor && GetFocus() != state.editor)
            EndEdit(state, true);
        break;
    default: break;
    }
}

// ---- The list's selection ------------------------------------------------------------
// The gestures of a multiple-selection list view, on the window's selection: a move or
// click selects one row; Shift selects from the selection mark (the anchor) to the row,
// with Ctrl added to the rows selected; Ctrl moves the focus alone, Ctrl+click and
// Ctrl+Space select or unselect one row and make it the anchor; Ctrl+A selects all.
// Each costs the stretches it changes, whatever the rows it spans.
// Moves the focus to `position` (the detail follows it) and scrolls it into view.
void MoveFocus(DataWindowState& state, long long position)
{
    LVITEMA item = {};
    item.stateMask = LVIS_FOCUSED;
    item.state = LVIS_FOCUSED;
    SendMessageA(state.list, LVM_SETITEMSTATE, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
    SendMessageA(state.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(position), FALSE);
    InvalidateRect(state.list, nullptr, FALSE);
}

// Applies a gesture ending on `position`: `extend` (Shift) from the anchor, `control`
// adding to the selection or, alone, `toggle` of the row (Ctrl+click, Ctrl+Space).
void SelectGesture(DataWindowState& state, long long position, bool extend, bool control, bool toggle)
{
    if (extend) {
        long long anchor = SelectionMark(state);
        if (anchor < 0 || anchor >= static_cast<long long>(ListCount(state))) {
            anchor = Focused(state) >= 0 ? Focused(state) : position;
            SetSelectionMark(state, anchor);
        }
        if (!control)
            state.selected.Clear();
        state.selected.Add(std::min(anchor, position), std::max(anchor, position) + 1);
    } else if (control) {
        if (toggle) {
            if (state.selected.Contains(position))
                state.selected.Remove(position);
            else
                state.selected.Add(position);
            SetSelectionMark(state, position);
        }
    } else {
        state.selected.Clear();
        state.selected.Add(position);
        SetSelectionMark(state, position);
    }
    MoveFocus(state, position);
}

// Scrolls the list sideways so that the cell cursor's column shows whole (its left edge
// first when it is wider than the list).
void ShowCursorColumn(DataWindowState& state)
{
    long long position = Focused(state);
    if (position < 0)
        position = static_cast<int>(SendMessageA(state.list, LVM_GETTOPINDEX, 0, 0));
    RECT cell = {};
    cell.top = state.cursorColumn;
    cell.left = LVIR_BOUNDS;
    if (!SendMessageA(state.list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&cell)))
        return;
    RECT client = {};
    GetClientRect(state.list, &client);
    int dx = 0;
    if (cell.left < client.left)
        dx = cell.left - client.left;
    else if (cell.right > client.right)
        dx = std::min(cell.right - client.right, cell.left - client.left);
    if (dx != 0)
        SendMessageA(state.list, LVM_SCROLL, static_cast<WPARAM>(dx), 0);
    InvalidateRect(state.list, nullptr, FALSE);
}

// Left and Right: the cell cursor one column on, within the document's columns.
void MoveCursorColumn(DataWindowState& state, int step)
{
    const int last = static_cast<int>(state.document.ColumnCount());
    if (last < 1)
        return;
    state.cursorColumn = std::min(std::max(state.cursorColumn + step, 1), last);
    ShowCursorColumn(state);
}

// A key of the list that moves or selects; false for the others, left to the list.
bool SelectionKey(DataWindowState& state, WPARAM key)
{
    const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    const bool control = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    const long long count = static_cast<long long>(ListCount(state));
    if (count == 0)
        return false;
    const long long focus = Focused(state);
    long long position;
    switch (key) {
    case VK_LEFT:
    case VK_RIGHT:
        if (control || shift)
            return false;
        MoveCursorColumn(state, key == VK_LEFT ? -1 : 1);
        return true;
    case VK_RETURN:
        if (control || shift || focus < 0)
            return false;
        EditCommand(state);
        return true;
    case VK_UP: position = focus - 1; break;
    case VK_DOWN: position = focus + 1; break;
    case VK_HOME: position = 0; break;
    case VK_END: position = count - 1; break;
    case VK_PRIOR:
    case VK_NEXT: {
        // As a list view pages: to the top or bottom row of the page first, then a page on.
        const long long top = static_cast<int>(SendMessageA(state.list, LVM_GETTOPINDEX, 0, 0));
        const long long page = std::max(1, static_cast<int>(SendMessageA(state.list, LVM_GETCOUNTPERPAGE, 0, 0)));
        if (key == VK_NEXT)
            position = focus == top + page - 1 ? focus + page - 1 : top + page - 1;
        else
            position = focus == top ? top - page + 1 : top;
        break;
    }
    case VK_SPACE: position = focus; break;
    case 'A':
        if (!control || shift)
            return false;
        state.selected.Add(0, count);
        InvalidateRect(state.list, nullptr, FALSE);
        return true;
    default: return false;
    }
    position = std::min(std::max<long long>(position, 0), count - 1);
    SelectGesture(state, position, shift, control, key == VK_SPACE);
    return true;
}

// A click of the list, the window's alone: the list's own click would clear or extend
// its selection by walking every row (asking the window each row's state). A double
// click edits the cell; a right click keeps a selection that has its row.
void SelectionClick(DataWindowState& state, UINT message, WPARAM keys, LPARAM at)
{
    POINT point = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    int position = -1;
    int subItem = SubItemAt(state, point, position);
    const bool shift = (keys & MK_SHIFT) != 0, control = (keys & MK_CONTROL) != 0;
    SetFocus(state.list);
    if (position < 0 || position >= static_cast<long long>(ListCount(state))) {
        if (!shift && !control)
            ClearSelection(state);
        return;
    }
    if (subItem > 0)
        state.cursorColumn = subItem;
    if (message == WM_RBUTTONDOWN) {
        if (state.selected.Contains(position))
            MoveFocus(state, position);
        else
            SelectGesture(state, position, false, false, false);
        return;
    }
    SelectGesture(state, position, shift, control, true);
    if (message == WM_LBUTTONDBLCLK && !shift && !control)
        BeginEdit(state, position, subItem > 0 ? subItem : 1);
}

LRESULT HandleListMessage(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    DataWindowState* state = StateOf(GetParent(list));
    if (!state || state->list != list)
        return CallWindowProcA(listProcedure, list, message, wParam, lParam);
    switch (message) {
    case WM_KEYDOWN:
        if (SelectionKey(*state, wParam))
            return 0;
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
        SelectionClick(*state, message == WM_RBUTTONDBLCLK ? WM_RBUTTONDOWN : message, wParam, lParam);
        return 0;
    case LVM_GETSELECTEDCOUNT:
        return static_cast<LRESULT>(std::min<long long>(state->selected.Count(), 0x7FFFFFFF));
    case LVM_GETNEXTITEM:
        if (lParam == LVNI_SELECTED) {
            long long from = static_cast<int>(wParam) < 0 ? 0 : static_cast<long long>(static_cast<int>(wParam)) + 1;
            long long next = state->selected.NextFrom(from);
            return next >= 0 && next < static_cast<long long>(ListCount(*state)) ? static_cast<LRESULT>(next) : -1;
        }
        break;
    case LVM_GETITEMSTATE: {
        LRESULT kept = CallWindowProcA(listProcedure, list, message, wParam, lParam & ~LVIS_SELECTED);
        if ((lParam & LVIS_SELECTED) && state->selected.Contains(static_cast<int>(wParam)))
            kept |= LVIS_SELECTED;
        return kept;
    }
    case LVM_SETITEMSTATE: {
        LVITEMA* item = reinterpret_cast<LVITEMA*>(lParam);
        if (!item || !(item->stateMask & LVIS_SELECTED))
            break;
        const long long position = static_cast<int>(wParam);
        const long long count = static_cast<long long>(ListCount(*state));
        const bool select = (item->state & LVIS_SELECTED) != 0;
        if (position == -1) {
            if (select)
                state->selected.Add(0, count);
            else
                state->selected.Clear();
        } else if (position >= 0 && position < count) {
            if (select)
                state->selected.Add(position);
            else
                state->selected.Remove(position);
        } else {
            return FALSE;
        }
        InvalidateRect(list, nullptr, FALSE);
        LVITEMA rest = *item;
        rest.stateMask &= ~LVIS_SELECTED;
        return rest.stateMask == 0 || CallWindowProcA(listProcedure, list, message, wParam, reinterpret_cast<LPARAM>(&rest));
    }
    case LVM_SETITEMCOUNT: {
        LRESULT result = CallWindowProcA(listProcedure, list, message, wParam, lParam);
        state->selected.Remove(static_cast<long long>(wParam), std::numeric_limits<long long>::max());
        return result;
    }
    default:
        break;
    }
    return CallWindowProcA(listProcedure, list, message, wParam, lParam);
}

LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return HandleListMessage(list, message, wParam, lParam);
    } catch (...) {
        HandleEscapedFailure();
        return 0;
    }
}

LRESULT OnNotify(DataWindowState& state, NMHDR* header)
{
    if (header->hwndFrom == state.detail && header->code == static_cast<UINT>(NM_CUSTOMDRAW)) {
        // Bad items in the colour of bad cells.
        NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT)
            return CDRF_NOTIFYITEMDRAW;
        if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT && draw->nmcd.lItemlParam)
            draw->clrText = RGB(0xC0, 0x00, 0x00);
        return CDRF_DODEFAULT;
    }
    if (header->hwndFrom != state.list)
        return 0;
    switch (header->code) {
    case LVN_GETDISPINFOA: {
        NMLVDISPINFOA* info = reinterpret_cast<NMLVDISPINFOA*>(header);
        if ((info->item.mask & LVIF_STATE) && (info->item.stateMask & LVIS_SELECTED)) {
            info->item.state &= ~LVIS_SELECTED;
            if (state.selected.Contains(info->item.iItem))
                info->item.state |= LVIS_SELECTED;
        }
        if ((info->item.mask & LVIF_TEXT) && info->item.pszText && info->item.cchTextMax > 0) {
            long long row = RowAt(state, info->item.iItem);
            state.cellText = row >= 0 ? CellText(state, row, info->item.iSubItem) : std::string();
            lstrcpynA(info->item.pszText, state.cellText.c_str(), info->item.cchTextMax);
            if (state.document.BadRowsShown() != state.badShown)
                UpdateStatus(state);
        }
        return 0;
    }
    case NM_CUSTOMDRAW: {
        NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT)
            return CDRF_NOTIFYITEMDRAW;
        if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT)
            return CDRF_NOTIFYSUBITEMDRAW;
        if (draw->nmcd.dwDrawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) {
            const long long position = static_cast<long long>(draw->nmcd.dwItemSpec);
            long long row = RowAt(state, position);
            bool bad = false, edited = false;
            if (row >= 0)
                CellText(state, row, draw->iSubItem, &bad, &edited);
            draw->clrText = bad ? RGB(0xC0, 0x00, 0x00) : GetSysColor(COLOR_WINDOWTEXT);
            draw->clrTextBk = edited ? RGB(0xFF, 0xF4, 0xC0) : GetSysColor(COLOR_WINDOW);
            // The cell cursor: the focused row's cell of its column, framed in its own colour
            // over the row's selection.
            if (draw->iSubItem == state.cursorColumn && position == Focused(state)) {
                draw->nmcd.uItemState &= ~(CDIS_SELECTED | CDIS_FOCUS);
                draw->clrTextBk = RGB(0xFF, 0xD8, 0x70);
            }
            return CDRF_NEWFONT;
        }
        return CDRF_DODEFAULT;
    }
    case LVN_ITEMCHANGED: {
        NMLISTVIEW* change = reinterpret_cast<NMLISTVIEW*>(header);
        if ((change->uNewState ^ change->uOldState) & LVIS_FOCUSED)
            ShowDetail(state);
        UpdateStatus(state);
        return 0;
    }
    default:
        return 0;
    }
}

HMENU BuildMenu()
{
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, IDM_DATA_SAVE, "上書き保存(&S)\tCtrl+S");
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_STRING, IDM_DATA_CLOSE, "閉じる(&C)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "ファイル(&F)");
    HMENU edit = CreatePopupMenu();
    AppendMenuA(edit, MF_STRING, IDM_DATA_COPY, "コピー(&C)\tCtrl+C");
    AppendMenuA(edit, MF_STRING, IDM_DATA_EDIT, "セルの編集(&E)\tF2");
    AppendMenuA(edit, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(edit, MF_STRING, IDM_DATA_GOTO, "レコードへ移動(&G)...\tCtrl+G");
    AppendMenuA(edit, MF_STRING, IDM_DATA_FIND, "検索(&F)...\tCtrl+F");
    AppendMenuA(edit, MF_STRING, IDM_DATA_FIND_NEXT, "次を検索(&N)\tF3");
    AppendMenuA(edit, MF_STRING, IDM_DATA_FIND_PREV, "前を検索(&P)\tShift+F3");
    AppendMenuA(edit, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(edit, MF_STRING, IDM_DATA_FILTER, "フィルタ(&L)...");
    AppendMenuA(edit, MF_STRING, IDM_DATA_UNFILTER, "フィルタ解除(&U)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), "編集(&E)");
    HMENU output = CreatePopupMenu();
    AppendMenuA(output, MF_STRING, IDM_DATA_CSV, "CSVで出力(&C)...");
    AppendMenuA(output, MF_STRING, IDM_DATA_JSONL, "JSON Linesで出力(&J)...");
    AppendMenuA(output, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(output, MF_STRING, IDM_DATA_SCOPE_ALL, "全行を出力(&A)");
    AppendMenuA(output, MF_STRING, IDM_DATA_SCOPE_SHOWN, "フィルタの行を出力(&F)");
    AppendMenuA(output, MF_STRING, IDM_DATA_SCOPE_SELECTED, "選択行を出力(&S)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(output), "出力(&O)");
    return bar;
}

HACCEL Accelerators()
{
    if (!dataAccelerators) {
        ACCEL table[] = {
            {FVIRTKEY | FCONTROL, 'S', IDM_DATA_SAVE},      {FVIRTKEY | FCONTROL, 'C', IDM_DATA_COPY},
            {FVIRTKEY | FCONTROL, 'G', IDM_DATA_GOTO},      {FVIRTKEY | FCONTROL, 'F', IDM_DATA_FIND},
            {FVIRTKEY, VK_F3, IDM_DATA_FIND_NEXT},          {FVIRTKEY | FSHIFT, VK_F3, IDM_DATA_FIND_PREV},
            {FVIRTKEY, VK_F2, IDM_DATA_EDIT},
        };
        dataAccelerators = CreateAcceleratorTableA(table, static_cast<int>(sizeof table / sizeof table[0]));
    }
    return dataAccelerators;
}

LRESULT HandleDataMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DataWindowState* state = StateOf(window);
    if (!state)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_SIZE:
        Layout(*state);
        return 0;
    case WM_DATA_SCAN_STOPPED:
        TellScanStopped(*state);
        return 0;
    case WM_SETFOCUS:
        SetFocus(state->list);
        return 0;
    case WM_NOTIFY:
        return OnNotify(*state, reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND:
        OnDataCommand(*state, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == SCAN_TIMER && !state->busy) {
            // Slices until the tick's time is used: the list and the status bar are
            // updated once a tick, which costs far more than a slice of a file in the cache.
            DWORD started = GetTickCount();
            DataDocument::ScanProgress progress;
            do
                progress = state->document.ScanSome(SCAN_SLICE_BYTES);
            while (!progress.done && GetTickCount() - started < SCAN_TICK_MS);
            if (progress.done)
                KillTimer(window, SCAN_TIMER);
            state->scanned = progress.bytes;
            if (!state->filtered)
                SetItemCount(*state);
            UpdateStatus(*state);
        }
        return 0;
    case WM_CLOSE:
        if (!state->busy && MayClose(*state))
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, SCAN_TIMER);
        return 0;
    case WM_NCDESTROY: {
        openWindows.erase(std::remove(openWindows.begin(), openWindows.end(), state), openWindows.end());
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        if (state->font)
            DeleteObject(state->font);
        delete state;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK DataWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return HandleDataMessage(window, message, wParam, lParam);
    } catch (...) {
        HandleEscapedFailure();
        return 0;
    }
}

// Where a new data window of `width` x `height` goes: a step down and right of the main
// window for each data window open, back to the first step where it would leave the
// screen's work area.
POINT CascadedPlace(HWND owner, int width, int height)
{
    const int step = GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFRAME);
    RECT work = {0, 0, 1024, 768};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    RECT base = work;
    if (owner && IsWindow(owner))
        GetWindowRect(owner, &base);
    const int count = static_cast<int>(openWindows.size());
    int room = static_cast<int>(std::min(work.right - width - base.left, work.bottom - height - base.top));
    if (room < step) {
        // No room below and right of the main window: from the work area's corner.
        base = work;
        room = static_cast<int>(std::min(work.right - width - base.left, work.bottom - height - base.top));
    }
    const int fits = std::max(1, room / std::max(step, 1));
    const int n = count % fits + 1;
    POINT place = {base.left + n * step, base.top + n * step};
    place.x = std::max<LONG>(work.left, std::min<LONG>(place.x, work.right - width));
    place.y = std::max<LONG>(work.top, std::min<LONG>(place.y, work.bottom - height));
    return place;
}

}  // namespace

bool RegisterDataWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    if (GetClassInfoExA(instance, DATA_WINDOW_CLASS_NAME, &windowClass))
        return true;
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DataWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));   // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = DATA_WINDOW_CLASS_NAME;
    return RegisterClassExA(&windowClass) != 0;
}

HWND OpenDataWindow(HWND owner, const std::string& copybookPath, const std::string& dataPath,
                    const DataOptions& givenOptions, bool readOnly)
{
    InitCommonControls();
    HINSTANCE instance = frontEnd.instance ? frontEnd.instance : GetModuleHandleA(nullptr);
    if (!RegisterDataWindowClass(instance))
        return nullptr;
    std::unique_ptr<DataWindowState> state(new DataWindowState);
    state->copybookPath = copybookPath;
    state->dataPath = dataPath;
    // The window analyses the copybook for itself, under the rules of the list shown, so
    // that its layout stays while the main window loads another copybook.
    if (frontEnd.shownByCobolRules)
        state->analyzer.reset(new CobolAnalyzer(""));
    else
        state->analyzer.reset(new CopyAnalyzer(""));
    CopyItem* head = nullptr;
    try {
        state->analyzer->SetFileName(copybookPath.c_str());
        head = state->analyzer->Analyze();
    } catch (CException& failure) {
        modalUi.messageBox(owner, AnalysisFailureText(failure).c_str(), "エラー", MB_ICONWARNING);
        return nullptr;
    }
    state->options = givenOptions;
    state->options.variableOccurs = quillbox::VariableOccursOf(*state->analyzer);
    std::string error;
    if (!state->document.Open(head, static_cast<int>(state->analyzer->GetRecordLength()), dataPath, state->options, error,
                              readOnly)) {
        std::string text = dataPath + "\n" + error;
        modalUi.messageBox(owner, text.c_str(), DATA_CAPTION, MB_ICONWARNING);
        return nullptr;
    }

    POINT place = CascadedPlace(owner, 900, 640);
    HWND window = CreateWindowExA(0, DATA_WINDOW_CLASS_NAME, PRODUCT_NAME, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  place.x, place.y, 900, 640, nullptr, BuildMenu(), instance, nullptr);
    if (!window) {
        modalUi.messageBox(owner, "データウィンドウを作れません。", DATA_CAPTION, MB_ICONERROR);
        return nullptr;
    }
    DataWindowState& shown = *state;
    shown.window = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.release()));
    openWindows.push_back(&shown);

    shown.font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "ＭＳ Ｐゴシック");
    shown.status = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, "", window, IDC_DATA_STATUS);
    shown.list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS |
                                     LVS_NOSORTHEADER,
                                 0, 0, 100, 100, window, reinterpret_cast<HMENU>(IDC_DATA_LIST), instance, nullptr);
    shown.detail = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_NOSORTHEADER |
                                       LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                   0, 0, 100, 100, window, reinterpret_cast<HMENU>(IDC_DATA_DETAIL), instance, nullptr);
    for (HWND child : {shown.status, shown.list, shown.detail})
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(shown.font), FALSE);
    SendMessageA(shown.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    // The window keeps the list's selection (see DataWindowState::selected).
    listProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(shown.list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc)));
    SendMessageA(shown.list, LVM_SETCALLBACKMASK, LVIS_SELECTED, 0);
    SendMessageA(shown.detail, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    InsertColumns(shown);
    InsertDetailColumns(shown);
    SetScope(shown, SCOPE_ALL);
    Layout(shown);

    // Variable records: the first slice now, so that the first page shows at once; the
    // rest in timer slices while the window is in use.
    if (!shown.document.ScanDone()) {
        shown.scanned = shown.document.ScanSome(SCAN_SLICE_BYTES / 4).bytes;
        if (!shown.document.ScanDone())
            SetTimer(window, SCAN_TIMER, 10, nullptr);
    }
    SetItemCount(shown);
    FitColumns(shown);
    UpdateTitle(shown);
    UpdateStatus(shown);
    if (shown.document.RecordCount() > 0)
        SelectPosition(shown, 0);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return window;
}

void OpenDataFileCommand(HWND owner)
{
    if (!frontEnd.fileLoaded || !frontEnd.ShownAnalyzer().GetHead())
        return;
    if (frontEnd.currentFileName[0] == '\0') {
        modalUi.messageBox(owner, "貼り付けたコピー句ではデータファイルを開けません。コピー句をファイルから開いてください。",
                           DATA_CAPTION, MB_ICONWARNING);
        return;
    }
    std::string copybook = frontEnd.currentFileName;
    char name[MAX_PATH] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "すべてのファイル(*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = sizeof name;
    dialog.lpstrTitle = "データファイルの選択";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!modalUi.getOpenFileName(&dialog))
        return;
    name[sizeof name - 1] = '\0';

    auto remembered = rememberedSetup.find(copybook);
    dataSetup = remembered != rememberedSetup.end() ? remembered->second : DataSetupState();
    dataSetup.severalRecords = quillbox::RecordsOf(frontEnd.ShownAnalyzer().GetHead()).size() > 1;
    if (modalUi.dialogBox(frontEnd.instance, IDD_DATA_SETUP, owner, DataSetupDialogProc) <= 0)
        return;
    rememberedSetup[copybook] = dataSetup;
    OpenDataWindow(owner, copybook, name, dataSetup.options, dataSetup.readOnly);
}

namespace {

// Gives `pane` (the list or the detail pane) the keyboard focus; the detail pane's
// first line is focused when none is, so that the keys scroll it from the top.
void FocusPane(DataWindowState& state, HWND pane)
{
    if (pane == state.detail && SendMessageA(state.detail, LVM_GETITEMCOUNT, 0, 0) > 0 &&
        SendMessageA(state.detail, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED) < 0) {
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(state.detail, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
    }
    SetFocus(pane);
    InvalidateRect(state.list, nullptr, FALSE);
}

}  // namespace

bool DataWindowMessage(MSG& message)
{
    if (!message.hwnd)
        return false;
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    DataWindowState* state = nullptr;
    for (DataWindowState* open : openWindows)
        if (open->window == root)
            state = open;
    if (!state)
        return false;
    bool editing = state->editor && message.hwnd == state->editor;
    // Tab and Shift+Tab: the list, then the detail pane, then the list.
    if (!editing && message.message == WM_KEYDOWN && message.wParam == VK_TAB &&
        (GetKeyState(VK_CONTROL) & 0x8000) == 0 && !state->busy) {
        FocusPane(*state, GetFocus() == state->detail ? state->list : state->detail);
        return true;
    }
    if (!editing && TranslateAcceleratorA(root, Accelerators(), &message))
        return true;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

bool CloseDataWindows()
{
    for (HWND window : DataWindows()) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        if (IsWindow(window))
            return false;
    }
    return true;
}

std::vector<HWND> DataWindows()
{
    std::vector<HWND> windows;
    for (DataWindowState* state : openWindows)
        windows.push_back(state->window);
    return windows;
}

quillbox::DataDocument* DataWindowDocument(HWND window)
{
    DataWindowState* state = StateOf(window);
    return state ? &state->document : nullptr;
}

HWND DataWindowList(HWND window)
{
    DataWindowState* state = StateOf(window);
    return state ? state->list : nullptr;
}

HWND DataWindowDetail(HWND window)
{
    DataWindowState* state = StateOf(window);
    return state ? state->detail : nullptr;
}

std::string DataWindowStatus(HWND window, int part)
{
    DataWindowState* state = StateOf(window);
    if (!state)
        return std::string();
    char text[512] = "";
    LRESULT length = SendMessageA(state->status, SB_GETTEXTLENGTHA, part, 0);
    if (LOWORD(length) < sizeof text)
        SendMessageA(state->status, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
    return text;
}

int DataWindowCursorColumn(HWND window)
{
    DataWindowState* state = StateOf(window);
    return state ? state->cursorColumn : 0;
}

long long DataWindowRowAt(HWND window, int position)
{
    DataWindowState* state = StateOf(window);
    return state ? RowAt(*state, position) : -1;
}

void ForgetDataSettings()
{
    rememberedSetup.clear();
}
