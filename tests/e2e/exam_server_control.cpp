#include "exam_server_control.h"

#include "driver.h"

#include <algorithm>
#include <cstdlib>

namespace server {

namespace {

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Written beside, then moved over the old file, so the server never reads half.
void WriteFileAtomically(const std::wstring& path, const std::string& content)
{
    const std::wstring temp = path + L".tmp";
    HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(f);
    MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::vector<std::wstring> RequestNames()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((Dir() + L"\\requests\\*.head").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        names.push_back(name.substr(0, name.size() - 5));
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::wstring Dir()
{
    const wchar_t* dir = _wgetenv(L"ORVEL_SERVER_DIR_WIN");
    return dir ? dir : L"";
}

namespace {

std::string AnswerJson(const Answer& a)
{
    std::string json = "{\"status\":" + std::to_string(a.status);
    if (!a.chunks.empty()) {
        json += ",\"chunks_hex\":[";
        for (std::size_t i = 0; i < a.chunks.size(); ++i)
            json += (i ? ",\"" : "\"") + Hex(a.chunks[i]) + "\"";
        json += "]";
    } else {
        json += ",\"body_hex\":\"" + Hex(a.body) + "\"";
    }
    json += ",\"delay_ms\":" + std::to_string(a.delayMs);
    if (!a.holdUntil.empty())
        json += ",\"hold_until\":\"" + a.holdUntil + "\"";
    if (a.cutAfter >= 0)
        json += ",\"cut_after\":" + std::to_string(a.cutAfter) + ",\"stall_ms\":" + std::to_string(a.stallMs);
    if (!a.commands.empty())
        json += ",\"commands\":" + a.commands;
    json += a.close ? ",\"close\":true}" : "}";
    return json;
}

}  // namespace

void SetAnswers(const std::vector<std::pair<std::string, Answer>>& answers)
{
    // A path given more than once answers in turn, its last answer repeating.
    std::vector<std::pair<std::string, std::vector<const Answer*>>> byPath;
    for (const auto& [path, a] : answers) {
        auto it = std::find_if(byPath.begin(), byPath.end(), [&](const auto& p) { return p.first == path; });
        if (it == byPath.end())
            byPath.push_back({path, {&a}});
        else
            it->second.push_back(&a);
    }
    std::string json = "{";
    for (const auto& [path, list] : byPath) {
        if (json.size() > 1)
            json += ",";
        json += "\"" + path + "\":";
        if (list.size() == 1) {
            json += AnswerJson(*list.front());
            continue;
        }
        json += "[";
        for (std::size_t i = 0; i < list.size(); ++i)
            json += (i ? "," : "") + AnswerJson(*list[i]);
        json += "]";
    }
    json += "}";
    WriteFileAtomically(Dir() + L"\\answers.json", json);
}

void ClearAnswers()
{
    DeleteFileW((Dir() + L"\\answers.json").c_str());
}

void SetTls(const char* which)
{
    WriteFileAtomically(Dir() + L"\\tls", which);
}

std::string Request::Path() const
{
    const std::size_t start = head.find(' ');
    const std::size_t end = head.find(' ', start + 1);
    return start == std::string::npos ? std::string() : head.substr(start + 1, end - start - 1);
}

std::string Request::Header(const std::string& name) const
{
    const std::string key = "\r\n" + name + ": ";
    const std::size_t at = head.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + key.size();
    return head.substr(from, head.find("\r\n", from) - from);
}

void Release(const std::string& name)
{
    WriteFileAtomically(Dir() + L"\\" + std::wstring(name.begin(), name.end()), "");
}

std::size_t AnsweredCount()
{
    std::size_t n = 0;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((Dir() + L"\\answered\\0*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    do
        ++n;
    while (FindNextFileW(h, &found));
    FindClose(h);
    return n;
}

void ClearRequests()
{
    for (const auto& name : RequestNames()) {
        DeleteFileW((Dir() + L"\\requests\\" + name + L".head").c_str());
        DeleteFileW((Dir() + L"\\requests\\" + name + L".body").c_str());
        DeleteFileW((Dir() + L"\\answered\\" + name).c_str());
        DeleteFileW((Dir() + L"\\arrived\\" + name).c_str());
    }
}

std::vector<Request> Requests()
{
    std::vector<Request> all;
    for (const auto& name : RequestNames()) {
        // The head is written last, so its body is complete.
        const std::wstring base = Dir() + L"\\requests\\" + name;
        Request r;
        r.head = driver::ReadFileBytes(base + L".head");
        r.body = driver::ReadFileBytes(base + L".body");
        r.answered = driver::ReadFileBytes(Dir() + L"\\answered\\" + name);
        const std::string arrived = driver::ReadFileBytes(Dir() + L"\\arrived\\" + name);
        if (!arrived.empty())
            r.arrivedMs = std::atof(arrived.c_str()) * 1000.0;
        all.push_back(std::move(r));
    }
    return all;
}

std::vector<Request> RequestsTo(const std::string& path)
{
    std::vector<Request> matching;
    for (auto& r : Requests())
        if (r.Path() == path)
            matching.push_back(std::move(r));
    return matching;
}

std::vector<Request> WaitForRequests(const std::string& path, std::size_t n, DWORD timeoutMs)
{
    std::vector<Request> got;
    driver::WaitFor([&] { return (got = RequestsTo(path)).size() >= n; }, timeoutMs);
    return got;
}

void Reset()
{
    ClearAnswers();
    // Releases of an earlier test must not let this one's holds go.
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((Dir() + L"\\release-*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do
            DeleteFileW((Dir() + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(h, &found));
        FindClose(h);
    }
    SetTls("good");
    ClearRequests();
    WIN32_FIND_DATAW done;
    HANDLE d = FindFirstFileW((Dir() + L"\\done\\*").c_str(), &done);
    if (d != INVALID_HANDLE_VALUE) {
        do
            if (!(done.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((Dir() + L"\\done\\" + done.cFileName).c_str());
        while (FindNextFileW(d, &done));
        FindClose(d);
    }
}

}  // namespace server
