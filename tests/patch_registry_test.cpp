// Registry entries written into Wine's real registry. Each test starts from
// the game's application key with a "Guid" of another value and puts the key
// back as it found it (the discovery tests read the same key).
#include <gtest/gtest.h>

#include "discovery/discovery.h"
#include "patch/patch.h"
#include "tests/test_support.h"

#include <string>
#include <vector>

namespace {

const char kReleaseGuid[] = "{7B3D0A52-4E19-4C86-A0F1-93D25E6B8C14}";

std::string WithNul(const char *text)
{
    return std::string(text) + '\0';
}

class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        existed_ = ReadRegistryValues(kGameKeyPath, &saved_);
        WriteRegistryValue(kGameKeyPath, "Guid",
                           {true, REG_SZ, WithNul("{00000000-0000-0000-0000-000000000000}")});
    }

    void TearDown() override
    {
        DeleteRegistryKey((std::string(kGameKeyPath) + "\\Sub").c_str());
        DeleteRegistryKey(kGameKeyPath);
        if (existed_) {
            WriteRegistryValue(kGameKeyPath, "Guid", {});
            for (const auto &value : saved_)
                WriteRegistryValue(kGameKeyPath, value.first.c_str(), value.second);
        }
        std::vector<std::pair<std::string, RegistryValue>> now;
        EXPECT_EQ(existed_, ReadRegistryValues(kGameKeyPath, &now));
        EXPECT_EQ(saved_.size(), now.size());
    }

private:
    bool existed_ = false;
    std::vector<std::pair<std::string, RegistryValue>> saved_;
};

TEST_F(Registry, TheReleaseTableSetsTheGuidAsAString)
{
    ASSERT_EQ(1u, sizeof kRegistryEntries / sizeof kRegistryEntries[0]);
    EXPECT_EQ(HKEY_LOCAL_MACHINE, kRegistryEntries[0].rootKey);
    EXPECT_STREQ(kGameKeyPath, kRegistryEntries[0].subkey);

    PromptRecorder boxes;
    EXPECT_EQ(1, ApplyRegistryEntries());
    RegistryValue guid = ReadRegistryValue(kGameKeyPath, "Guid");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), guid.type);
    EXPECT_EQ(39u, guid.data.size());
    EXPECT_EQ(WithNul(kReleaseGuid), guid.data);

    // Whatever it held before, of whatever type.
    WriteRegistryValue(kGameKeyPath, "Guid", {true, REG_DWORD, std::string(4, '\x07')});
    EXPECT_EQ(1, ApplyRegistryEntries());
    guid = ReadRegistryValue(kGameKeyPath, "Guid");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), guid.type);
    EXPECT_EQ(WithNul(kReleaseGuid), guid.data);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Registry, AMissingKeyIsNotCreated)
{
    DeleteRegistryKey(kGameKeyPath);
    ASSERT_FALSE(RegistryKeyExists(kGameKeyPath));
    PromptRecorder boxes;
    EXPECT_EQ(0, ApplyRegistryEntries());
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], kRegistryCannotModify);
    EXPECT_FALSE(RegistryKeyExists(kGameKeyPath));
}

TEST_F(Registry, OtherTypesAreReportedAndSkipped)
{
    const RegistryEntry table[] = {
        {HKEY_LOCAL_MACHINE, kGameKeyPath, "Count", REG_DWORD, "\x01\x02\x03"},
        {HKEY_LOCAL_MACHINE, kGameKeyPath, "Guid", REG_SZ, kReleaseGuid},
        {HKEY_LOCAL_MACHINE, kGameKeyPath, "Multi", REG_MULTI_SZ, "a"},
    };
    PromptRecorder boxes;
    EXPECT_EQ(1, ApplyRegistryTable(table, 3));
    ASSERT_EQ(2u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], kRegistryBadType);
    ExpectBox(boxes.boxes[1], kRegistryBadType);
    EXPECT_EQ(WithNul(kReleaseGuid), ReadRegistryValue(kGameKeyPath, "Guid").data);
    EXPECT_FALSE(ReadRegistryValue(kGameKeyPath, "Count").present);
    EXPECT_FALSE(ReadRegistryValue(kGameKeyPath, "Multi").present);

    // A table of such records only: nothing written, and still 1.
    EXPECT_EQ(1, ApplyRegistryTable(table, 1));
    EXPECT_EQ(3u, boxes.boxes.size());
}

TEST_F(Registry, AFailedRecordStopsTheTableAndKeepsWhatWasWritten)
{
    const std::string missing = std::string(kGameKeyPath) + "\\Sub";
    const RegistryEntry table[] = {
        {HKEY_LOCAL_MACHINE, kGameKeyPath, "Guid", REG_SZ, kReleaseGuid},
        {HKEY_LOCAL_MACHINE, missing.c_str(), "Guid", REG_SZ, "second"},
        {HKEY_LOCAL_MACHINE, kGameKeyPath, "Third", REG_SZ, "third"},
    };
    PromptRecorder boxes;
    EXPECT_EQ(0, ApplyRegistryTable(table, 3));
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], kRegistryCannotModify);
    EXPECT_EQ(WithNul(kReleaseGuid), ReadRegistryValue(kGameKeyPath, "Guid").data);
    EXPECT_FALSE(RegistryKeyExists(missing.c_str()));
    EXPECT_FALSE(ReadRegistryValue(kGameKeyPath, "Third").present);
}

// The copies of the game's key that Windows keeps for the game in the
// player's classes hive, in each of their two views: one that is there gets
// "Guid" too, after the key itself; one that isn't is not made; and one that
// is a link to another key is refused like the key itself, and what it names
// keeps its value.
TEST_F(Registry, TheCopiesInThePlayersHiveAreWrittenWhereTheyStand)
{
    PlayerAnswers answers = {};
    AskWhoPlays(&answers);
    ASSERT_TRUE(answers.ownSid[0]);
    wcscpy(answers.sessionSid, answers.ownSid);
    DecidePlayer(answers);
    const std::string classes = Narrowed(answers.ownSid) + "_Classes\\VirtualStore\\MACHINE\\SOFTWARE\\";
    const std::string elsewhere = Narrowed(answers.ownSid) + "_Classes\\vp-elsewhere";
    const RegistryValue old = {true, REG_SZ, WithNul("{00000000-0000-0000-0000-000000000000}")};
    enum Copy { kThere, kAbsent, kLink };
    for (const char *view : {"", "WOW6432Node\\"})
        for (Copy copy : {kThere, kAbsent, kLink}) {
            SCOPED_TRACE(std::string(view) + " copy " + std::to_string(copy));
            const std::string key = classes + view + (kGameKeyPath + strlen("Software\\"));
            WriteRegistryValue(elsewhere.c_str(), "Guid", old, KEY_WOW64_64KEY, HKEY_USERS);
            if (copy == kThere)
                WriteRegistryValue(key.c_str(), "Guid", old, KEY_WOW64_64KEY, HKEY_USERS);
            else if (copy == kLink) {
                ASSERT_TRUE(MakeRegistryLink(HKEY_USERS, key.c_str(), KEY_WOW64_64KEY,
                                             L"\\REGISTRY\\USER\\" + Widened(elsewhere)));
            }
            PromptRecorder boxes;
            EXPECT_EQ(copy == kLink ? 0 : 1, ApplyRegistryEntries());
            EXPECT_EQ(WithNul(kReleaseGuid), ReadRegistryValue(kGameKeyPath, "Guid").data);
            ASSERT_EQ(copy == kLink ? 1u : 0u, boxes.boxes.size());
            if (copy == kLink)
                ExpectBox(boxes.boxes[0], kRegistryCannotModify);
            EXPECT_EQ(copy != kAbsent, RegistryKeyExists(key.c_str(), KEY_WOW64_64KEY, HKEY_USERS));
            EXPECT_EQ(copy == kThere ? WithNul(kReleaseGuid) : old.data,
                      ReadRegistryValue((copy == kThere ? key : elsewhere).c_str(), "Guid", KEY_WOW64_64KEY,
                                        HKEY_USERS)
                          .data);
            DeleteRegistryLink(HKEY_USERS, key.c_str(), KEY_WOW64_64KEY);
            DeleteRegistryKey(key.c_str(), KEY_WOW64_64KEY, HKEY_USERS);
        }
    DeleteRegistryKey(elsewhere.c_str(), KEY_WOW64_64KEY, HKEY_USERS);
    ForgetPlayer();
}

} // namespace
