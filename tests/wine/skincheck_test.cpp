// The skin checker end to end: the sample skin in docs/sample-skin passes,
// its broken twin is reported finding by finding, and unusable files stop it
// with one line and exit code 2. The checker runs as its own process, from
// the top of the tree (the samples name their pictures relative to it).
#include "qxtest.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

struct CheckRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out, err;
};

std::string ReadPipe(HANDLE pipe)
{
    std::string text;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n)
        text.append(buf, n);
    return text;
}

// Runs qxskincheck with `args` in the source tree; stderr goes to a file so
// that neither pipe can fill up while the other is read.
CheckRun Check(const std::string& args)
{
    CheckRun r;
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    HANDLE readOut = nullptr, writeOut = nullptr;
    CreatePipe(&readOut, &writeOut, &sa, 0);
    SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    const std::string errFile = qxtest::MakeTempDir("skincheck-err") + "stderr.txt";
    HANDLE err = CreateFileA(errFile.c_str(), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA si = { sizeof si };
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeOut;
    si.hStdError = err;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string cmd = "\"" + qxtest::ProgramDir() + "qxskincheck.exe\" " + args;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, QX_SOURCE_DIR, &si, &pi)) {
        CloseHandle(writeOut);
        r.out = ReadPipe(readOut);
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &r.exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        CloseHandle(writeOut);
    }
    CloseHandle(readOut);
    SetFilePointer(err, 0, nullptr, FILE_BEGIN);
    r.err = ReadPipe(err);
    CloseHandle(err);
    return r;
}

struct Row {
    std::string kind, family, subject, code, text;
};
std::vector<Row> Rows(const std::string& tsv)
{
    std::vector<Row> rows;
    size_t start = 0;
    while (start < tsv.size()) {
        size_t end = tsv.find('\n', start);
        std::string line = tsv.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? tsv.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f;
        for (size_t p = 0, q; (q = line.find('\t', p)) != std::string::npos || p <= line.size(); p = q + 1) {
            f.push_back(line.substr(p, q == std::string::npos ? std::string::npos : q - p));
            if (q == std::string::npos)
                break;
        }
        if (f.size() == 5)
            rows.push_back({ f[0], f[1], f[2], f[3], f[4] });
    }
    return rows;
}

const char kGood[] = "--reg docs/sample-skin/harbour.reg --cfg docs/sample-skin/HARBOUR.CFG --tsv";
const char kBroken[] = "--reg docs/sample-skin/broken.reg --cfg docs/sample-skin/BROKEN.CFG --tsv";

TEST(SkinCheck, SampleSkinIsCleanAndEverySettingComesFromItsKey)
{
    CheckRun r = Check(kGood);
    ASSERT_EQ(r.exitCode, 0u) << r.out << r.err;
    std::map<std::string, std::string> origin; // family/setting -> text
    for (const Row& row : Rows(r.out)) {
        EXPECT_NE(row.kind, "finding") << row.subject << ": " << row.text;
        if (row.code == "setting" || row.code == "picture" || row.code == "key-overridden")
            origin[row.family + "/" + row.subject + "/" + row.code] = row.text;
    }
    for (const char* family : { "15", "21" }) {
        const std::string key = std::string(family) == "15" ? "HKLM\\Software\\Qx" : "HKLM\\Software\\Qx\\Kp";
        EXPECT_EQ(origin[std::string(family) + "/Background/setting"],
            "\"docs\\sample-skin\\harbour-background.png\" from " + key);
        EXPECT_EQ(origin[std::string(family) + "/UiStyle/setting"], "\"Lustre\" from " + key);
        EXPECT_NE(origin[std::string(family) + "/Background/picture"].find(": 460x429, "), std::string::npos);
        EXPECT_NE(origin[std::string(family) + "/OEMLogo8bpp/picture"].find(": 80x70, 16 colours"), std::string::npos);
        EXPECT_EQ(origin[std::string(family) + "/" + key + "\\QxTintra/key-overridden"],
            "utility's key: not read, SkinOverride is on in " + key);
    }
}

// Every finding of the broken sample, as (family, code, subject) with how
// often it is reported; nothing else may be reported.
struct Expected {
    const char* family;
    const char* code;
    const char* subject;
    int count;
};
constexpr Expected kBrokenFindings[] = {
    { "15", "key-resets", "HKLM\\Software\\Qx\\QxTintra", 2 },       // UiStyle and URL
    { "15", "value-unknown", "HKLM\\Software\\Qx", 1 },              // "Backround"
    { "15", "value-unusable", "HKLM\\Software\\Qx\\QxTintra", 1 },   // SkinOverride as a dword
    { "15", "flag-unknown", "HKLM\\Software\\Qx\\QxTintra", 1 },     // HideLogo "yes"
    { "15", "picture-refused", "Background", 1 },                   // 16 bits per channel
    { "15", "eightbit-truecolour", "Background8bpp", 1 },
    { "15", "background-small", "Background8bpp", 1 },
    { "15", "background-aspect", "Background8bpp", 1 },
    { "15", "logo-too-big", "OEMLogo", 1 },
    { "15", "picture-missing", "OEMLogo8bpp", 1 },
    { "15", "icon-refused", "TabIcon", 1 },
    { "21", "classic-logo", "OEMLogo", 1 },
    { "21", "cfg-redirect-missing", "[Language] German_KP", 1 },
};
constexpr int kGermanKeysMissing = 11; // of the 13 keys the page reads, [German] holds 2

TEST(SkinCheck, BrokenSampleIsReportedFindingByFinding)
{
    CheckRun r = Check(kBroken);
    EXPECT_EQ(r.exitCode, 1u) << r.err;
    std::map<std::string, int> seen;
    int total = 0;
    for (const Row& row : Rows(r.out)) {
        if (row.kind != "finding")
            continue;
        ++total;
        ++seen[row.family + "|" + row.code + "|" + row.subject];
        if (row.code.rfind("cfg-", 0) == 0)
            ++seen[row.family + "|" + row.code];
    }
    int expected = 0;
    for (const Expected& e : kBrokenFindings) {
        EXPECT_EQ(seen[std::string(e.family) + "|" + e.code + "|" + e.subject], e.count)
            << e.family << " " << e.code << " " << e.subject << "\n" << r.out;
        expected += e.count;
    }
    for (const char* family : { "15", "21" }) {
        EXPECT_EQ(seen[std::string(family) + "|cfg-missing-key"], kGermanKeysMissing) << family;
        EXPECT_EQ(seen[std::string(family) + "|cfg-too-long"], 1) << family; // TAB0 of [German]
        EXPECT_EQ(seen[std::string(family) + "|cfg-no-section"], 1) << family; // Language=Klingon
        expected += kGermanKeysMissing + 2;
    }
    EXPECT_EQ(total, expected) << r.out;
}

// Files the checker cannot use: one line on stderr naming the problem, exit 2.
struct BadFile {
    const char* name;
    bool reg;
    std::string bytes;
    const char* says;
};

TEST(SkinCheck, UnusableFilesStopWithOneLineAndExitTwo)
{
    const std::string reg4 = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Qx]\r\n";
    const BadFile cases[] = {
        { "empty.reg", true, "", "empty file" },
        { "huge.reg", true, reg4 + std::string(1 << 20, ';'), "larger than" },
        { "utf16be.reg", true, std::string("\xFE\xFF\0R\0E", 6), "not text" },
        { "noheader.reg", true, "[HKEY_LOCAL_MACHINE\\Software\\Qx]\r\n", "neither REGEDIT4" },
        { "binary.reg", true, std::string("REGEDIT4\r\n\0\1\2", 13), "not text" },
        { "nobracket.reg", true, "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Qx\r\n", ":2: key line without closing ]" },
        { "orphan.reg", true, "REGEDIT4\r\n\"UiStyle\"=\"Classic\"\r\n", ":2: value before the first [key]" },
        { "user.reg", true, "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Qx]\r\n", ":2: key outside HKEY_LOCAL_MACHINE" },
        { "badvalue.reg", true, reg4 + "\"UiStyle\"=Classic\r\n", ":3: unknown value data" },
        { "baddword.reg", true, reg4 + "\"HideLogo\"=dword:1g\r\n", ":3: malformed dword" },
        { "empty.cfg", false, "", "empty file" },
        { "huge.cfg", false, "[English]\r\n" + std::string(1 << 20, ';'), "larger than" },
        { "utf16.cfg", false, std::string("\xFF\xFE[\0E\0", 6), "UTF-16" },
        { "utf8bom.cfg", false, "\xEF\xBB\xBF[English]\r\nTAB0=x\r\n", "UTF-8 with byte-order mark" },
        { "noequals.cfg", false, "[English]\r\nTAB0 Effects\r\n", ":2: neither a [section]" },
        { "nosection.cfg", false, "TAB0=Effects\r\n", ":1: key before the first [section]" },
    };
    const std::string dir = qxtest::MakeTempDir("skincheck-bad");
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + c.name;
        ASSERT_TRUE(qxtest::WriteFileBytes(path, c.bytes.data(), c.bytes.size()));
        CheckRun r = Check(c.reg ? "--reg \"" + path + "\"" : "--live --cfg \"" + path + "\"");
        EXPECT_EQ(r.exitCode, 2u) << r.out;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    for (const char* args : { "--reg \"no such file.reg\"", "--cfg x.cfg", "--live --family 7", "" }) {
        CheckRun r = Check(args);
        EXPECT_EQ(r.exitCode, 2u) << args << r.out;
    }
    qxtest::RemoveTree(dir);
}

TEST(SkinCheck, RendersEachStyleAndLanguageThroughTheDemoHost)
{
    const std::string dir = qxtest::MakeTempDir("skincheck-render");
    CheckRun r = Check(std::string(kGood) + " --family 15 --render \"" + dir + "pages\"");
    ASSERT_EQ(r.exitCode, 0u) << r.out << r.err;
    std::map<std::string, std::vector<BYTE>> pages;
    for (const char* style : { "Lustre", "Classic" }) {
        for (const char* language : { "English", "German" }) {
            const std::string file = dir + "pages\\page-15-" + style + "-" + language + ".png";
            HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE) << file;
            std::string bytes = ReadPipe(h);
            CloseHandle(h);
            EXPECT_EQ(bytes.compare(1, 3, "PNG"), 0) << file;
            pages[std::string(style) + language].assign(bytes.begin(), bytes.end());
        }
    }
    // The style and the language each change the page.
    EXPECT_NE(pages["LustreEnglish"], pages["ClassicEnglish"]);
    EXPECT_NE(pages["LustreEnglish"], pages["LustreGerman"]);
    qxtest::RemoveTree(dir);
}

} // namespace
