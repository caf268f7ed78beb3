// Helper of the screenshot test, run on the Wine desktop of the screenshot:
//   screenshot_probe start PROGRAM COPYBOOK RESULT [COMMAND]  starts PROGRAM (Quillbox.exe) on
//                    COPYBOOK, waits for its main window and checks that its list view shows
//                    as many rows as the copybook has shown items; then gives the window the
//                    menu command COMMAND if there is one (fit-columns: 設定 > 列幅の自動調整);
//                    writes the verdict to RESULT
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

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    bool start = std::strcmp(argv[1], "start") == 0;
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
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    HWND window = nullptr;
    for (int attempt = 0; attempt < 300 && !window; ++attempt) {
        window = FindWindowA("Quillbox_Class", nullptr);
        if (!window)
            Sleep(100);
    }
    if (!window) {
        std::printf("no Quillbox window\n");
        return 1;
    }
    if (std::strcmp(argv[1], "close") == 0) {
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
    if (ok && argc > 5) {
        if (std::strcmp(argv[5], "fit-columns") == 0)
            SendMessageA(window, WM_COMMAND, IDM_FIT_COLUMNS, 0);
        else
            ok = false;
    }
    if (FILE* file = std::fopen(argv[4], "w")) {
        std::fprintf(file, "%s rows %d, expected %d\n", ok ? "ok" : "failed", rows, expected);
        std::fclose(file);
    }
    return ok ? 0 : 1;
}
