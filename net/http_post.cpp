#include "net/http_post.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

namespace {

// False when the body was cut off: the connection failed during the read, or
// it ended before the length the server announced. Half a reply must not be
// read as a whole one (half a form address would be opened).
bool ReadBody(HINTERNET request, std::string& reply)
{
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available))
            return false;
        if (available == 0)
            break;
        std::vector<char> buffer(available);
        DWORD read = 0;
        // A failed read appends nothing; the next availability query decides.
        if (WinHttpReadData(request, buffer.data(), available, &read))
            reply.append(buffer.data(), read);
    }
    DWORD announced = 0, size = sizeof(announced);
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &announced, &size, WINHTTP_NO_HEADER_INDEX))
        return reply.size() >= announced;
    return true;  // chunked or unannounced: the end of the data is the end
}

// Windows 7's WinHTTP offers only TLS 1.0 unless the program asks for
// more, and the school's server takes TLS 1.2 or later. A WinHTTP that does
// not know TLS 1.3 refuses the whole option: asked again for 1.2 alone. One
// that refuses both keeps Windows' default (a registry value can make that
// TLS 1.2, see the IT guide).
void AskForCurrentTls(HINTERNET session)
{
    for (DWORD protocols : {DWORD{WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3},
                            DWORD{WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2}})
        if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols)))
            return;
}

}  // namespace

bool HttpPostJson(const wchar_t* host, const wchar_t* path, const std::string& body, std::string& reply,
                  const wchar_t* extraHeaders, int* status, const HttpTimeouts* timeouts)
{
    reply.clear();
    if (status)
        *status = 0;

    HINTERNET session = WinHttpOpen(L"ORVELSelvaroCBT/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return false;
    AskForCurrentTls(session);
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

    // Name resolution keeps the system's limit; a failure to set them leaves
    // the request with the system's limits too.
    if (timeouts)
        WinHttpSetTimeouts(request, 0, timeouts->connectMs, timeouts->sendMs, timeouts->receiveMs);

    // The whole body goes out with the request, its length announced.
    std::wstring headers = L"Content-Type: application/json; charset=UTF-8\r\n";
    if (extraHeaders)
        headers += extraHeaders;
    const DWORD length = static_cast<DWORD>(body.size());
    bool answered = WinHttpSendRequest(request, headers.c_str(), static_cast<DWORD>(-1),
                                       const_cast<char*>(body.data()), length, length, 0) &&
                    WinHttpReceiveResponse(request, nullptr);
    DWORD code = 0, size = sizeof(code);
    if (answered)
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
    if (answered && !ReadBody(request, reply)) {
        reply.clear();
        answered = false;
    }
    if (answered && status)
        *status = static_cast<int>(code);

    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return answered;
}
