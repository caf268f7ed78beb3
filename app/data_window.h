// The data window: a data file shown through the copybook of the main window, one
// top-level window per open file, over a quillbox::DataDocument (the rows, detail,
// find, filter, export and edits come from there; this part puts them on the screen).
#ifndef QUILLBOX_DATA_WINDOW_H
#define QUILLBOX_DATA_WINDOW_H

#include <windows.h>

#include <string>
#include <vector>

#include "datadoc.h"

constexpr const char* DATA_WINDOW_CLASS_NAME = "Quillbox_DataClass";

// Registers the data window's class; false on failure.
bool RegisterDataWindowClass(HINSTANCE instance);

// ファイル > データファイルを開く: the open dialog, the settings dialog, then a data
// window on the file. `owner` is the main window.
void OpenDataFileCommand(HWND owner);
// Opens `dataPath` laid out by the copybook `copybookPath` with `options` in a new data
// window; null (after its message) when it cannot be opened.
HWND OpenDataWindow(HWND owner, const std::string& copybookPath, const std::string& dataPath,
                    const quillbox::DataOptions& options, bool readOnly);

// The message loop's step for a message of a data window (its accelerators and the cell
// editor); true when the message was handled.
bool DataWindowMessage(MSG& message);

// Asks every data window to close (each asks about its unsaved edits); false when one
// stays open.
bool CloseDataWindows();

// The open data windows, and what the tests look at in one of them.
std::vector<HWND> DataWindows();
quillbox::DataDocument* DataWindowDocument(HWND window);
HWND DataWindowList(HWND window);
HWND DataWindowDetail(HWND window);
std::string DataWindowStatus(HWND window, int part);
// The list's column of the cell cursor (1 for the first of the document's columns).
int DataWindowCursorColumn(HWND window);
// The row of the document shown at list position `position`, -1 when none.
long long DataWindowRowAt(HWND window, int position);
// Forgets the remembered settings (the tests start every case afresh).
void ForgetDataSettings();

// The settings dialog's state while it is shown.
struct DataSetupState {
    quillbox::DataOptions options;
    bool readOnly = false;
    bool severalRecords = false;   // the copybook has several 01 records
};
extern DataSetupState dataSetup;
INT_PTR CALLBACK DataSetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
