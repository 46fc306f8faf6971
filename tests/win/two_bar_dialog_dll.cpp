// Resource-only DLL holding the two-bar dialog template for the dialog tests.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
