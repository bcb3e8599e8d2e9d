#include "net/proctor_command_rules.h"

#include "net/json.h"

#include <algorithm>

namespace {

constexpr char32_t kBad = 0xFFFD;

// One code point from the UTF-8 at `i`, which moves past it; a malformed
// sequence (overlong, a surrogate, beyond U+10FFFF, cut short) is one bad
// byte at a time.
char32_t NextCodePoint(const std::string& s, std::size_t& i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    char32_t cp = 0, least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, least = 0x10000;
    } else {
        ++i;
        return kBad;
    }
    if (i + length > s.size()) {
        ++i;
        return kBad;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kBad;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kBad;
    }
    i += length;
    return cp;
}

// Unicode's format characters (general category Cf): invisible, and some
// turn the text around it (a bidi override can make "5 menit" read otherwise).
bool IsFormatCharacter(char32_t cp)
{
    struct Range {
        char32_t first, last;
    };
    static constexpr Range kFormat[] = {
        {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
        {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
        {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
        {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
        {0xE0020, 0xE007F},
    };
    return std::any_of(std::begin(kFormat), std::end(kFormat),
                       [cp](const Range& r) { return cp >= r.first && cp <= r.last; });
}

bool IsControl(char32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

bool HasVisibleCharacter(const std::string& text)
{
    return text.find_first_not_of(" \n") != std::string::npos;
}

CommandKind KindNamed(const std::string& name)
{
    if (name == "message")
        return CommandKind::Message;
    if (name == "end")
        return CommandKind::End;
    if (name == "lock")
        return CommandKind::Lock;
    if (name == "unlock")
        return CommandKind::Unlock;
    return CommandKind::None;
}

bool Holds(const std::vector<std::string>& ids, const std::string& id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

void Remove(std::vector<std::string>& ids, const std::string& id)
{
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
}

}  // namespace

bool IsCommandId(std::string_view id)
{
    if (id.empty() || id.size() > 32)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-';
    });
}

std::string CleanMessageText(const std::string& utf8)
{
    std::string out;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < utf8.size() && kept < kMessageMaxChars;) {
        char32_t cp = NextCodePoint(utf8, i);
        if (cp == '\r') {
            if (i < utf8.size() && utf8[i] == '\n')
                ++i;
            cp = '\n';
        } else if (cp == 0x2028 || cp == 0x2029) {
            cp = '\n';
        }
        if ((cp != '\n' && IsControl(cp)) || IsFormatCharacter(cp))
            continue;
        AppendUtf8(out, cp);
        ++kept;
    }
    return out;
}

ProctorCommand ReadProctorCommand(const std::string& answer)
{
    ProctorCommand none;
    if (!ExtractJsonBool(answer, "ok"))
        return none;
    ProctorCommand command;
    command.kind = KindNamed(ExtractJsonString(answer, "command"));
    command.id = ExtractJsonString(answer, "commandId");
    if (command.kind == CommandKind::None || !IsCommandId(command.id))
        return none;
    if (command.kind == CommandKind::Message) {
        command.text = CleanMessageText(ExtractJsonText(answer, "text"));
        if (!HasVisibleCharacter(command.text))
            return none;
    }
    return command;
}

CommandVerdict ConsiderCommand(CommandMemory& memory, const std::string& id)
{
    if (Holds(memory.done, id))
        return CommandVerdict::AlreadyDone;
    if (Holds(memory.taken, id))
        return CommandVerdict::AlreadyTaken;
    memory.taken.push_back(id);
    return CommandVerdict::Act;
}

void NoteCommandDone(CommandMemory& memory, const std::string& id)
{
    Remove(memory.taken, id);
    if (!Holds(memory.done, id))
        memory.done.push_back(id);
}

void ForgetTakenCommand(CommandMemory& memory, const std::string& id)
{
    Remove(memory.taken, id);
}

void OpenChannel(CommandChannel& channel, const std::string& session)
{
    channel.session = session;
    channel.memory = {};
    if (channel.doneSession != session) {
        channel.doneSession.clear();
        channel.doneId.clear();
    }
}

void CloseChannel(CommandChannel& channel)
{
    channel.session.clear();
    channel.memory = {};
}

void ChannelCommandDone(CommandChannel& channel, const std::string& id)
{
    if (channel.session.empty())
        return;
    NoteCommandDone(channel.memory, id);
    channel.doneSession = channel.session;
    channel.doneId = id;
}

std::string DoneToTell(const CommandChannel& channel, const std::string& session)
{
    return !session.empty() && channel.doneSession == session ? channel.doneId : std::string();
}

ProctorCommand TakeHeartbeatAnswer(CommandChannel& channel, const std::string& session, const std::string& toldDone,
                                   bool accepted, const std::string& reply)
{
    ProctorCommand none;
    if (accepted && !toldDone.empty() && channel.doneSession == session && channel.doneId == toldDone) {
        channel.doneSession.clear();
        channel.doneId.clear();
    }
    if (!accepted || session.empty() || session != channel.session)
        return none;
    ProctorCommand command = ReadProctorCommand(reply);
    if (command.kind == CommandKind::None)
        return none;
    switch (ConsiderCommand(channel.memory, command.id)) {
    case CommandVerdict::Act: return command;
    case CommandVerdict::AlreadyDone:
        channel.doneSession = session;
        channel.doneId = command.id;
        return none;
    case CommandVerdict::AlreadyTaken: return none;
    }
    return none;
}
