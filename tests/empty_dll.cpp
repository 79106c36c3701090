// A DLL that exports nothing: stands in for a wrong or outdated Kestrune.dll.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
