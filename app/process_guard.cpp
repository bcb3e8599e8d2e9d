#include "app/process_guard.h"

#include <windows.h>

#include <aclapi.h>

#include <vector>

namespace {

// What the user's own programs may do: Task Manager lists it and a program
// may wait for its end, nothing more.
constexpr DWORD kUserRights = PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION | SYNCHRONIZE |
                              READ_CONTROL;

// The user the program runs as; empty when it cannot be read.
std::vector<BYTE> CurrentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    std::vector<BYTE> sid;
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        const DWORD length = GetLengthSid(user);
        sid.resize(length);
        if (!CopySid(length, sid.data(), user))
            sid.clear();
    }
    CloseHandle(token);
    return sid;
}

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    std::vector<BYTE> sid(size);
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size))
        return {};
    sid.resize(size);
    return sid;
}

// A protected list on one of the program's own objects: SYSTEM and
// Administrators get `all`, the user (and the owner, whoever it is) `user`.
bool ProtectObject(HANDLE object, DWORD all, DWORD user)
{
    const std::vector<BYTE> system = WellKnownSid(WinLocalSystemSid);
    const std::vector<BYTE> admins = WellKnownSid(WinBuiltinAdministratorsSid);
    const std::vector<BYTE> ownerRights = WellKnownSid(WinCreatorOwnerRightsSid);
    const std::vector<BYTE> me = CurrentUserSid();
    if (system.empty() || admins.empty() || ownerRights.empty() || me.empty())
        return false;

    struct Entry {
        const std::vector<BYTE>& sid;
        DWORD rights;
    } const entries[] = {
        {system, all},
        {admins, all},
        {ownerRights, user},
        {me, user},
    };
    DWORD size = sizeof(ACL);
    for (const Entry& e : entries)
        size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(e.sid.size());
    std::vector<BYTE> buffer(size);
    PACL acl = reinterpret_cast<PACL>(buffer.data());
    if (!InitializeAcl(acl, size, ACL_REVISION))
        return false;
    for (const Entry& e : entries)
        if (!AddAccessAllowedAce(acl, ACL_REVISION, e.rights, const_cast<BYTE*>(e.sid.data())))
            return false;
    // Protected: nothing inherited joins the list.
    return SetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
}

// What the user's own programs may do to a thread of the program: look at
// it and wait for its end. Ending, suspending or changing its context (the
// window thread holds the hooks, the bar and the watch) is not among it.
constexpr DWORD kUserThreadRights = THREAD_QUERY_LIMITED_INFORMATION | THREAD_QUERY_INFORMATION | SYNCHRONIZE |
                                    READ_CONTROL;

// Windows 8 and later; on Windows 7 the program goes on without.
using SetMitigationPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
using SetDllDirectories = BOOL(WINAPI*)(DWORD);

template <typename Function>
Function Kernel32Function(const char* name)
{
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    // The usual cast of GetProcAddress's answer, by way of a plain pointer.
    return kernel32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name))) : nullptr;
}

}  // namespace

bool ProtectOwnProcess()
{
    return ProtectObject(GetCurrentProcess(), PROCESS_ALL_ACCESS, kUserRights);
}

bool ProtectOwnThread()
{
    return ProtectObject(GetCurrentThread(), THREAD_ALL_ACCESS, kUserThreadRights);
}

void KeepForeignCodeOut()
{
    // The legacy hooks, AppInit DLLs and other extension points stay out of
    // the process: a helper of the student's cannot load its code into it.
    if (const auto setPolicy = Kernel32Function<SetMitigationPolicy>("SetProcessMitigationPolicy")) {
        PROCESS_MITIGATION_EXTENSION_POINT_DISABLE_POLICY policy{};
        policy.DisableExtensionPoints = 1;
        setPolicy(ProcessExtensionPointDisablePolicy, &policy, sizeof(policy));
    }
    // DLLs the program loads by name come from the system folder only, never
    // from the folder it was started from or the current one.
    if (const auto setDirectories = Kernel32Function<SetDllDirectories>("SetDefaultDllDirectories"))
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
