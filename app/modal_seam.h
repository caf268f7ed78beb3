// The modal user interface of Quillbox.exe, reached through one table of function
// pointers: message boxes, the open and save dialogs, the input and search dialogs, and
// the end of the program after a failure that escaped a command. The program uses the
// real Win32 calls; the window tests put their own functions in to answer the questions
// and to record what was asked.
#ifndef QUILLBOX_MODAL_SEAM_H
#define QUILLBOX_MODAL_SEAM_H

#include <windows.h>
#include <commdlg.h>

struct ModalUi {
    // MessageBoxA: owner, text, caption, buttons and icon; the button chosen.
    int (*messageBox)(HWND owner, const char* text, const char* caption, UINT type);
    // GetOpenFileNameA / GetSaveFileNameA: true when the user confirmed a name.
    BOOL (*getOpenFileName)(OPENFILENAMEA* dialog);
    BOOL (*getSaveFileName)(OPENFILENAMEA* dialog);
    // DialogBoxParamA with a template of this program's resources; the dialog's result.
    INT_PTR (*dialogBox)(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure);
    // Ends the program with `code` after the top-level handler has shown its message.
    void (*endProgram)(int code);
};

// The table in use; starts with the real Win32 functions.
extern ModalUi modalUi;

// The real functions, for restoring the table.
ModalUi RealModalUi();

#endif
