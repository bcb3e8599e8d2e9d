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

}  // namespace

bool ProtectOwnProcess()
{
    const std::vector<BYTE> system = WellKnownSid(WinLocalSystemSid);
    const std::vector<BYTE> admins = WellKnownSid(WinBuiltinAdministratorsSid);
    const std::vector<BYTE> ownerRights = WellKnownSid(WinCreatorOwnerRightsSid);
    const std::vector<BYTE> user = CurrentUserSid();
    if (system.empty() || admins.empty() || ownerRights.empty() || user.empty())
        return false;

    struct Entry {
        const std::vector<BYTE>& sid;
        DWORD rights;
    } const entries[] = {
        {system, PROCESS_ALL_ACCESS},
        {admins, PROCESS_ALL_ACCESS},
        {ownerRights, kUserRights},
        {user, kUserRights},
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
    return SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                           nullptr) == ERROR_SUCCESS;
}
