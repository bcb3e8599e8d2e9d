// The browser profile folder of each exam: a new one in the temporary folder,
// there before the browser starts and gone once it has ended; those earlier
// runs left behind removed at start-up; and a temporary folder the browser's
// command line cannot carry starts no exam.
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace e2e;

namespace {

std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return temp;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class ExamProfile : public KioskTest {
protected:
    // What earlier runs left in the temporary folder: a profile folder with
    // something in it, one that another copy of the program holds for its
    // exam, and folders whose names are not the program's pattern (the fixed
    // folder of earlier versions among them).
    void BeforeLaunch() override
    {
        KioskTest::BeforeLaunch();
        const std::wstring temp = TempFolder();
        leftover_ = temp + L"cbt_orvel_profile_0123456789abcdef";
        held_ = temp + L"cbt_orvel_profile_fedcba9876543210";
        others_ = {temp + L"cbt_orvel_profile_ABCDEF0123456789", temp + L"cbt_orvel_profile_12345678", temp + L"cbt_orvel_profile"};
        ASSERT_TRUE(CreateDirectoryW(leftover_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((leftover_ + L"\\Default").c_str(), nullptr));
        HANDLE file = CreateFileW((leftover_ + L"\\Default\\Preferences").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        ASSERT_TRUE(CreateDirectoryW(held_.c_str(), nullptr));
        hold_ = CreateFileW(held_.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(hold_, INVALID_HANDLE_VALUE);
        for (const auto& other : others_)
            ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    }
    void TearDown() override
    {
        KioskTest::TearDown();
        if (hold_ != INVALID_HANDLE_VALUE)
            CloseHandle(hold_);
        RemoveDirectoryW(held_.c_str());
        for (const auto& other : others_)
            RemoveDirectoryW(other.c_str());
    }

    // The profile folder the exam's browser was started with.
    std::wstring ProfileOf(const Exam& exam) const
    {
        for (const auto& launch : browser::Launches())
            if (launch.pid == exam.browserPid)
                return browser::ProfileFolderOf(launch.commandLine);
        return {};
    }

    std::wstring leftover_, held_;
    std::vector<std::wstring> others_;
    HANDLE hold_ = INVALID_HANDLE_VALUE;
};

TEST_F(ExamProfile, EachExamHasAFolderOfItsOwnThatGoesWithTheBrowserAndLeftoversGoAtStartUp)
{
    EXPECT_FALSE(Exists(leftover_)) << "a folder an earlier run left is gone at start-up";
    EXPECT_TRUE(IsFolder(held_)) << "one another copy of the program holds stays";
    for (const auto& other : others_)
        EXPECT_TRUE(IsFolder(other)) << "not the program's pattern: " << testing::PrintToString(other);

    std::vector<std::wstring> profiles;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const Exam exam = StartExam();
        ASSERT_NE(exam.bar, nullptr);
        const std::wstring profile = ProfileOf(exam);
        EXPECT_TRUE(browser::IsExamProfileFolder(profile)) << testing::PrintToString(profile);
        // The stand-in makes its file there only if the folder was there when it
        // started, and holds it open as a browser does.
        EXPECT_TRUE(Exists(profile + L"\\standin-profile")) << "made before the browser started";
        EXPECT_EQ(std::find(profiles.begin(), profiles.end(), profile), profiles.end()) << "a new one for each exam";
        profiles.push_back(profile);
        if (round == 0) {
            ASSERT_NE(OpenPromptWithKeys(), nullptr);  // the proctor ends it: the browser is ended
            EnterPin(kPin);
            ExpectExamOver(exam);
        } else {
            PostMessageW(exam.browser, WM_APP + 7, 0, 0);  // the browser ends by itself
            ExpectExamOver(exam);
        }
        EXPECT_FALSE(Exists(profile)) << "gone once the browser has ended";
    }
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, kProctorFinishEvent, kStartEvent, BrowserClosed(1)}));
}

// The temporary folder comes from the user's TMP and TEMP, which anyone can
// set: a double quote in it would end the profile argument and add switches.
class ExamProfileWithQuotedTemp : public KioskTest {
protected:
    void BeforeLaunch() override
    {
        KioskTest::BeforeLaunch();  // the stand-in's records go to the usual temporary folder
        wchar_t saved[MAX_PATH + 1] = {};
        hadTmp_ = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1) != 0;
        savedTmp_ = saved;
        // Only the program started next sees it.
        SetEnvironmentVariableW(L"TMP", L"C:\\users\\siswa\\te\" --remote-debugging-port=9222 \"mp");
    }
    void SetUp() override
    {
        KioskTest::SetUp();
        SetEnvironmentVariableW(L"TMP", hadTmp_ ? savedTmp_.c_str() : nullptr);
    }

    bool hadTmp_ = false;
    std::wstring savedTmp_;
};

TEST_F(ExamProfileWithQuotedTemp, StartsNoExamAndSaysSo)
{
    server::Answer accept;
    accept.body = R"({"ok":true,"formUrl":"https://localhost/demo/form","proctorPin":"2468"})";
    server::SetAnswers({{"/api/exam/verify", accept}});
    FillAndStart(L"Budi Santoso", L"5A", L"ABC123");
    EXPECT_EQ(TakeBox(L"Peringatan"), L"Folder sementara Windows tidak dapat dipakai untuk ujian. Hubungi pengawas.");
    EXPECT_TRUE(StartButtonIdle());
    EXPECT_TRUE(IsWindowVisible(app.main));
    SyncThroughRulesBox();
    EXPECT_TRUE(browser::Launches().empty()) << "nothing launched";
    EXPECT_EQ(driver::FindTopWindow(pid, L"CBTControlBar"), nullptr);
    EXPECT_TRUE(EventsOnceEnded().empty()) << "nothing reported";
}

}  // namespace
