// The owner-only file on Windows: a protected DACL that lets the current user alone in (nothing
// inherited from the folder), on a new file that then replaces the old one, and set again on the
// file before it is read. A link (reparse point) at the file's place is never followed.
#include "signin/OwnerOnlyFile.h"

#include <windows.h>

#include <sddl.h>

#include <memory>

#include "base/WindowsText.h"

#include "signin/SignInErrors.h"

namespace {

[[noreturn]] void RaiseWriteError(const std::wstring& path) {
    throw ESecretStoreError(u"Cannot write " + TextFromWide(path.c_str()) + u".");
}

// "D:P(A;;FA;;;<the user's SID>)": full access for the user, protected from inherited entries.
std::wstring UserOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<BYTE[]> buffer(new BYTE[size ? size : 1]);
    wchar_t* sid = nullptr;
    const bool found = GetTokenInformation(token, TokenUser, buffer.get(), size, &size) &&
                       ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid);
    CloseHandle(token);
    if (!found)
        return {};
    const std::wstring descriptor = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    return descriptor;
}

// The user-only descriptor in the form the security calls take; nullptr when it cannot be made.
// Free with LocalFree.
PSECURITY_DESCRIPTOR UserOnlySecurity() {
    const std::wstring descriptor = UserOnlyDescriptor();
    PSECURITY_DESCRIPTOR security = nullptr;
    if (descriptor.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                  descriptor.c_str(), SDDL_REVISION_1, &security, nullptr))
        return nullptr;
    return security;
}

bool WriteNewFile(const std::wstring& path, std::string_view bytes) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, UserOnlySecurity(), FALSE};
    if (!attributes.lpSecurityDescriptor)
        return false;
    // A new file, so that it gets this descriptor rather than keep the one of a file left behind.
    DeleteFileW(path.c_str());
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(attributes.lpSecurityDescriptor);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool complete =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    return complete;
}

// Gives the open file the user-only, protected DACL (SetKernelObjectSecurity: Wine ignores a
// DACL given through SetSecurityInfo on a handle).
bool MakeUserOnly(HANDLE file) {
    const PSECURITY_DESCRIPTOR security = UserOnlySecurity();
    const bool made =
        security && SetKernelObjectSecurity(
                        file, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, security);
    LocalFree(security);
    return made;
}

[[noreturn]] void Refuse(const std::u16string& path, const char16_t* why) {
    throw ESecretStoreError(u"Refused " + path + u": " + why + u".");
}

} // namespace

std::optional<std::string> ReadOwnerOnlyFile(const std::u16string& path) {
    const HANDLE file =
        CreateFileW(WideChars(path), GENERIC_READ | READ_CONTROL | WRITE_DAC, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        Refuse(path, u"it cannot be opened");
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const char16_t* refusal = nullptr;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        refusal = u"it is a link or not a plain file";
    else if (!MakeUserOnly(file))
        refusal = u"it cannot be made readable by you alone";
    std::optional<std::string> bytes;
    LARGE_INTEGER size{};
    if (!refusal && GetFileSizeEx(file, &size) &&
        size.QuadPart <= static_cast<LONGLONG>(OwnerOnlyFileLimit)) {
        bytes.emplace(static_cast<size_t>(size.QuadPart), '\0');
        DWORD read = 0;
        if (!ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) ||
            read != bytes->size())
            bytes.reset();
    }
    CloseHandle(file);
    if (refusal)
        Refuse(path, refusal);
    return bytes;
}

void ReplaceOwnerOnlyFile(const std::u16string& path, std::string_view bytes) {
    const std::wstring target(WideChars(path));
    const std::wstring temporary = target + L".new";
    if (!WriteNewFile(temporary, bytes) ||
        !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        RaiseWriteError(target);
    }
}

void RemoveOwnerOnlyFile(const std::u16string& path) {
    DeleteFileW(WideChars(path));
}
