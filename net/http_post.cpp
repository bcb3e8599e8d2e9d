#include "net/http_post.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

namespace {

void ReadBody(HINTERNET request, std::string& reply)
{
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available) || available == 0)
            return;
        std::vector<char> buffer(available);
        DWORD read = 0;
        // A failed read appends nothing; the next availability query decides.
        if (WinHttpReadData(request, buffer.data(), available, &read))
            reply.append(buffer.data(), read);
    }
}

}  // namespace

bool HttpPostJson(const wchar_t* host, const wchar_t* path, const std::string& body, std::string& reply)
{
    reply.clear();

    HINTERNET session = WinHttpOpen(L"ORVELSelvaroCBT/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return false;
    HINTERNET connection = WinHttpConnect(session, host, INTERNET_DEFAULT_HTTPS_PORT, 0);
    if (!connection) {
        WinHttpCloseHandle(session);
        return false;
    }
    HINTERNET request = WinHttpOpenRequest(connection, L"POST", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!request) {
        WinHttpCloseHandle(connection);
        WinHttpCloseHandle(session);
        return false;
    }

    // The whole body goes out with the request, its length announced.
    const DWORD length = static_cast<DWORD>(body.size());
    const bool answered =
        WinHttpSendRequest(request, L"Content-Type: application/json; charset=UTF-8\r\n",
                           static_cast<DWORD>(-1), const_cast<char*>(body.data()), length, length, 0) &&
        WinHttpReceiveResponse(request, nullptr);
    if (answered)
        ReadBody(request, reply);

    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return answered;
}
