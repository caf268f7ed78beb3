// Helper of the screenshot test, run on the Wine desktop of the screenshot:
//   screenshot_probe start PROGRAM COPYBOOK RESULT [fit-columns|DATAFILE]  starts PROGRAM
//                    (Quillbox.exe) on COPYBOOK, waits for its main window and checks that
//                    its list view shows as many rows as the copybook has shown items; then
//                    with fit-columns makes the window as large as the desktop and gives it
//                    設定 > 列幅の自動調整, or with DATAFILE
//                    opens it through ファイル > データファイルを開く (its open dialog and the
//                    settings dialog answered as they come) and checks the data window's
//                    rows; writes the verdict to RESULT
//   screenshot_probe close  closes the table, then the window
// The program is started from here, so that one process creates the Wine desktop: two
// started at once could both try to.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "quillbox.h"
#include "resource.h"

// A top-level window of `className` (null: any) with `title` (null: any) of the process
// `process`, waited for up to `attempts` tenths of a second.
static HWND WaitForWindow(const char* className, const char* title, DWORD process, int attempts = 100)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        for (HWND found = FindWindowExA(nullptr, nullptr, className, title); found;
             found = FindWindowExA(nullptr, found, className, title)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(found, &owner);
            if (owner == process)
                return found;
        }
        Sleep(100);
    }
    return nullptr;
}

// ファイル > データファイルを開く on `window`: the open dialog given `path`, the settings
// dialog confirmed as it comes; the data window's row count, 0 when it did not open.
static int OpenDataFile(HWND window, const char* path)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    PostMessageA(window, WM_COMMAND, IDM_OPEN_DATA, 0);
    HWND open = WaitForWindow("#32770", "データファイルの選択", process);
    if (!open)
        return 0;
    // The file name box: edt1 of the explorer-style dialog, or its combo box cmb13.
    for (int id : {0x480, 0x47c})
        if (HWND name = GetDlgItem(open, id))
            SetWindowTextA(name, path);
    PostMessageA(open, WM_COMMAND, IDOK, 0);
    HWND setup = WaitForWindow("#32770", "データファイルの設定", process);
    if (!setup)
        return 0;
    PostMessageA(setup, WM_COMMAND, IDOK, 0);
    HWND data = WaitForWindow("Quillbox_DataClass", nullptr, process);
    if (!data)
        return 0;
    HWND list = GetDlgItem(data, IDC_DATA_LIST);
    int rows = 0;
    for (int attempt = 0; attempt < 50 && rows == 0; ++attempt) {
        rows = ListView_GetItemCount(list);
        if (rows == 0)
            Sleep(100);
    }
    // From the keyboard, as the picture shows it: the cell cursor two columns on, then
    // Tab to the detail pane.
    for (WPARAM key : {WPARAM{VK_RIGHT}, WPARAM{VK_RIGHT}, WPARAM{VK_TAB}}) {
        PostMessageA(list, WM_KEYDOWN, key, 0);
        PostMessageA(list, WM_KEYUP, key, 0);
    }
    return rows;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    bool start = std::strcmp(argv[1], "start") == 0;
    DWORD started = 0;   // the process started here: its window, not one a run before left
    if (start) {
        if (argc < 5)
            return 2;
        std::string commandLine = std::string("\"") + argv[2] + "\" \"" + argv[3] + "\"";
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(argv[2], line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            std::printf("cannot start %s\n", argv[2]);
            return 1;
        }
        started = process.dwProcessId;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    HWND window = nullptr;
    for (int attempt = 0; attempt < 300 && !window; ++attempt) {
        for (HWND found = FindWindowExA(nullptr, nullptr, "Quillbox_Class", nullptr); found && !window;
             found = FindWindowExA(nullptr, found, "Quillbox_Class", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(found, &owner);
            if (started == 0 || owner == started)
                window = found;
        }
        if (!window)
            Sleep(100);
    }
    if (!window) {
        std::printf("no Quillbox window\n");
        return 1;
    }
    if (std::strcmp(argv[1], "close") == 0) {
        // The data windows first (they hold no edits), so that the quit has nothing to ask.
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        for (HWND data; (data = WaitForWindow("Quillbox_DataClass", nullptr, process, 1)) != nullptr;) {
            SendMessageA(data, WM_CLOSE, 0, 0);
            if (IsWindow(data))
                break;
        }
        SendMessageA(window, WM_COMMAND, IDM_CLOSE, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (!start)
        return 2;
    CopyAnalyzer analyzer(argv[3]);
    int expected = CountShownItems(analyzer.Analyze(), false);
    HWND list = GetDlgItem(window, IDC_ITEM_LIST);
    int rows = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        rows = ListView_GetItemCount(list);
        if (rows == expected)
            break;
        Sleep(100);
    }
    bool ok = rows == expected && expected > 0;
    int records = -1;
    if (ok && argc > 5) {
        if (std::strcmp(argv[5], "fit-columns") == 0) {
            // The whole desktop, so that the fitted columns show as far as the remarks.
            MoveWindow(window, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), TRUE);
            SendMessageA(window, WM_COMMAND, IDM_FIT_COLUMNS, 0);
        }
        else
            records = OpenDataFile(window, argv[5]);
    }
    if (FILE* file = std::fopen(argv[4], "w")) {
        std::fprintf(file, "%s rows %d, expected %d", ok && records != 0 ? "ok" : "failed", rows, expected);
        if (records >= 0)
            std::fprintf(file, ", data rows %d", records);
        std::fprintf(file, "\n");
        std::fclose(file);
    }
    return ok && records != 0 ? 0 : 1;
}
