// Loaded into gltriangles.exe by "e2e_probe launch" before WinMain runs, to
// make the platform refuse what WinMain asks for:
//   GLTRIANGLES_E2E_FAULT=register  "MinimalApp" is already registered for
//                                    the exe's instance, so RegisterClassA fails
//   GLTRIANGLES_E2E_FAULT=create     a CBT hook on the main thread vetoes the
//                                    creation of a "MinimalApp" window
#include <windows.h>

#include <string.h>

namespace {

LRESULT CALLBACK RefuseMainWindow(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        char cls[64];
        if (GetClassNameA(reinterpret_cast<HWND>(wParam), cls, sizeof cls) > 0 &&
            strcmp(cls, "MinimalApp") == 0) {
            return 1;
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

// The launcher shares (first in its mapping) the id of the thread that it created suspended,
// the one that will run WinMain; we run on a thread of our own.
DWORD MainThreadId()
{
    HANDLE shared = OpenFileMappingA(FILE_MAP_READ, FALSE, "gltriangles_e2e_fault");
    if (shared == NULL) return 0;
    const DWORD* id = static_cast<const DWORD*>(
        MapViewOfFile(shared, FILE_MAP_READ, 0, 0, sizeof(DWORD)));
    const DWORD found = id != NULL ? *id : 0;
    if (id != NULL) UnmapViewOfFile(id);
    CloseHandle(shared);
    return found;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char fault[16] = "";
    GetEnvironmentVariableA("GLTRIANGLES_E2E_FAULT", fault, sizeof fault);
    if (strcmp(fault, "register") == 0) {
        WNDCLASSA wc;
        memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "MinimalApp";
        return RegisterClassA(&wc) != 0;
    }
    if (strcmp(fault, "create") == 0) {
        const DWORD mainThread = MainThreadId();
        return mainThread != 0 &&
               SetWindowsHookExA(WH_CBT, RefuseMainWindow, self, mainThread) != NULL;
    }
    return FALSE;
}
