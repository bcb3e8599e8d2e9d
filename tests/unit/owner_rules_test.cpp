#include "kiosk/watch/owner_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

constexpr std::uint32_t kExamBrowser = 400, kOtherProgram = 500;

OwnerFacts Owner(std::uint32_t pid, bool job, std::optional<bool> inJob, std::optional<std::string> image)
{
    OwnerFacts o;
    o.pid = pid;
    o.browserPid = kExamBrowser;
    o.examJob = job;
    o.inExamJob = inJob;
    o.image = std::move(image);
    return o;
}

// The rule every other verdict shares.
TEST(BelongsToExam, TheProgramItsBrowserAndItsJobOnlyTheInstallPathsWithoutAJob)
{
    OwnerFacts own = Owner(kOtherProgram, true, std::nullopt, std::nullopt);
    own.ownProcess = true;
    const char* edge = "C:\\Program Files\\Microsoft\\Edge\\Application\\msedge.exe";
    struct {
        const char* what;
        OwnerFacts owner;
        bool exams;
        bool lookup;
    } const rows[] = {
        {"no owner window", Owner(0, true, std::nullopt, std::nullopt), false, false},
        {"this program", own, true, false},
        {"the launched browser", Owner(kExamBrowser, true, std::nullopt, std::nullopt), true, false},
        {"in the job", Owner(kOtherProgram, true, true, "C:\\x\\helper.exe"), true, true},
        {"outside the job, at Edge's path", Owner(kOtherProgram, true, false, edge), false, true},
        {"job cannot be told", Owner(kOtherProgram, true, std::nullopt, edge), false, true},
        {"no job: at Edge's path", Owner(kOtherProgram, false, std::nullopt, edge), true, true},
        {"no job: elsewhere", Owner(kOtherProgram, false, std::nullopt, "C:\\Users\\siswa\\notes.exe"), false, true},
        {"no job: path cannot be read", Owner(kOtherProgram, false, std::nullopt, std::nullopt), true, true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(BelongsToExam(r.owner), r.exams) << r.what;
        EXPECT_EQ(OwnerLookupNeeded(r.owner), r.lookup) << r.what;
    }
}

TEST(IsAccessibilityPromptImage, SethcInTheSystemFolderOnly)
{
    struct {
        const char* image;
        const char* system;
        bool prompt;
    } const rows[] = {
        {"C:\\Windows\\System32\\sethc.exe", "C:\\Windows\\system32", true},
        {"C:\\WINDOWS\\SYSTEM32\\SETHC.EXE", "C:\\Windows\\system32", true},
        {"C:\\Windows\\System32\\sethc.exe", "C:\\Windows\\system32\\", true},
        {"D:\\Win\\System32\\sethc.exe", "D:\\Win\\System32", true},
        {"C:\\Windows\\SysWOW64\\sethc.exe", "C:\\Windows\\system32", false},
        {"C:\\Users\\siswa\\sethc.exe", "C:\\Windows\\system32", false},
        {"C:\\Windows\\System32\\sub\\sethc.exe", "C:\\Windows\\system32", false},
        {"C:\\Windows\\System32sethc.exe", "C:\\Windows\\system32", false},
        {"C:\\Windows\\System32\\sethc.exe.exe", "C:\\Windows\\system32", false},
        {"C:\\Windows\\System32\\xsethc.exe", "C:\\Windows\\system32", false},
        {"C:\\Windows\\System32\\osk.exe", "C:\\Windows\\system32", false},
        {"C:\\Windows\\System32\\sethc.exe", "", false},
        {"sethc.exe", "", false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(IsAccessibilityPromptImage(r.image, r.system), r.prompt) << r.image << " in " << r.system;
}

}  // namespace
