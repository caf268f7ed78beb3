// Helper of the screenshot test, run beside a running Quillbox.exe:
//   screenshot_probe check COPYBOOK [RESULT]  waits for the main window and checks that its list
//                                    view shows as many rows as the copybook has shown items
//   screenshot_probe close           closes the table, then the window
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "quillbox.h"
#include "resource.h"

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
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
    if (argc < 3)
        return 2;
    CopyAnalyzer analyzer(argv[2]);
    int expected = CountShownItems(analyzer.Analyze(), false);
    HWND list = GetDlgItem(window, IDC_ITEM_LIST);
    int rows = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        if (rows == expected)
            break;
        Sleep(100);
    }
    bool ok = rows == expected && expected > 0;
    if (argc > 3) {
        if (FILE* file = std::fopen(argv[3], "w")) {
            std::fprintf(file, "%s rows %d, expected %d\n", ok ? "ok" : "failed", rows, expected);
            std::fclose(file);
        }
    }
    return ok ? 0 : 1;
}
