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

struct Value {
    std::string name;
    DWORD type;
    std::string data;
};

// The values of a key, or nothing when the key can't be opened.
bool ReadValues(const char *subkey, std::vector<Value> *values)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name, type = 0, dataSize = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS)
            break;
        std::string data(dataSize, '\0');
        nameSize = sizeof name;
        RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE *>(&data[0]), &dataSize);
        data.resize(dataSize);
        values->push_back({std::string(name, nameSize), type, data});
    }
    RegCloseKey(key);
    return true;
}

bool KeyExists(const char *subkey)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetValue(const char *subkey, const char *name, DWORD type, const std::string &data)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                                            static_cast<DWORD>(data.size())));
    RegCloseKey(key);
}

// The value's type and bytes; type REG_NONE and no bytes when it is absent.
Value GetValue(const char *subkey, const char *name)
{
    Value value = {name, REG_NONE, ""};
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE *>(&value.data[0]), &size);
        value.data.resize(size);
    } else {
        value.type = REG_NONE;
    }
    RegCloseKey(key);
    return value;
}

std::string WithNul(const char *text)
{
    return std::string(text) + '\0';
}

class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        existed_ = ReadValues(kGameKeyPath, &saved_);
        SetValue(kGameKeyPath, "Guid", REG_SZ, WithNul("{00000000-0000-0000-0000-000000000000}"));
    }

    void TearDown() override
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kGameKeyPath) + "\\Sub").c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kGameKeyPath);
        if (existed_) {
            HKEY key;
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr);
            RegCloseKey(key);
            for (const Value &value : saved_)
                SetValue(kGameKeyPath, value.name.c_str(), value.type, value.data);
        }
        std::vector<Value> now;
        EXPECT_EQ(existed_, ReadValues(kGameKeyPath, &now));
        EXPECT_EQ(saved_.size(), now.size());
    }

private:
    bool existed_ = false;
    std::vector<Value> saved_;
};

TEST_F(Registry, TheReleaseTableSetsTheGuidAsAString)
{
    ASSERT_EQ(1u, sizeof kRegistryEntries / sizeof kRegistryEntries[0]);
    EXPECT_EQ(HKEY_LOCAL_MACHINE, kRegistryEntries[0].rootKey);
    EXPECT_STREQ(kGameKeyPath, kRegistryEntries[0].subkey);

    PromptRecorder boxes;
    EXPECT_EQ(1, ApplyRegistryEntries());
    Value guid = GetValue(kGameKeyPath, "Guid");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), guid.type);
    EXPECT_EQ(39u, guid.data.size());
    EXPECT_EQ(WithNul(kReleaseGuid), guid.data);

    // Whatever it held before, of whatever type.
    SetValue(kGameKeyPath, "Guid", REG_DWORD, std::string(4, '\x07'));
    EXPECT_EQ(1, ApplyRegistryEntries());
    guid = GetValue(kGameKeyPath, "Guid");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), guid.type);
    EXPECT_EQ(WithNul(kReleaseGuid), guid.data);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Registry, AMissingKeyIsNotCreated)
{
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kGameKeyPath));
    PromptRecorder boxes;
    EXPECT_EQ(0, ApplyRegistryEntries());
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], kRegistryCannotModify);
    EXPECT_FALSE(KeyExists(kGameKeyPath));
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
    EXPECT_EQ(WithNul(kReleaseGuid), GetValue(kGameKeyPath, "Guid").data);
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), GetValue(kGameKeyPath, "Count").type);
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), GetValue(kGameKeyPath, "Multi").type);

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
    EXPECT_EQ(WithNul(kReleaseGuid), GetValue(kGameKeyPath, "Guid").data);
    EXPECT_FALSE(KeyExists(missing.c_str()));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), GetValue(kGameKeyPath, "Third").type);
}

} // namespace
