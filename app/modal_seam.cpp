// The real modal user interface: thin forwarders to Win32.
#include "modal_seam.h"

#include <cstdlib>

namespace {

int RealMessageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    return MessageBoxA(owner, text, caption, type);
}

BOOL RealGetOpenFileName(OPENFILENAMEA* dialog)
{
    return GetOpenFileNameA(dialog);
}

BOOL RealGetSaveFileName(OPENFILENAMEA* dialog)
{
    return GetSaveFileNameA(dialog);
}

INT_PTR RealDialogBox(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure)
{
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, procedure, 0);
}

// Static objects (the analysis object among them) are destroyed on the way out.
void RealEndProgram(int code)
{
    std::exit(code);
}

}  // namespace

ModalUi RealModalUi()
{
    // In the order of ModalUi's members.
    return ModalUi{RealMessageBox, RealGetOpenFileName, RealGetSaveFileName, RealDialogBox, RealEndProgram};
}

ModalUi modalUi = RealModalUi();
