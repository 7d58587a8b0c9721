// Loaded into gltriangles.exe by "e2e_probe launch" before WinMain runs, to
// make the platform refuse what WinMain asks for:
//   GLTRIANGLES_E2E_FAULT=register  "MinimalApp" is already registered for
//                                    the exe's instance, so RegisterClassA fails
//   GLTRIANGLES_E2E_FAULT=create     a CBT hook on the main thread vetoes the
//                                    creation of a "MinimalApp" window
#include <windows.h>
#include <tlhelp32.h>

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

// We run on a thread of our own; the process's other thread runs WinMain.
DWORD MainThreadId()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more && found == 0;
         more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId() &&
            entry.th32ThreadID != GetCurrentThreadId()) {
            found = entry.th32ThreadID;
        }
    }
    CloseHandle(snapshot);
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
