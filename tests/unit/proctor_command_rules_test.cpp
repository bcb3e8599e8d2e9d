// Reading the proctor's command from a heartbeat's answer, and what the
// program remembers of the commands of one exam.
#include "net/exam_protocol.h"
#include "net/heartbeat_rules.h"
#include "net/json.h"
#include "net/proctor_command_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

std::string Answer(const std::string& kind, const std::string& id, const std::string& textMember = "")
{
    return R"({"ok":true,"command":")" + kind + R"(","commandId":")" + id + "\"" + textMember + "}";
}

const char* KindName(CommandKind k)
{
    switch (k) {
    case CommandKind::None: return "none";
    case CommandKind::Message: return "message";
    case CommandKind::End: return "end";
    case CommandKind::Lock: return "lock";
    case CommandKind::Unlock: return "unlock";
    }
    return "?";
}

TEST(ReadProctorCommand, TakesTheFourKindsWithAGoodIdAndRefusesTheRest)
{
    const std::string id32(32, 'z');
    struct {
        std::string answer;
        CommandKind kind;
        std::string id, text;
    } const rows[] = {
        {Answer("end", "c1"), CommandKind::End, "c1", ""},
        {Answer("lock", "Az09_-"), CommandKind::Lock, "Az09_-", ""},
        {Answer("unlock", id32), CommandKind::Unlock, id32, ""},
        {Answer("end", "aZ"), CommandKind::End, "aZ", ""},
        {Answer("message", "m", R"(,"text":"Sepuluh menit lagi")"), CommandKind::Message, "m", "Sepuluh menit lagi"},
        // The members in any order, a plain heartbeat answer around them.
        {R"({"text":"Hai","commandId":"x1","ok":true,"command":"message"})", CommandKind::Message, "x1", "Hai"},
        {R"({"ok":true})", CommandKind::None, "", ""},
        {"", CommandKind::None, "", ""},
        // Not ok, or ok written another way: no command.
        {R"({"ok":false,"command":"end","commandId":"c1"})", CommandKind::None, "", ""},
        {R"({"ok": true,"command":"end","commandId":"c1"})", CommandKind::None, "", ""},
        // Kinds: exact, lower case.
        {Answer("END", "c1"), CommandKind::None, "", ""},
        {Answer("shutdown", "c1"), CommandKind::None, "", ""},
        {Answer("", "c1"), CommandKind::None, "", ""},
        {R"({"ok":true,"command": "end","commandId":"c1"})", CommandKind::None, "", ""},
        // Ids: 1 to 32 of [0-9A-Za-z_-].
        {Answer("end", ""), CommandKind::None, "", ""},
        {Answer("end", id32 + "z"), CommandKind::None, "", ""},
        {Answer("end", "a b"), CommandKind::None, "", ""},
        {Answer("end", "a.b"), CommandKind::None, "", ""},
        // The neighbours of the allowed ranges.
        {Answer("end", "a/b"), CommandKind::None, "", ""},
        {Answer("end", "a:b"), CommandKind::None, "", ""},
        {Answer("end", "a@b"), CommandKind::None, "", ""},
        {Answer("end", "a[b"), CommandKind::None, "", ""},
        {Answer("end", "a`b"), CommandKind::None, "", ""},
        {Answer("end", "a{b"), CommandKind::None, "", ""},
        {Answer("end", "a\\\"b"), CommandKind::None, "", ""},
        {Answer("end", "\xC3\xA9"), CommandKind::None, "", ""},
        {R"({"ok":true,"command":"end"})", CommandKind::None, "", ""},
        {R"({"ok":true,"command":"end","commandId":7})", CommandKind::None, "", ""},
        // A message needs a text that shows something.
        {Answer("message", "m"), CommandKind::None, "", ""},
        {Answer("message", "m", R"(,"text":"")"), CommandKind::None, "", ""},
        {Answer("message", "m", R"(,"text":" \n\r\n ")"), CommandKind::None, "", ""},
        {Answer("message", "m", R"(,"text":"\u200b\u202e\t")"), CommandKind::None, "", ""},
        // Another kind's text is not looked at.
        {Answer("lock", "l", R"(,"text":"abaikan")"), CommandKind::Lock, "l", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.answer);
        const ProctorCommand got = ReadProctorCommand(r.answer);
        EXPECT_STREQ(KindName(got.kind), KindName(r.kind));
        EXPECT_EQ(got.id, r.id);
        EXPECT_EQ(got.text, r.text);
    }
}

std::string Bad(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += "\xEF\xBF\xBD";
    return s;
}

TEST(ReadProctorCommand, UndoesTheEscapesOfTheTextAndCleansIt)
{
    struct {
        const char* what;
        std::string jsonText;  // between the quotes, as the server writes it
        std::string shown;
    } const rows[] = {
        {"line breaks kept", R"(Baris 1\nBaris 2\r\nBaris 3\rBaris 4)", "Baris 1\nBaris 2\nBaris 3\nBaris 4"},
        {"quote, backslash, slash", R"(\"a\" \\ \/)", "\"a\" \\ /"},
        {"tab and other controls dropped", R"(a\tb\u0007c\u001bd\u0000e\bf\u007fg\u0085h)", "abcdefgh"},
        {"the ends of the control ranges dropped, their neighbours kept", R"(a\u001fb\u0020c\u007ed\u009fe\u00a0f)",
         "ab c~de\xC2\xA0" "f"},
        {"raw control bytes dropped", "a\x01" "b\x7f" "c", "abc"},
        {"escaped letters beyond ASCII", R"(Bu Sri \u00d1o\u00f1o \u20ac)", "Bu Sri \xC3\x91o\xC3\xB1o \xE2\x82\xAC"},
        {"hex digits in upper case", R"(\u00C9\u00c9)", "\xC3\x89\xC3\x89"},
        {"the edges of UTF-8's lengths", R"(\u07ff\u0800\uffff\ud800\udc00\udbff\udfff)",
         "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"raw UTF-8 kept", "Ibu \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "Ibu \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"a surrogate pair", R"(\ud83d\ude00!)", "\xF0\x9F\x98\x80!"},
        {"a lone surrogate", R"(a\ud83db\ude00c)", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c"},
        {"a high surrogate before an escape that is no low one", R"(\ud83d\ue000)", "\xEF\xBF\xBD\xEE\x80\x80"},
        {"a broken escape", R"(a\u12G4b\q)", "a\xEF\xBF\xBD" "12G4b\xEF\xBF\xBD"},
        {"bidi overrides and isolates dropped", R"(\u202e5 menit\u202c\u2066x\u2069)", "5 menitx"},
        {"zero-width and joiners dropped", R"(a\u200bb\u200cc\u200dd\u2060e\ufefff\u00adg)", "abcdefg"},
        {"the ends of the format ranges dropped", R"(a\u200e\u200fb\u202ac\u2064d\udb40\udc7fe)", "abcde"},
        {"raw format characters dropped", "a\xE2\x80\xAE" "b\xEF\xBB\xBF" "c", "abc"},
        {"line and paragraph separators are line breaks", R"(a\u2028b\u2029c)", "a\nb\nc"},
        {"malformed UTF-8 shown as U+FFFD", "a\xC3(b\xED\xA0\x80" "c\xC0\xAF", "a\xEF\xBF\xBD(b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                                                                       "c\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"raw UTF-8 at the edges of what is allowed",
         "\xF4\x8F\xBF\xBF|\xF4\x90\x80\x80|\xED\x9F\xBF|\xED\xBF\xBF|\xE0\x9F\xBF|\xE0\xA0\x80|\xF8\x90\x80\x80",
         "\xF4\x8F\xBF\xBF|" + Bad(4) + "|\xED\x9F\xBF|" + Bad(3) + "|" + Bad(3) + "|\xE0\xA0\x80|" + Bad(4)},
        {"the text ends at its closing quote", R"(satu","text":"dua)", "satu"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const ProctorCommand got = ReadProctorCommand(Answer("message", "m1", ",\"text\":\"" + r.jsonText + "\""));
        EXPECT_STREQ(KindName(got.kind), "message");
        EXPECT_EQ(got.text, r.shown);
    }
}

TEST(CleanMessageText, CutsAtThreeHundredCharactersNotBytes)
{
    const std::string euro = "\xE2\x82\xAC";
    std::string threeHundredEuros, threeHundredOne;
    for (int i = 0; i < 300; ++i)
        threeHundredEuros += euro;
    threeHundredOne = threeHundredEuros + "x";
    struct {
        const char* what;
        std::string in, out;
    } const rows[] = {
        {"300 letters stay", std::string(300, 'a'), std::string(300, 'a')},
        {"the 301st goes", std::string(301, 'a'), std::string(300, 'a')},
        {"300 three-byte characters stay", threeHundredEuros, threeHundredEuros},
        {"one more goes", threeHundredOne, threeHundredEuros},
        {"dropped characters do not count", std::string(50, '\x01') + std::string(300, 'b') + "c", std::string(300, 'b')},
        {"a line break counts as one", std::string(299, 'a') + "\r\nb", std::string(299, 'a') + "\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(CleanMessageText(r.in), r.out);
    }
}

TEST(CommandMemory, EachIdIsActedOnOnceAndADoneOneIsToldAgain)
{
    CommandMemory m;
    EXPECT_EQ(ConsiderCommand(m, "a"), CommandVerdict::Act);
    EXPECT_EQ(ConsiderCommand(m, "a"), CommandVerdict::AlreadyTaken) << "handed over, not done yet";
    EXPECT_EQ(ConsiderCommand(m, "b"), CommandVerdict::Act);
    NoteCommandDone(m, "a");
    EXPECT_EQ(ConsiderCommand(m, "a"), CommandVerdict::AlreadyDone);
    EXPECT_EQ(ConsiderCommand(m, "A"), CommandVerdict::Act) << "ids are told apart by letter case";
    ForgetTakenCommand(m, "b");
    EXPECT_EQ(ConsiderCommand(m, "b"), CommandVerdict::Act) << "a command not acted on can come again";
    NoteCommandDone(m, "b");
    NoteCommandDone(m, "b");
    EXPECT_EQ(m.done, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(m.taken, (std::vector<std::string>{"A"}));
}

const std::string kS = "0123456789abcdef0123456789abcdef";
const std::string kOther = "ffffffffffffffffffffffffffffffff";

// One exam's commands as the sender and the GUI thread take them, step by
// step: what each heartbeat carries as "done", and what is handed over.
TEST(CommandChannel, DoneToldOnceAcceptedNeverActedOnTwiceAndNothingAfterTheEnd)
{
    enum class Step { Open, Answer, Done, Close };
    struct {
        const char* what;
        Step step;
        std::string session;  // of the heartbeat (Answer), or of the exam (Open)
        std::string told;     // Answer: the done it carried; Done: the id
        bool accepted;
        std::string reply;
        std::string handedOver;  // the id handed to the GUI thread, if any
        std::string doneNext;    // what the next heartbeat of kS carries
    } const rows[] = {
        {"the launch", Step::Open, kS, "", false, "", "", ""},
        {"a plain answer", Step::Answer, kS, "", true, R"({"ok":true})", "", ""},
        {"a message", Step::Answer, kS, "", true, Answer("message", "m1", R"(,"text":"Hai")"), "m1", ""},
        {"repeated before it is done", Step::Answer, kS, "", true, Answer("message", "m1", R"(,"text":"Hai")"), "", ""},
        {"shown", Step::Done, "", "m1", false, "", "", "m1"},
        {"the done heartbeat fails", Step::Answer, kS, "m1", false, "", "", "m1"},
        {"its answer is a 500", Step::Answer, kS, "m1", false, Answer("lock", "l1"), "", "m1"},
        {"accepted, with the next command", Step::Answer, kS, "m1", true, Answer("lock", "l1"), "l1", ""},
        {"locked", Step::Done, "", "l1", false, "", "", "l1"},
        {"the server had not heard: l1 again", Step::Answer, kS, "", true, Answer("lock", "l1"), "", "l1"},
        {"told, and heard", Step::Answer, kS, "l1", true, R"({"ok":true})", "", ""},
        {"an old command again", Step::Answer, kS, "", true, Answer("message", "m1", R"(,"text":"Hai")"), "", "m1"},
        {"told again", Step::Answer, kS, "m1", true, R"({"ok":true})", "", ""},
        {"another exam's answer", Step::Answer, kOther, "", true, Answer("end", "e9"), "", ""},
        {"a command not meant for the program", Step::Answer, kS, "", true, Answer("reboot", "r1"), "", ""},
        {"the end command", Step::Answer, kS, "", true, Answer("end", "e1"), "e1", ""},
        {"its end begun", Step::Done, "", "e1", false, "", "", "e1"},
        {"the exam ends", Step::Close, "", "", false, "", "", "e1"},
        {"its last heartbeat, answered with a command", Step::Answer, kS, "e1", true, Answer("unlock", "u1"), "", ""},
        {"a late done after the end is not kept", Step::Done, "", "u1", false, "", "", ""},
        {"the same session again (a new launch)", Step::Open, kS, "", false, "", "", ""},
        {"its first command is new to it", Step::Answer, kS, "", true, Answer("message", "m1", R"(,"text":"Lagi")"), "m1", ""},
    };
    CommandChannel channel;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        std::string handed;
        switch (r.step) {
        case Step::Open: OpenChannel(channel, r.session); break;
        case Step::Close: CloseChannel(channel); break;
        case Step::Done: ChannelCommandDone(channel, r.told); break;
        case Step::Answer:
            handed = TakeHeartbeatAnswer(channel, r.session, r.told, r.accepted, r.reply).id;
            break;
        }
        EXPECT_EQ(handed, r.handedOver);
        EXPECT_EQ(DoneToTell(channel, kS), r.doneNext);
        EXPECT_EQ(DoneToTell(channel, kOther), "") << "never in another exam's heartbeat";
    }
}

TEST(CommandChannel, ANewExamDropsTheLastOnesUntoldDone)
{
    CommandChannel channel;
    OpenChannel(channel, kS);
    ASSERT_EQ(TakeHeartbeatAnswer(channel, kS, "", true, Answer("end", "e1")).id, "e1");
    ChannelCommandDone(channel, "e1");
    CloseChannel(channel);
    OpenChannel(channel, kOther);
    EXPECT_EQ(DoneToTell(channel, kS), "");
    EXPECT_EQ(DoneToTell(channel, kOther), "");
    EXPECT_EQ(TakeHeartbeatAnswer(channel, kOther, "", true, Answer("end", "e1")).id, "e1") << "a fresh memory";

    CloseChannel(channel);
    EXPECT_EQ(TakeHeartbeatAnswer(channel, "", "", true, Answer("end", "e2")).id, "") << "no exam runs: nothing";

    OpenChannel(channel, kS);
    ASSERT_EQ(TakeHeartbeatAnswer(channel, kS, "", true, Answer("message", "m1", R"(,"text":"Hai")")).id, "m1");
    OpenChannel(channel, kOther);
    EXPECT_EQ(TakeHeartbeatAnswer(channel, kOther, "", true, Answer("message", "m1", R"(,"text":"Hai")")).id, "m1")
        << "a launch starts a fresh memory even without an end told before it";
}

TEST(CommandChannel, ARelaunchOfTheSameExamKeepsItsUntoldDone)
{
    CommandChannel channel;
    OpenChannel(channel, kS);
    ASSERT_EQ(TakeHeartbeatAnswer(channel, kS, "", true, Answer("lock", "l1")).id, "l1");
    ChannelCommandDone(channel, "l1");
    CloseChannel(channel);
    OpenChannel(channel, kS);
    EXPECT_EQ(DoneToTell(channel, kS), "l1");
}

// A heartbeat's answer settles the "done" that heartbeat carried, and no
// other: one that went out before a command was done, or before a later one,
// or of an earlier exam whose ids the next one uses again.
TEST(CommandChannel, AnAnswerSettlesOnlyTheDoneItsHeartbeatCarried)
{
    CommandChannel channel;
    OpenChannel(channel, kS);
    ASSERT_EQ(TakeHeartbeatAnswer(channel, kS, "", true, Answer("message", "m1", R"(,"text":"Hai")")).id, "m1");
    ASSERT_EQ(TakeHeartbeatAnswer(channel, kS, "", true, Answer("lock", "l1")).id, "l1");
    ChannelCommandDone(channel, "m1");
    TakeHeartbeatAnswer(channel, kS, "", true, R"({"ok":true})");
    EXPECT_EQ(DoneToTell(channel, kS), "m1") << "answer to a heartbeat sent before m1 was done";
    const std::string told = DoneToTell(channel, kS);
    ChannelCommandDone(channel, "l1");
    TakeHeartbeatAnswer(channel, kS, told, true, R"({"ok":true})");
    EXPECT_EQ(DoneToTell(channel, kS), "l1") << "m1's answer leaves l1 to tell";

    OpenChannel(channel, kOther);
    ASSERT_EQ(TakeHeartbeatAnswer(channel, kOther, "", true, Answer("lock", "l1")).id, "l1");
    ChannelCommandDone(channel, "l1");
    TakeHeartbeatAnswer(channel, kS, "l1", true, R"({"ok":true})");
    EXPECT_EQ(DoneToTell(channel, kOther), "l1") << "the earlier exam's l1 is not this one's";
}

// The heartbeat that tells a command done: at once, ahead of the reports,
// and one hurried just before the exam's end still goes with its session.
TEST(HeartbeatClock, AHurriedHeartbeatIsDueAtOnceAndOutlivesTheEndOnce)
{
    HeartbeatClock clock;
    HurryHeartbeat(clock);
    EXPECT_FALSE(HeartbeatHurried(clock)) << "no exam: nothing to hurry";
    EXPECT_EQ(MsUntilHeartbeat(clock, 10), kNoHeartbeatDue);

    StartHeartbeats(clock, kS, 1000);
    EXPECT_EQ(MsUntilHeartbeat(clock, 2000), 14000u);
    HurryHeartbeat(clock);
    EXPECT_TRUE(HeartbeatHurried(clock));
    EXPECT_EQ(MsUntilHeartbeat(clock, 2000), 0u);
    EXPECT_TRUE(HeartbeatHurried(clock)) << "a report's try between does not tell the done";
    EXPECT_EQ(HeartbeatSession(clock), kS);
    NoteHeartbeatSent(clock, 2200);
    EXPECT_FALSE(HeartbeatHurried(clock));
    EXPECT_EQ(MsUntilHeartbeat(clock, 2200), 15000u) << "the next one 15 s later";

    StopHeartbeats(clock);
    EXPECT_EQ(MsUntilHeartbeat(clock, 3000), kNoHeartbeatDue) << "not hurried: nothing after the end";

    StartHeartbeats(clock, kS, 5000);
    HurryHeartbeat(clock);
    StopHeartbeats(clock);
    EXPECT_TRUE(clock.session.empty()) << "reports made from now on carry no session";
    EXPECT_TRUE(HeartbeatHurried(clock));
    EXPECT_EQ(MsUntilHeartbeat(clock, 5001), 0u);
    EXPECT_EQ(HeartbeatSession(clock), kS) << "the ended exam's last heartbeat";
    NoteHeartbeatSent(clock, 5002);
    EXPECT_EQ(MsUntilHeartbeat(clock, 90000), kNoHeartbeatDue) << "and then none";
    EXPECT_EQ(HeartbeatSession(clock), "");

    // A launch before the ended exam's hurried heartbeat went: that one is
    // dropped, and the new exam's first is due 15 s on, as after any launch.
    StartHeartbeats(clock, kS, 100000);
    HurryHeartbeat(clock);
    StopHeartbeats(clock);
    StartHeartbeats(clock, kOther, 100500);
    EXPECT_FALSE(HeartbeatHurried(clock));
    EXPECT_EQ(MsUntilHeartbeat(clock, 100500), 15000u);
    EXPECT_EQ(HeartbeatSession(clock), kOther);
    HurryHeartbeat(clock);
    StartHeartbeats(clock, kS, 101000);
    EXPECT_EQ(MsUntilHeartbeat(clock, 101000), 15000u) << "a launch without an end before it";
}

TEST(BuildHeartbeatBody, CarriesTheDoneOnlyWhenThereIsOne)
{
    EXPECT_EQ(BuildHeartbeatBody(kS), R"({"session":")" + kS + "\"}");
    EXPECT_EQ(BuildHeartbeatBody(kS, ""), R"({"session":")" + kS + "\"}");
    EXPECT_EQ(BuildHeartbeatBody(kS, "m-1_A"), R"({"session":")" + kS + R"(","done":"m-1_A"})");
}

}  // namespace
