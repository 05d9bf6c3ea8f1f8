// The built executable read back as Windows reads it: the dialog template,
// the banner, the icon, the version block, the manifest and the import table.
#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/test_support.h"

#include <commctrl.h>
#include <winver.h>

#include <algorithm>
#include <set>

namespace {

constexpr WORD kPolish = MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT);

class Resources : public testing::Test {
protected:
    static void SetUpTestSuite() { module_ = LoadLibraryExA(RELEASE_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE); }
    static void TearDownTestSuite()
    {
        if (module_)
            FreeLibrary(module_);
    }

    // The bytes of one resource in Polish, empty when it is missing.
    static std::string Resource(LPCSTR type, WORD id, WORD language = kPolish)
    {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), language);
        if (!found)
            return {};
        const char *data = static_cast<const char *>(LockResource(LoadResource(module_, found)));
        return std::string(data, SizeofResource(module_, found));
    }

    static HMODULE module_;
};

HMODULE Resources::module_ = nullptr;

// Reads a standard dialog template field by field.
class TemplateReader {
public:
    explicit TemplateReader(const std::string &bytes) : bytes_(bytes) {}
    WORD Word()
    {
        WORD value = 0;
        if (at_ + 2 <= bytes_.size())
            memcpy(&value, bytes_.data() + at_, 2);
        at_ += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    // A name: an ordinal as "#n", else a UTF-16 string narrowed (ASCII only).
    std::string Name()
    {
        WORD first = Word();
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::string text;
        for (WORD c = first; c != 0; c = Word())
            text += static_cast<char>(c);
        return text;
    }
    void AlignToDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }

private:
    const std::string &bytes_;
    size_t at_ = 0;
};

struct ExpectedControl {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    const char *windowClass;
    const char *text;
};

TEST_F(Resources, DialogTemplateIsTheProgressDialog)
{
    ASSERT_NE(nullptr, module_) << RELEASE_EXE;
    std::string bytes = Resource(RT_DIALOG, IDD_PROGRESS);
    ASSERT_FALSE(bytes.empty());
    TemplateReader read(bytes);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                 DS_SETFONT | DS_3DLOOK | DS_ABSALIGN),
              read.Dword());
    EXPECT_EQ(0u, read.Dword()); // extended style; a standard template
    ASSERT_EQ(5, read.Word());
    EXPECT_EQ(0, read.Word());
    EXPECT_EQ(0, read.Word());
    EXPECT_EQ(263, read.Word());
    EXPECT_EQ(172, read.Word());
    EXPECT_EQ("", read.Name()); // menu
    EXPECT_EQ("", read.Name()); // class
    EXPECT_EQ("", read.Name()); // caption
    EXPECT_EQ(8, read.Word());
    EXPECT_EQ("MS Shell Dlg", read.Name());

    const ExpectedControl controls[] = {
        {WS_CHILD | WS_VISIBLE | SS_SUNKEN | SS_LEFT, 5, 62, 253, 10, IDC_STATUS, "#130", ""},
        {WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
             ES_READONLY,
         5, 77, 253, 60, IDC_LOG, "#129", ""},
        {WS_CHILD | WS_VISIBLE | WS_BORDER, 5, 142, 253, 6, IDC_PROGRESS, "msctls_progress32", ""},
        {WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 5, 153, 253, 14, IDC_FINISH,
         "#128", ""},
        {WS_CHILD | WS_VISIBLE | SS_BITMAP, 5, 5, 20, 20, 0xFFFF, "#130", "#110"},
    };
    for (const ExpectedControl &control : controls) {
        SCOPED_TRACE(control.id);
        read.AlignToDword();
        EXPECT_EQ(control.style, read.Dword());
        EXPECT_EQ(0u, read.Dword());
        EXPECT_EQ(control.x, static_cast<short>(read.Word()));
        EXPECT_EQ(control.y, static_cast<short>(read.Word()));
        EXPECT_EQ(control.cx, static_cast<short>(read.Word()));
        EXPECT_EQ(control.cy, static_cast<short>(read.Word()));
        EXPECT_EQ(control.id, read.Word());
        EXPECT_EQ(control.windowClass, read.Name());
        EXPECT_EQ(control.text, read.Name());
        EXPECT_EQ(0, read.Word()); // no creation data
    }
}

TEST_F(Resources, BannerIsAn8BitUncompressedBitmap)
{
    ASSERT_NE(nullptr, module_);
    std::string bytes = Resource(RT_BITMAP, IDB_BANNER);
    ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    memcpy(&header, bytes.data(), sizeof header);
    EXPECT_EQ(380, header.biWidth);
    EXPECT_EQ(69, header.biHeight);
    EXPECT_EQ(8, header.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
    // Header, a 256-colour palette and 69 rows of 380 bytes.
    EXPECT_EQ(sizeof header + 256 * 4 + 380u * 69u, bytes.size());
}

TEST_F(Resources, IconGroupAndManifest)
{
    ASSERT_NE(nullptr, module_);
    std::string group = Resource(RT_GROUP_ICON, IDI_UPDATER);
    ASSERT_GE(group.size(), 6u);
    EXPECT_EQ(1, group[2]); // icon type
    EXPECT_GE(group[4], 1); // at least one image

    std::string manifest = Resource(RT_MANIFEST, 1, MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
    EXPECT_NE(std::string::npos, manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"));
    EXPECT_NE(std::string::npos, manifest.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"));
}

TEST_F(Resources, VersionBlockIsPolish)
{
    DWORD ignored;
    DWORD size = GetFileVersionInfoSizeA(RELEASE_EXE, &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(RELEASE_EXE, 0, size, &block[0]));

    VS_FIXEDFILEINFO *fixed;
    UINT length;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00020004u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00020004u, fixed->dwProductVersionLS);

    WORD *translation;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &length));
    EXPECT_EQ(0x0415, translation[0]);
    EXPECT_EQ(1200, translation[1]); // Unicode string table

    char *text;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\041504B0\\FileDescription",
                               reinterpret_cast<void **>(&text), &length));
    EXPECT_STREQ("PATCH 1.00B", text);
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\041504B0\\ProductName",
                               reinterpret_cast<void **>(&text), &length));
    EXPECT_STREQ("Vendrake II PL - PATCH 1.00B", text);
}

// The names of the DLLs the file imports, read from its import directory.
std::set<std::string> ImportedLibraries(const PeImage &image)
{
    std::set<std::string> names;
    for (size_t entry = image.FileOffset(image.Dword(image.DirectoryEntry(1)));
         entry && image.Dword(entry + 12) != 0; entry += 20) {
        std::string name = image.Bytes().c_str() + image.FileOffset(image.Dword(entry + 12));
        for (char &c : name)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        names.insert(name);
    }
    return names;
}

TEST_F(Resources, ImportsOnlyLibrariesWindowsLoadsFromItsOwnDirectory)
{
    PeImage image(ReadFileBytes(RELEASE_EXE));
    ASSERT_TRUE(image.Valid());
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, image.Machine());
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, image.Subsystem());

    std::set<std::string> imports = ImportedLibraries(image);
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                                          "msvcrt.dll"};
    EXPECT_FALSE(imports.empty());
    for (const std::string &name : imports)
        EXPECT_TRUE(system.count(name)) << name << " would be searched for beside the updater";
}

} // namespace

namespace {

TEST(ResourcesPayload, TheReleaseCarriesTheMenuTextBehindItsLastSection)
{
    PeImage release(ReadFileBytes(RELEASE_EXE));
    ASSERT_TRUE(release.Valid());
    const std::string &image = release.Bytes();
    const size_t imageEnd = release.SectionDataEnd();
    uint32_t length = release.Dword(image.size() - 4);
    EXPECT_EQ(84163u, length);
    ASSERT_EQ(imageEnd + length + 4, image.size()) << "chunk 0 starts right behind the last section";
    EXPECT_EQ(ReadFileBytes(MENU_TEXT), image.substr(imageEnd, length));
    // Walking on to index 1 meets a zero length word.
    EXPECT_EQ(0u, release.Dword(imageEnd - 4));
    // Players download it: the executable without its payload stays within
    // the size of the release it replaces.
    RecordProperty("UpdaterBytesWithoutPayload", static_cast<int>(imageEnd));
    printf("updater without payload: %zu bytes\n", imageEnd);
    EXPECT_LE(imageEnd, 94208u);
}

} // namespace
