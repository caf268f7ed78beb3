// Entry of Quillbox.exe.
#include "desktop.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showMode)
{
    PrepareStartup(instance, commandLine);
    return RunProgram(instance, showMode);
}
