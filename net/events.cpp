#include "net/events.h"

#include "net/exam_protocol.h"
#include "net/exam_server.h"
#include "net/heartbeat_rules.h"
#include "net/http_post.h"
#include "net/proctor_command.h"
#include "net/random.h"
#include "net/text.h"
#include "net/worker.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace {

struct Reporting {
    std::mutex lock;
    std::condition_variable added;  // a report was queued
    ReportQueue queue;
    HeartbeatClock heartbeat;
    // The student of the exam last begun, whom every report names.
    std::string studentName;
    std::string className;
    std::string token;
    // The window thread's stamp and the sender's watch on it, during an exam
    // only. Under the lock rather than a lone atomic: a tick that comes back
    // and a stall report of the sender must agree on who reports the gap.
    bool watchingStamp = false;
    std::uint64_t tickStamp = 0;
    StampWatch stamp;
    std::function<std::string()> stallBody;
    bool senderStarted = false;
    HANDLE settled = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // ReportProgressEvent
};

// Made once and never destroyed: the sender thread still uses it while the
// process ends and its static objects go.
Reporting& State()
{
    static Reporting* const state = new Reporting;
    return *state;
}

std::uint64_t NowMs()
{
    return GetTickCount64();
}

// Reports and heartbeats only: one hung request must not hold the sender,
// and with it every report behind it, for the system's minute. The verify
// call keeps the system's limits.
constexpr HttpTimeouts kSenderTimeouts{5000, 10000, 10000};

std::string NewIdempotencyKey()
{
    std::array<std::uint8_t, 16> bytes{};
    FillRandom(bytes.data(), bytes.size());
    return IdempotencyKey(bytes);
}

// The sender thread: the front report whenever it is due, else a heartbeat
// when one is due, without holding the lock while the network works. One
// thread for both: a heartbeat leaves the reports' order alone, and one
// that was due just before the exam ended reaches the server before the
// reports of that end.
void SendReports()
{
    Reporting& state = State();
    std::unique_lock<std::mutex> held(state.lock);
    for (;;) {
        const std::uint64_t now = NowMs();
        // A heartbeat telling a proctor's command done goes before the reports.
        const QueuedReport* due = HeartbeatHurried(state.heartbeat) ? nullptr : DueReport(state.queue, now);
        if (due) {
            const QueuedReport report = *due;
            held.unlock();
            const std::wstring headers = ToWide(EventHeaders(report.idempotencyKey, report.session));
            std::string reply;
            int status = 0;
            const bool answered = HttpPostJson(kExamServerHost, kEventPath, report.body, reply, headers.c_str(),
                                               &status, &kSenderTimeouts);
            held.lock();
            // Only reports behind it were added meanwhile: the front is still this one.
            SettleFront(state.queue, ClassifyReply(answered, status), NowMs());
            SetEvent(state.settled);
            continue;
        }
        // A window thread that stopped: no more heartbeats (the page shows
        // the PC missing), and once its stamp is old enough, one report,
        // numbered on from the exam's count, made here since nothing else runs.
        bool fresh = true;
        if (state.watchingStamp) {
            const std::uint64_t age = LookAtStamp(state.stamp, state.tickStamp, now);
            fresh = StampFresh(age);
            if (StallToReport(state.stamp, state.tickStamp, age) && state.stallBody) {
                AddReport(state.queue, state.stallBody(), NewIdempotencyKey(), state.heartbeat.session);
                continue;
            }
        }
        const std::uint64_t untilHeartbeat = fresh ? MsUntilHeartbeat(state.heartbeat, now) : kNoHeartbeatDue;
        if (untilHeartbeat == 0) {
            const std::string session = HeartbeatSession(state.heartbeat);
            NoteHeartbeatSent(state.heartbeat, now);
            held.unlock();
            // Whatever the answer, the next one is simply due 15 s later.
            const std::wstring headers = ToWide(ExamSessionHeader(session));
            std::string told, reply;
            const std::string body = ProctorHeartbeatBody(session, told);
            int status = 0;
            const bool answered = HttpPostJson(kExamServerHost, kHeartbeatPath, body, reply, headers.c_str(),
                                               &status, &kSenderTimeouts);
            OnHeartbeatAnswer(session, told, answered, status, reply);
            held.lock();
            continue;
        }
        std::uint64_t wait = std::min(MsUntilDue(state.queue, now), untilHeartbeat);
        if (state.watchingStamp)
            wait = std::min(wait, kStampLookEveryMs);
        if (wait == kNoReportDue)
            state.added.wait(held);
        else
            state.added.wait_for(held, std::chrono::milliseconds(wait));
    }
}

// Starts the sender thread unless it runs. Called with the lock not held.
void EnsureSender()
{
    Reporting& state = State();
    {
        std::lock_guard<std::mutex> held(state.lock);
        if (state.senderStarted)
            return;
        state.senderStarted = true;
    }
    // A refused thread leaves the reports queued; the next report asks again.
    if (!g_startWorker(SendReports)) {
        std::lock_guard<std::mutex> held(state.lock);
        state.senderStarted = false;
    }
}

}  // namespace

ReportId SendExamEventAsync(const std::string& event, const std::string& detail)
{
    std::string key = NewIdempotencyKey();
    Reporting& state = State();
    ReportId id = 0;
    {
        std::lock_guard<std::mutex> held(state.lock);
        std::string body = BuildEventBody(state.studentName, state.className, state.token, event, detail);
        id = AddReport(state.queue, std::move(body), std::move(key), state.heartbeat.session);
    }
    state.added.notify_all();
    EnsureSender();
    return id;
}

void BeginExamPresence(const ExamPresence& exam)
{
    Reporting& state = State();
    {
        std::lock_guard<std::mutex> held(state.lock);
        state.studentName = exam.studentName;
        state.className = exam.className;
        state.token = exam.token;
        StartHeartbeats(state.heartbeat, exam.session, NowMs());
    }
    OpenProctorChannel(exam.window, exam.session);
    state.added.notify_all();
    if (!exam.session.empty())
        EnsureSender();
}

void EndExamPresence()
{
    Reporting& state = State();
    {
        std::lock_guard<std::mutex> held(state.lock);
        StopHeartbeats(state.heartbeat);
        state.watchingStamp = false;
        state.stallBody = nullptr;
    }
    CloseProctorChannel();
    state.added.notify_all();
}

void HurryHeartbeatForDone()
{
    Reporting& state = State();
    {
        std::lock_guard<std::mutex> held(state.lock);
        HurryHeartbeat(state.heartbeat);
    }
    state.added.notify_all();
}

void WatchWindowThread(std::function<std::string()> stallBody)
{
    Reporting& state = State();
    {
        std::lock_guard<std::mutex> held(state.lock);
        const std::uint64_t now = NowMs();
        state.watchingStamp = true;
        state.tickStamp = now;
        StartStampWatch(state.stamp, now);
        state.stallBody = std::move(stallBody);
    }
    state.added.notify_all();
    EnsureSender();
}

bool StampWatchTick(std::uint64_t now)
{
    Reporting& state = State();
    std::lock_guard<std::mutex> held(state.lock);
    const bool reported = StallAlreadyReported(state.stamp, state.tickStamp);
    state.tickStamp = now;
    return reported;
}

ReportFate FateOfReport(ReportId id)
{
    Reporting& state = State();
    std::lock_guard<std::mutex> held(state.lock);
    return FateOf(state.queue, id);
}

HANDLE ReportProgressEvent()
{
    return State().settled;
}

void HurryReports()
{
    Reporting& state = State();
    {
        std::lock_guard<std::mutex> held(state.lock);
        HurryFront(state.queue);
    }
    state.added.notify_all();
}

bool WaitForQueuedReports(DWORD timeoutMs)
{
    HurryReports();
    Reporting& state = State();
    const std::uint64_t end = NowMs() + timeoutMs;
    for (;;) {
        {
            std::lock_guard<std::mutex> held(state.lock);
            if (state.queue.waiting.empty())
                return true;
        }
        const std::uint64_t now = NowMs();
        if (now >= end)
            return false;
        WaitForSingleObject(state.settled, static_cast<DWORD>(end - now));
    }
}
