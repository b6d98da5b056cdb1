// Registry paths and values against the real Wine registry, version strings
// of small DLLs built for the purpose, and the Windows version classes.
#include "qxtest.h"

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "config/system_services.h"
#include "fake_os_version.h"
#include "version.h"

namespace {

std::string TestKeyName() { return "QxTintraTest_" + std::to_string(GetCurrentProcessId()); }

// A key made for one test below a root, removed with everything in it.
class TestKey {
public:
    TestKey(HKEY root, std::string path) : root_(root), path_(std::move(path))
    {
        ok_ = RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr)
            == ERROR_SUCCESS;
    }
    ~TestKey()
    {
        if (ok_) {
            RegCloseKey(key_);
            RegDeleteTreeA(root_, path_.c_str());
            RegDeleteKeyA(root_, path_.c_str());
        }
    }
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    bool ok() const { return ok_; }
    HKEY get() const { return key_; }
    const std::string& path() const { return path_; }
    void Set(const char* name, DWORD type, const void* bytes, size_t size)
    {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(bytes), static_cast<DWORD>(size)),
            ERROR_SUCCESS)
            << name;
    }
    void SetText(const char* name, const std::string& text) { Set(name, REG_SZ, text.c_str(), text.size() + 1); }
    void Subkey(const std::string& name)
    {
        HKEY sub;
        ASSERT_EQ(RegCreateKeyExA(key_, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_SUCCESS);
        RegCloseKey(sub);
    }

private:
    HKEY root_;
    std::string path_;
    HKEY key_ = nullptr;
    bool ok_ = false;
};

// Watches the registry opens and closes of this program (the module's code
// is linked into it).
class RegOpenLog {
public:
    RegOpenLog()
        : open_(qxtest::ProgramModule(), "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&Open))
        , close_(qxtest::ProgramModule(), "advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&Close))
    {
        realOpen_ = reinterpret_cast<decltype(&RegOpenKeyExA)>(open_.original());
        realClose_ = reinterpret_cast<decltype(&RegCloseKey)>(close_.original());
        opens.clear();
        live.clear();
    }
    bool installed() const { return open_.installed() && close_.installed(); }
    static inline std::vector<std::pair<std::string, REGSAM>> opens;  // in order
    static inline std::set<HKEY> live;                                 // opened and not yet closed

private:
    static LONG WINAPI Open(HKEY root, LPCSTR sub, DWORD options, REGSAM access, PHKEY key)
    {
        LONG rc = realOpen_(root, sub, options, access, key);
        opens.emplace_back(sub ? sub : "<null>", access);
        if (rc == ERROR_SUCCESS)
            live.insert(*key);
        return rc;
    }
    static LONG WINAPI Close(HKEY key)
    {
        live.erase(key);
        return realClose_(key);
    }
    static inline decltype(&RegOpenKeyExA) realOpen_;
    static inline decltype(&RegCloseKey) realClose_;
    sim::ImportPatch open_;
    sim::ImportPatch close_;
};

std::string ReadRootValue(const std::string& path)
{
    HKEY key = nullptr;
    LONG rc = OpenRegPath(path.c_str(), KEY_READ, &key);
    if (rc != ERROR_SUCCESS)
        return "error " + std::to_string(rc);
    char text[QX_REG_TEXT_BYTES];
    ReadRegString(key, "Root", text, "<none>");
    RegCloseKey(key);
    return text;
}

TEST(OpenRegPathTest, RootNamesLongAndShortInAnyCase)
{
    struct Root {
        HKEY key;
        const char* shortName;
        const char* longName;
        std::string sub;
    };
    const std::string name = TestKeyName();
    const Root roots[] = {
        { HKEY_LOCAL_MACHINE, "HKLM", "HKEY_LOCAL_MACHINE", "Software\\" + name },
        { HKEY_CURRENT_USER, "HKCU", "HKEY_CURRENT_USER", "Software\\" + name },
        { HKEY_CLASSES_ROOT, "HKCR", "HKEY_CLASSES_ROOT", name },
        { HKEY_USERS, "HKU", "HKEY_USERS", ".DEFAULT\\Software\\" + name },
        { HKEY_CURRENT_CONFIG, "HKCC", "HKEY_CURRENT_CONFIG", "Software\\" + name },
    };
    for (const Root& root : roots) {
        SCOPED_TRACE(root.shortName);
        TestKey key(root.key, root.sub);
        ASSERT_TRUE(key.ok());
        key.SetText("Root", root.shortName);
        for (std::string name : { root.shortName, root.longName }) {
            EXPECT_EQ(ReadRootValue(name + "\\" + root.sub), root.shortName);
            CharLowerA(name.data());
            EXPECT_EQ(ReadRootValue(name + "\\" + root.sub), root.shortName);
        }
    }
}

TEST(OpenRegPathTest, BadPathsAreInvalidParameters)
{
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    for (const char* path : { "", "HKLM", "Software\\Microsoft", "HKLMX\\Software", "HKEY_LOCAL\\Software",
             "\\Software", "HK\\Software", "HKEY_LOCAL_MACHINEX\\Software" }) {
        EXPECT_EQ(OpenRegPath(path, KEY_READ, &key), ERROR_INVALID_PARAMETER) << path;
    }
    EXPECT_EQ(key, reinterpret_cast<HKEY>(0x1234)) << "no key handed out";
}

TEST(OpenRegPathTest, EachPartIsCheckedBeforeTheWholePath)
{
    TestKey base(HKEY_CURRENT_USER, "Software\\" + TestKeyName());
    ASSERT_TRUE(base.ok());
    base.Subkey("Sub\\Leaf");
    const std::string sub = base.path();

    RegOpenLog log;
    ASSERT_TRUE(log.installed());
    HKEY key = nullptr;
    LONG rc = OpenRegPath(("HKCU\\" + sub + "\\Missing\\Deeper\\Leaf").c_str(), KEY_READ, &key);
    EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
    // Stops at the first missing part, without trying the full path.
    EXPECT_EQ(RegOpenLog::opens,
        (std::vector<std::pair<std::string, REGSAM>> {
            { "Software", KEY_ENUMERATE_SUB_KEYS }, { sub, KEY_ENUMERATE_SUB_KEYS },
            { sub + "\\Missing", KEY_ENUMERATE_SUB_KEYS } }));
    EXPECT_TRUE(RegOpenLog::live.empty());

    RegOpenLog::opens.clear();
    rc = OpenRegPath(("HKCU\\" + sub + "\\Sub\\Leaf").c_str(), KEY_QUERY_VALUE, &key);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    EXPECT_EQ(RegOpenLog::opens,
        (std::vector<std::pair<std::string, REGSAM>> { { "Software", KEY_ENUMERATE_SUB_KEYS },
            { sub, KEY_ENUMERATE_SUB_KEYS }, { sub + "\\Sub", KEY_ENUMERATE_SUB_KEYS },
            { sub + "\\Sub\\Leaf", KEY_QUERY_VALUE } }));
    // Only the key handed out is still open.
    EXPECT_EQ(RegOpenLog::live, std::set<HKEY> { key });
    RegCloseKey(key);

    // The last part missing: its own error, from the full path.
    RegOpenLog::opens.clear();
    EXPECT_EQ(OpenRegPath(("HKCU\\" + sub + "\\Nope").c_str(), KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(RegOpenLog::opens.empty());
    EXPECT_EQ(RegOpenLog::opens.back(), (std::pair<std::string, REGSAM> { sub + "\\Nope", KEY_READ }));
    EXPECT_TRUE(RegOpenLog::live.empty());
}

TEST(OpenRegPathTest, LongKeyPaths)
{
    TestKey base(HKEY_CURRENT_USER, "Software\\" + TestKeyName());
    ASSERT_TRUE(base.ok());
    // A whole path of 255 characters.
    std::string prefix = "HKCU\\" + base.path() + "\\";
    std::string last(255 - prefix.size(), 'L');
    base.Subkey(last);
    HKEY key = nullptr;
    ASSERT_EQ(OpenRegPath((prefix + last).c_str(), KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    // Parts longer than any key name can be fail as the registry says, in
    // the middle and at the end of the path.
    std::string tooLong(300, 'L');
    EXPECT_NE(OpenRegPath((prefix + tooLong + "\\x").c_str(), KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_NE(OpenRegPath((prefix + tooLong).c_str(), KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_NE(OpenRegPath((prefix + std::string(5000, 'L') + "\\x\\y").c_str(), KEY_READ, &key), ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------

class RegValueTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(key_.ok()); }
    // ReadRegString into a buffer with guard bytes behind its 512.
    std::pair<BOOL, std::string> Read(const char* name, const char* defaultText = "default")
    {
        char buffer[QX_REG_TEXT_BYTES + 16];
        memset(buffer, 0x5A, sizeof buffer);
        BOOL ok = ReadRegString(key_.get(), name, buffer, defaultText);
        for (size_t i = QX_REG_TEXT_BYTES; i < sizeof buffer; ++i)
            EXPECT_EQ(buffer[i], 0x5A) << "written past the buffer reading " << name;
        return { ok, std::string(buffer, strnlen(buffer, QX_REG_TEXT_BYTES)) };
    }
    TestKey key_ { HKEY_CURRENT_USER, "Software\\" + TestKeyName() };
};

// The bytes of a literal without the terminator the compiler adds.
template <size_t N> std::string Bytes(const char (&text)[N]) { return std::string(text, N - 1); }

TEST_F(RegValueTest, StringAndBinaryValues)
{
    const struct {
        DWORD type;
        std::string bytes;  // stored as they are
        BOOL usable;        // else the default is read
        std::string text;
    } values[] = {
        { REG_SZ, Bytes("C:\\skins\\back.jpg\0"), TRUE, "C:\\skins\\back.jpg" },
        { REG_SZ, Bytes("\0"), FALSE, "" },
        { REG_SZ, "", FALSE, "" },
        { REG_SZ, Bytes("\0\0"), FALSE, "" },
        { REG_SZ, "abc", TRUE, "abc" },
        // 511 characters and the terminator are exactly 512 bytes; one more
        // is too large.
        { REG_SZ, std::string(511, 'f') + '\0', TRUE, std::string(511, 'f') },
        { REG_SZ, std::string(512, 't') + '\0', FALSE, "" },
        { REG_SZ, std::string(5000, 't') + '\0', FALSE, "" },
        // Other types are not text, but binary values are, up to their first zero.
        { REG_DWORD, Bytes("\1\0\0\0"), FALSE, "" },
        { REG_EXPAND_SZ, Bytes("%TEMP%\0"), FALSE, "" },
        { REG_MULTI_SZ, Bytes("a\0b\0\0"), FALSE, "" },
        { REG_BINARY, Bytes("abc\0def\0"), TRUE, "abc" },
        { REG_BINARY, "abc", TRUE, "abc" },
        { REG_BINARY, "x", TRUE, "x" },
        { REG_BINARY, Bytes("\0abc"), TRUE, "" },
        { REG_BINARY, "", FALSE, "" },
        { REG_BINARY, std::string(511, 'b'), TRUE, std::string(511, 'b') },
        { REG_BINARY, std::string(511, 'b') + '\0', TRUE, std::string(511, 'b') },
        // All 512 bytes and no zero: no room for a terminator, not usable.
        { REG_BINARY, std::string(512, 'b'), FALSE, "" },
        { REG_BINARY, std::string(514, 'b'), FALSE, "" },
    };
    for (size_t i = 0; i < std::size(values); ++i) {
        const std::string name = "Value" + std::to_string(i);
        key_.Set(name.c_str(), values[i].type, values[i].bytes.data(), values[i].bytes.size());
        EXPECT_EQ(Read(name.c_str()), (std::pair<BOOL, std::string> { values[i].usable,
                                          values[i].usable ? values[i].text : "default" }))
            << name;
    }
    EXPECT_EQ(Read("Missing"), (std::pair<BOOL, std::string> { FALSE, "default" }));

    // A null default reads as empty.
    char out[QX_REG_TEXT_BYTES] = "x";
    EXPECT_FALSE(ReadRegString(key_.get(), "Missing", out, nullptr));
    EXPECT_STREQ(out, "");
}

TEST_F(RegValueTest, OnOffValues)
{
    const std::pair<const char*, DWORD> texts[] = { { "ON", 1 }, { "on", 1 }, { "On", 1 }, { "1", 1 }, { "Off", 0 },
        { "OFF", 0 }, { "off", 0 }, { "0", 0 }, { "yes", 7 }, { "2", 7 }, { " on", 7 }, { "on ", 7 }, { "01", 7 } };
    for (const auto& [text, expected] : texts) {
        key_.SetText("Flag", text);
        EXPECT_EQ(ReadRegBool(key_.get(), "Flag", 7), expected) << text;
    }
    EXPECT_EQ(ReadRegBool(key_.get(), "Missing", 7), 7u);
    EXPECT_EQ(ReadRegBool(key_.get(), "Missing", 0), 0u);
    key_.SetText("Empty", "");
    EXPECT_EQ(ReadRegBool(key_.get(), "Empty", 1), 1u);
    key_.Set("Binary", REG_BINARY, "0", 1);
    EXPECT_EQ(ReadRegBool(key_.get(), "Binary", 1), 0u);
    DWORD one = 1;
    key_.Set("Number", REG_DWORD, &one, sizeof one);
    EXPECT_EQ(ReadRegBool(key_.get(), "Number", 5), 5u) << "a number is no text";
}

// ---------------------------------------------------------------------------

using Answer = std::pair<BOOL, std::string>;
const Answer kNoVersion { FALSE, "" };

Answer Version(const std::string& file, const char* name, DWORD size = 256)
{
    char out[256];
    memset(out, 0x5A, sizeof out);
    BOOL ok = GetFileVersionString(file.c_str(), out, size, name);
    return { ok, out };
}

TEST(FileVersionTest, TranslationTableChoosesTheBlock)
{
    std::string dll = qxtest::ProgramDir() + "qxver_trans.dll";
    ASSERT_EQ(dll[1], ':') << "the test program's path has a drive letter";
    EXPECT_EQ(Version(dll, "FileVersion"), Answer(TRUE, "7.0.4.7 (de)"));
    EXPECT_EQ(Version(dll, "ProductName"), Answer(TRUE, "Qx Versionstest"));
    // Missing from the translated block: the U.S. English one answers.
    EXPECT_EQ(Version(dll, "Comments"), Answer(TRUE, "only in the English block"));
    EXPECT_EQ(Version(dll, "CompanyName"), kNoVersion);
}

TEST(FileVersionTest, WithoutTranslationTheEnglishBlock)
{
    std::string dll = qxtest::ProgramDir() + "qxver_plain.dll";
    char out[64];
    EXPECT_TRUE(GetFileVersion(dll.c_str(), out, sizeof out));
    EXPECT_STREQ(out, "2.5.0.3");
    // A string longer than the buffer is cut to fit.
    EXPECT_EQ(Version(dll, "LongText", 11), Answer(TRUE, "0123456789"));
    EXPECT_EQ(Version(dll, "Missing"), kNoVersion);
}

TEST(FileVersionTest, BareNamesAreSystemFiles)
{
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    std::string name = "qxver_" + std::to_string(GetCurrentProcessId()) + ".dll";
    std::string copy = std::string(system) + "\\" + name;
    ASSERT_TRUE(CopyFileA((qxtest::ProgramDir() + "qxver_plain.dll").c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(Version(name, "FileVersion"), Answer(TRUE, "2.5.0.3"));
    EXPECT_TRUE(DeleteFileA(copy.c_str()));

    // Not looked for in the current directory.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(qxtest::ProgramDir().c_str());
    EXPECT_EQ(Version("qxver_trans.dll", "FileVersion"), kNoVersion);
    SetCurrentDirectoryA(previous);
}

TEST(FileVersionTest, FilesWithoutVersionAndTheModuleItself)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    EXPECT_EQ(Version(self, "FileVersion"), kNoVersion);
    EXPECT_EQ(Version(qxtest::ProgramDir() + "no_such_file.dll", "FileVersion"), kNoVersion);
    EXPECT_EQ(Version("", "FileVersion"), kNoVersion);

    // The start-up's version trace reads the module's own file.
    ASSERT_NE(qxtest::BuiltDll(), nullptr);
    char module[MAX_PATH];
    GetModuleFileNameA(qxtest::BuiltDll(), module, sizeof module);
    char out[64];
    EXPECT_TRUE(GetFileVersion(module, out, sizeof out));
    EXPECT_STREQ(out, QX_VERSION_STRING);
}

// ---------------------------------------------------------------------------

struct VersionCase {
    DWORD platform, major, minor, build;
    const char* csd;
    WORD servicePack;
    DWORD expected;
};

TEST(OsVersionTest, ClassCodes)
{
    constexpr DWORD W = VER_PLATFORM_WIN32_WINDOWS, N = VER_PLATFORM_WIN32_NT;
    const VersionCase cases[] = {
        { W, 4, 0, 950, "", 0, QX_OS_WIN95 },
        { W, 4, 0, 950, "   ", 0, QX_OS_WIN95 },
        { W, 4, 0, 950, " A", 0, QX_OS_WIN95 },
        { W, 4, 0, 950, "a", 0, QX_OS_WIN95 },
        { W, 4, 0, 1111, " B", 0, QX_OS_WIN95_OSR2 },
        { W, 4, 0, 1212, " c ", 0, QX_OS_WIN95_OSR2 },
        { W, 4, 0, 1212, " D", 0, QX_OS_UNKNOWN },
        { W, 4, 0, 1212, " BC", 0, QX_OS_UNKNOWN },
        { W, 4, 10, 0x040A07CE, "", 0, QX_OS_WIN98 },
        { W, 4, 10, 0x040A08AE, " A ", 0, QX_OS_WIN98_SE },
        { W, 4, 10, 2222, "", 0, QX_OS_WIN98_SE },
        { W, 4, 10, 0x08AE0000, "", 0, QX_OS_WIN98 },
        { W, 4, 90, 0x045A0BB8, "", 0, QX_OS_WINME },
        { W, 4, 11, 0, "", 0, QX_OS_WINME },
        { W, 4, 1, 0, "", 0, QX_OS_UNKNOWN },
        { W, 4, 9, 0, "", 0, QX_OS_UNKNOWN },
        { W, 3, 10, 0, "", 0, QX_OS_UNKNOWN },
        { W, 5, 0, 0, "", 0, QX_OS_UNKNOWN },
        { N, 3, 51, 1057, "", 0, QX_OS_NT3 },
        { N, 4, 0, 1381, "Service Pack 6", 6, QX_OS_NT4 },
        { N, 5, 0, 2195, "", 4, QX_OS_WIN2000 },
        { N, 5, 3, 0, "", 1, QX_OS_WIN2000 },
        { N, 5, 1, 2600, "", 0, QX_OS_WINXP },
        { N, 5, 2, 3790, "", 0, QX_OS_WINXP },
        { N, 5, 1, 2600, "Service Pack 2", 2, QX_OS_WINXP_SP },
        { N, 5, 2, 3790, "Service Pack 1", 1, QX_OS_WINXP_SP },
        { N, 6, 0, 6000, "", 0, QX_OS_UNKNOWN },
        { N, 10, 0, 19045, "", 0, QX_OS_UNKNOWN },
        { N, 2, 0, 0, "", 0, QX_OS_UNKNOWN },
        { VER_PLATFORM_WIN32s, 4, 0, 0, "", 0, QX_OS_UNKNOWN },
    };
    qxtest::FakeWindows windows;
    qxtest::FakeVersionPatch patch(windows);
    ASSERT_TRUE(patch.installed());
    for (const VersionCase& c : cases) {
        windows.platform = c.platform;
        windows.major = c.major;
        windows.minor = c.minor;
        windows.build = c.build;
        windows.csd = c.csd;
        windows.servicePackMajor = c.servicePack;
        EXPECT_EQ(GetOsVersion(), c.expected)
            << c.platform << " " << c.major << "." << c.minor << "." << c.build << " \"" << c.csd << "\" sp" << c.servicePack;
    }
}

TEST(OsVersionTest, BasicStructureFallback)
{
    qxtest::FakeWindows windows;
    qxtest::FakeVersionPatch patch(windows);
    windows.major = 5;
    windows.minor = 2;
    windows.servicePackMajor = 1;
    EXPECT_EQ(GetOsVersion(), QX_OS_WINXP_SP);
    EXPECT_EQ(windows.sizesAsked, (std::vector<DWORD> { 156 }));

    windows.sizesAsked.clear();
    windows.extendedFails = true;
    EXPECT_EQ(GetOsVersion(), QX_OS_WINXP) << "the service pack is unknown through the basic structure";
    EXPECT_EQ(windows.sizesAsked, (std::vector<DWORD> { 156, 148 }));

    windows.platform = VER_PLATFORM_WIN32_WINDOWS;
    windows.major = 4;
    windows.minor = 10;
    windows.build = 2222;
    EXPECT_EQ(GetOsVersion(), QX_OS_WIN98_SE);

    windows.basicFails = true;
    EXPECT_EQ(GetOsVersion(), QX_OS_UNKNOWN);
}

} // namespace
