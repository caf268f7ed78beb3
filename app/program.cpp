// Start-up of Quillbox.exe: the command-line argument, the temporary file's path, the
// window class, the main window, the accelerators and the message loop, and the
// top-level handler for failures that escape a command.
#include "desktop.h"
#include "data_window.h"

#include "modal_seam.h"
#include "resource.h"

namespace {

// The dialog manager is given the window procedure itself as the dialog procedure.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return static_cast<INT_PTR>(MainWindowProc(window, message, wParam, lParam));
}

int RunMessageLoop(HWND window, HACCEL accelerators)
{
    MSG message = {};
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1) {
            modalUi.messageBox(nullptr, "メッセージループ内でエラーが発生しました。", "::GetMessage", MB_ICONERROR);
            return 0;
        }
        // A data window's messages take its own keys, not the main window's.
        if (DataWindowMessage(message))
            continue;
        if (accelerators && TranslateAcceleratorA(window, accelerators, &message))
            continue;
        if (IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

void PrepareStartup(HINSTANCE instance, const char* commandLine)
{
    TakeCommandLineArgument(commandLine ? commandLine : "", frontEnd.currentFileName, sizeof frontEnd.currentFileName);
    frontEnd.instance = instance;
    char modulePath[MODULE_PATH_CAPACITY];
    DWORD length = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    if (length >= sizeof modulePath)
        length = sizeof modulePath - 1;
    modulePath[length] = '\0';
    BuildTempFilePath(modulePath, frontEnd.tempFilePath, sizeof frontEnd.tempFilePath);
}

bool RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MENU);
    windowClass.lpszClassName = WINDOW_CLASS_NAME;
    if (!RegisterClassA(&windowClass)) {
        modalUi.messageBox(nullptr, "ウィンドウクラスの登録に失敗しました。", "::RegisterClass", MB_ICONERROR);
        return false;
    }
    return true;
}

HWND CreateMainWindow(HINSTANCE instance)
{
    HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (!window)
        modalUi.messageBox(nullptr, "ダイアログウィンドウの作成に失敗しました。", "::CreateDialog", MB_ICONERROR);
    return window;
}

int RunProgram(HINSTANCE instance, int showMode)
{
    try {
        if (!RegisterMainWindowClass(instance))
            return 0;
        HWND window = CreateMainWindow(instance);
        if (!window)
            return 0;
        ShowWindow(window, showMode);
        UpdateWindow(window);
        HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCEL));
        if (!accelerators)
            modalUi.messageBox(nullptr, "アクセラレータのロードに失敗しました。。", "LoadAccelerators", MB_ICONERROR);
        return RunMessageLoop(window, accelerators);
    } catch (...) {
        HandleEscapedFailure();
        return 0;
    }
}

void HandleEscapedFailure()
{
    try {
        throw;
    } catch (CException failure) {
        modalUi.messageBox(nullptr, failure.GetMessageText(), failure.GetExceptionName(), MB_ICONERROR);
    } catch (const char* text) {
        modalUi.messageBox(nullptr, text ? text : "", "例外", MB_ICONERROR);
    } catch (...) {
        modalUi.messageBox(nullptr, "orz...", "例外", MB_ICONERROR);
    }
    modalUi.endProgram(0);
}
