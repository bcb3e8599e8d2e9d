#include "net/proctor_command.h"

#include "net/events.h"
#include "net/exam_protocol.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Channel {
    std::mutex lock;
    CommandChannel rules;
    HWND window = nullptr;
    // Posted and not taken yet; only their addresses travel in the messages.
    std::vector<std::unique_ptr<ProctorCommand>> posted;
};

// Made once and never destroyed, as the reports' state: the sender thread
// may still use it while the process ends.
Channel& State()
{
    static Channel* const channel = new Channel;
    return *channel;
}

}  // namespace

void OpenProctorChannel(HWND window, const std::string& session)
{
    Channel& c = State();
    std::lock_guard<std::mutex> held(c.lock);
    OpenChannel(c.rules, session);
    c.window = window;
    c.posted.clear();
}

void CloseProctorChannel()
{
    Channel& c = State();
    std::lock_guard<std::mutex> held(c.lock);
    CloseChannel(c.rules);
    c.posted.clear();
}

std::string ProctorHeartbeatBody(const std::string& session, std::string& toldDone)
{
    Channel& c = State();
    std::lock_guard<std::mutex> held(c.lock);
    toldDone = DoneToTell(c.rules, session);
    return BuildHeartbeatBody(session, toldDone);
}

void OnHeartbeatAnswer(const std::string& session, const std::string& toldDone, bool answered, int status,
                       const std::string& reply)
{
    Channel& c = State();
    std::lock_guard<std::mutex> held(c.lock);
    const bool accepted = answered && status >= 200 && status < 300;
    ProctorCommand command = TakeHeartbeatAnswer(c.rules, session, toldDone, accepted, reply);
    if (command.kind == CommandKind::None)
        return;
    auto slot = std::make_unique<ProctorCommand>(std::move(command));
    ProctorCommand* address = slot.get();
    c.posted.push_back(std::move(slot));
    if (!PostMessageW(c.window, WM_PROCTOR_COMMAND, 0, reinterpret_cast<LPARAM>(address))) {
        // The next answer that repeats it hands it over again.
        ForgetTakenCommand(c.rules.memory, address->id);
        c.posted.pop_back();
    }
}

std::optional<ProctorCommand> TakeProctorCommand(LPARAM lParam)
{
    Channel& c = State();
    std::lock_guard<std::mutex> held(c.lock);
    // The address is compared, never followed, until it is known to be ours.
    const auto it = std::find_if(c.posted.begin(), c.posted.end(),
                                 [lParam](const auto& p) { return reinterpret_cast<LPARAM>(p.get()) == lParam; });
    if (it == c.posted.end())
        return std::nullopt;
    ProctorCommand command = std::move(**it);
    c.posted.erase(it);
    return command;
}

void ProctorCommandDone(const std::string& id)
{
    {
        Channel& c = State();
        std::lock_guard<std::mutex> held(c.lock);
        ChannelCommandDone(c.rules, id);
    }
    HurryHeartbeatForDone();
}
