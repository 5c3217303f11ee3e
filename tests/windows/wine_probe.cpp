// A helper program for the Windows whole-program tests, run under Wine beside the program under
// test. It reads back what the desktop shows and writes settings files with the platform's own
// functions; its output is UTF-8, one record a line.
//
// Every command but the last takes the name of the desktop to look at first (the one that
// "explorer /desktop=NAME,..." made):
//
//     wine_probe DESKTOP hold                      stays in the desktop until it is killed
//     wine_probe DESKTOP tips                      the tray's tool tips: left top right bottom<TAB>text
//     wine_probe DESKTOP balloons                  the texts of the tray's balloons
//     wine_probe DESKTOP windows                   visible top-level windows: client left top width
//                                          height<TAB>title
//     wine_probe DESKTOP write-profile FILE SECTION KEY VALUE [KEY VALUE...]
//                                          WritePrivateProfileStringW, one call a pair
//     wine_probe DESKTOP read-profile FILE SECTION KEY
//                                          GetPrivateProfileStringW
//     wine_probe DESKTOP erase-credential TARGET
//                                          CredDeleteW of a generic credential (none is no fault)
//     wine_probe                           as a stand-in mail program: writes its working folder
//                                          to a file beside itself named as it, plus ".started"
//
// The tips live in the tool-tip windows of the task bar's process: the query and the buffer for
// the answer are placed in that process's memory.

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <wincred.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

// ---- tips -----------------------------------------------------------------------------------

constexpr size_t TipBufferChars = 1024;

struct RemoteMemory {
    RemoteMemory(HANDLE process, size_t size)
        : process(process), address(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
    ~RemoteMemory() {
        if (address)
            VirtualFreeEx(process, address, 0, MEM_RELEASE);
    }
    HANDLE process;
    void* address;
};

void PrintToolsOf(HWND tooltip, HANDLE process) {
    const auto count = static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    RemoteMemory remote(process, sizeof(TTTOOLINFOW) + TipBufferChars * sizeof(wchar_t));
    if (!remote.address)
        return;
    auto* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote.address) + sizeof(TTTOOLINFOW));
    for (int index = 0; index < count; ++index) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.lpszText = remoteText;
        std::vector<wchar_t> text(TipBufferChars, L'\0');
        WriteProcessMemory(process, remoteText, text.data(), text.size() * sizeof(wchar_t), nullptr);
        WriteProcessMemory(process, remote.address, &tool, sizeof tool, nullptr);
        if (!SendMessageW(tooltip, TTM_ENUMTOOLSW, index, reinterpret_cast<LPARAM>(remote.address)))
            continue;
        ReadProcessMemory(process, remote.address, &tool, sizeof tool, nullptr);
        ReadProcessMemory(process, remoteText, text.data(), (text.size() - 1) * sizeof(wchar_t), nullptr);
        RECT place = tool.rect;
        MapWindowPoints(tool.hwnd, nullptr, reinterpret_cast<POINT*>(&place), 2);
        char rect[64];
        std::snprintf(rect, sizeof rect, "%ld %ld %ld %ld\t", place.left, place.top, place.right,
                      place.bottom);
        std::wstring tip(text.data());
        for (wchar_t& c : tip)
            if (c == L'\n' || c == L'\r')
                c = L'|';
        PrintLine(rect + Utf8(tip));
    }
}

// A balloon's text: its one tool's. (Wine's tool tips do not answer TTM_GETTITLE: the title
// cannot be read back.)
void PrintBalloon(HWND tooltip, HANDLE process) {
    RemoteMemory remote(process, sizeof(TTTOOLINFOW) + TipBufferChars * sizeof(wchar_t));
    if (!remote.address)
        return;
    auto* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote.address) + sizeof(TTTOOLINFOW));
    std::vector<wchar_t> text(TipBufferChars, L'\0');
    WriteProcessMemory(process, remoteText, text.data(), text.size() * sizeof(wchar_t), nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.lpszText = remoteText;
    WriteProcessMemory(process, remote.address, &tool, sizeof tool, nullptr);
    if (!SendMessageW(tooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(remote.address)))
        return;
    ReadProcessMemory(process, remoteText, text.data(), (text.size() - 1) * sizeof(wchar_t), nullptr);
    std::wstring body(text.data());
    for (wchar_t& c : body)
        if (c == L'\n' || c == L'\r')
            c = L'|';
    PrintLine(Utf8(body));
}

// Every tool-tip window of the task bar's process: its tips, or, with balloons, its balloons.
int PrintTrayToolTips(bool balloons) {
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!tray)
        return 1;
    DWORD trayProcess = 0;
    GetWindowThreadProcessId(tray, &trayProcess);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, trayProcess);
    if (!process)
        return 1;
    for (HWND window = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); window;
         window = FindWindowExW(nullptr, window, TOOLTIPS_CLASSW, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        const bool balloon = (GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON) != 0;
        if (owner != trayProcess || balloon != balloons)
            continue;
        if (balloons)
            PrintBalloon(window, process);
        else
            PrintToolsOf(window, process);
    }
    CloseHandle(process);
    return 0;
}

// ---- windows --------------------------------------------------------------------------------

BOOL CALLBACK PrintWindow(HWND window, LPARAM) {
    wchar_t title[256] = {};
    if (!IsWindowVisible(window) || GetWindowTextW(window, title, 256) == 0)
        return TRUE;
    RECT client;
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    char place[64];
    std::snprintf(place, sizeof place, "%ld %ld %ld %ld\t", origin.x, origin.y, client.right, client.bottom);
    PrintLine(place + Utf8(title));
    return TRUE;
}

// ---- settings files -------------------------------------------------------------------------

int WriteProfile(int argc, wchar_t** argv) {
    for (int pair = 4; pair + 1 < argc; pair += 2)
        if (!WritePrivateProfileStringW(argv[3], argv[pair], argv[pair + 1], argv[2]))
            return 1;
    return 0;
}

int ReadProfile(wchar_t** argv) {
    wchar_t value[2048] = {};
    GetPrivateProfileStringW(argv[3], argv[4], L"", value, 2048, argv[2]);
    PrintLine(Utf8(value));
    return 0;
}

// ---- the program's file and window ---------------------------------------------------------

// The version resource's product name, product version and description, one a line, then the
// number of icons in the file.
int PrintFileVersion(const wchar_t* path) {
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(path, &ignored));
    if (block.empty() || !GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()))
        return 1;
    for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileDescription"}) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        const bool found =
            VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length);
        PrintLine(found && value ? Utf8(value) : std::string());
    }
    PrintLine(std::to_string(ExtractIconExW(path, -1, nullptr, nullptr, 0)));
    return 0;
}

// ---- stand-in mail program ------------------------------------------------------------------

int RecordStart() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    const std::string text = Utf8(folder);
    HANDLE file = CreateFileW((std::wstring(self) + L".started").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}

// A process started from outside runs on the default desktop; the windows to look at are on
// another one. A failure says which call failed and why, for the test that asked.
bool JoinDesktop(const wchar_t* name) {
    HDESK desktop = OpenDesktopW(name, 0, FALSE, GENERIC_ALL);
    if (!desktop) {
        std::printf("OpenDesktopW failed: error %lu\n", GetLastError());
        return false;
    }
    if (!SetThreadDesktop(desktop)) {
        std::printf("SetThreadDesktop failed: error %lu\n", GetLastError());
        return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 1)
        return RecordStart();
    if (!JoinDesktop(argv[1]))
        return 1;
    --argc;
    ++argv;
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"hold") {
        // Keeps the desktop open while nothing else runs in it: Wine closes a desktop about a
        // second after the last program other than its task bar has left it.
        Sleep(INFINITE);
        return 0;
    }
    if (command == L"tips")
        return PrintTrayToolTips(false);
    if (command == L"balloons")
        return PrintTrayToolTips(true);
    if (command == L"windows") {
        if (EnumWindows(PrintWindow, 0))
            return 0;
        std::printf("EnumWindows failed: error %lu\n", GetLastError());
        return 1;
    }
    if (command == L"write-profile" && argc >= 6)
        return WriteProfile(argc, argv);
    if (command == L"read-profile" && argc == 5)
        return ReadProfile(argv);
    if (command == L"file-version" && argc == 3)
        return PrintFileVersion(argv[2]);
    if (command == L"erase-credential" && argc == 3)
        return CredDeleteW(argv[2], CRED_TYPE_GENERIC, 0) || GetLastError() == ERROR_NOT_FOUND ? 0 : 1;
    std::fputs("usage: wine_probe DESKTOP hold | tips | balloons | windows | write-profile FILE SECTION KEY "
               "VALUE... | "
               "read-profile FILE SECTION KEY | erase-credential TARGET | file-version EXE\n",
               stderr);
    return 2;
}
