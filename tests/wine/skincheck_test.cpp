// The skin checker end to end: the sample skin in docs/sample-skin passes,
// its broken twin is reported finding by finding, and unusable files stop it
// with one line and exit code 2. The checker runs as its own process, from
// the top of the tree (the samples name their pictures relative to it).
#include "qxtest.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadAll(HANDLE h)
{
    std::string text;
    char buf[4096];
    for (DWORD n = 0; ReadFile(h, buf, sizeof buf, &n, nullptr) && n;)
        text.append(buf, n);
    return text;
}

struct CheckRun { DWORD exitCode = 0xFFFFFFFF; std::string out, err; };

// Runs qxskincheck with `args` in the source tree; stderr goes to a file in a
// directory of this run's own, removed afterwards, so that neither pipe can
// fill up while the other is read.
CheckRun Check(const std::string& args)
{
    CheckRun r;
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    HANDLE readOut = nullptr, writeOut = nullptr;
    EXPECT_TRUE(CreatePipe(&readOut, &writeOut, &sa, 0));
    SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    const std::string dir = qxtest::MakeTempDir("skincheck-err");
    HANDLE err = CreateFileA((dir + "\\stderr.txt").c_str(), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
        0, nullptr);
    EXPECT_NE(err, INVALID_HANDLE_VALUE) << dir;
    STARTUPINFOA si = { sizeof si };
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeOut, si.hStdError = err, si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string cmd = "\"" + qxtest::ProgramDir() + "qxskincheck.exe\" " + args;
    PROCESS_INFORMATION pi = {};
    const bool started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, QX_SOURCE_DIR, &si, &pi);
    EXPECT_TRUE(started) << cmd;
    CloseHandle(writeOut);
    if (started) {
        r.out = ReadAll(readOut);
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &r.exitCode);
        CloseHandle(pi.hThread), CloseHandle(pi.hProcess);
    }
    CloseHandle(readOut);
    SetFilePointer(err, 0, nullptr, FILE_BEGIN);
    r.err = ReadAll(err);
    CloseHandle(err);
    qxtest::RemoveTree(dir);
    return r;
}

// The --tsv rows: kind, family, subject, code, text.
std::vector<std::vector<std::string>> Rows(const std::string& tsv)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(tsv);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line + '\t');  // so that an empty last field counts
        std::vector<std::string> f;
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (f.size() == 5)
            rows.push_back(f);
    }
    return rows;
}

const char kGood[] = "--reg docs/sample-skin/harbour.reg --cfg docs/sample-skin/HARBOUR.CFG --tsv";
const char kBroken[] = "--reg docs/sample-skin/broken.reg --cfg docs/sample-skin/BROKEN.CFG --tsv";

TEST(SkinCheck, SampleSkinIsCleanAndEverySettingComesFromItsKey)
{
    CheckRun r = Check(kGood);
    ASSERT_EQ(r.exitCode, 0u) << r.out << r.err;
    std::map<std::string, std::string> origin;  // family/subject/code -> text
    for (const auto& row : Rows(r.out)) {
        EXPECT_NE(row[0], "finding") << row[2] << ": " << row[4];
        origin[row[1] + "/" + row[2] + "/" + row[3]] = row[4];
    }
    for (const std::string family : { "15", "21" }) {
        const std::string key = family == "15" ? "HKLM\\Software\\Qx" : "HKLM\\Software\\Qx\\Kp";
        EXPECT_EQ(origin[family + "/Background/setting"], "\"docs\\sample-skin\\harbour-background.png\" from " + key);
        EXPECT_EQ(origin[family + "/UiStyle/setting"], "\"Lustre\" from " + key);
        EXPECT_NE(origin[family + "/Background/picture"].find(": 460x429, "), std::string::npos);
        EXPECT_NE(origin[family + "/OEMLogo8bpp/picture"].find(": 80x70, 16 colours"), std::string::npos);
        EXPECT_EQ(origin[family + "/" + key + "\\QxTintra/key-overridden"],
            "utility's key: not read, SkinOverride is on in " + key);
    }
}

// Every finding of the broken sample, as (family, code, subject) with how
// often it is reported; nothing else may be reported. Of the 13 keys the page
// reads, [German] holds 2; its TAB0 is too long; Language=Klingon has no section.
TEST(SkinCheck, BrokenSampleIsReportedFindingByFinding)
{
    const struct { const char *family, *code, *subject; int count; } expected[] = {
        { "15", "key-resets", "HKLM\\Software\\Qx\\QxTintra", 2 },      // UiStyle and URL
        { "15", "value-unknown", "HKLM\\Software\\Qx", 1 },             // "Backround"
        { "15", "value-unusable", "HKLM\\Software\\Qx\\QxTintra", 1 },  // SkinOverride as a dword
        { "15", "flag-unknown", "HKLM\\Software\\Qx\\QxTintra", 1 },    // HideLogo "yes"
        { "15", "picture-refused", "Background", 1 },                  // 16 bits per channel
        { "15", "eightbit-truecolour", "Background8bpp", 1 }, { "15", "background-small", "Background8bpp", 1 },
        { "15", "background-aspect", "Background8bpp", 1 }, { "15", "logo-too-big", "OEMLogo", 1 },
        { "15", "picture-missing", "OEMLogo8bpp", 1 }, { "15", "icon-refused", "TabIcon", 1 },
        { "21", "classic-logo", "OEMLogo", 1 }, { "21", "cfg-redirect-missing", "[Language] German_KP", 1 },
        { "15", "cfg-missing-key", nullptr, 11 }, { "21", "cfg-missing-key", nullptr, 11 },
        { "15", "cfg-too-long", nullptr, 1 }, { "21", "cfg-too-long", nullptr, 1 },
        { "15", "cfg-no-section", nullptr, 1 }, { "21", "cfg-no-section", nullptr, 1 },
    };
    CheckRun r = Check(kBroken);
    EXPECT_EQ(r.exitCode, 1u) << r.err;
    std::map<std::string, int> seen;
    int total = 0, sum = 0;
    for (const auto& row : Rows(r.out))
        if (row[0] == "finding")
            ++total, ++seen[row[1] + "|" + row[3] + "|" + row[2]], ++seen[row[1] + "|" + row[3] + "|"];
    for (const auto& e : expected) {
        EXPECT_EQ(seen[std::string(e.family) + "|" + e.code + "|" + (e.subject ? e.subject : "")], e.count)
            << e.family << " " << e.code << " " << (e.subject ? e.subject : "") << "\n" << r.out;
        sum += e.count;
    }
    EXPECT_EQ(total, sum) << r.out;
}

// Files the checker cannot use: one line on stderr naming the problem, exit 2.
TEST(SkinCheck, UnusableFilesStopWithOneLineAndExitTwo)
{
    const std::string reg4 = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Qx]\r\n";
    const struct { const char* name; std::string bytes; const char* says; } cases[] = {
        { "empty.reg", "", "empty file" },
        { "huge.reg", reg4 + std::string(1 << 20, ';'), "larger than" },
        { "utf16be.reg", std::string("\xFE\xFF\0R\0E", 6), "not text" },
        { "noheader.reg", "[HKEY_LOCAL_MACHINE\\Software\\Qx]\r\n", "neither REGEDIT4" },
        { "binary.reg", std::string("REGEDIT4\r\n\0\1\2", 13), "not text" },
        { "nobracket.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Qx\r\n", ":2: key line without closing ]" },
        { "orphan.reg", "REGEDIT4\r\n\"UiStyle\"=\"Classic\"\r\n", ":2: value before the first [key]" },
        { "user.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Qx]\r\n", ":2: key outside HKEY_LOCAL_MACHINE" },
        { "badvalue.reg", reg4 + "\"UiStyle\"=Classic\r\n", ":3: unknown value data" },
        { "baddword.reg", reg4 + "\"HideLogo\"=dword:1g\r\n", ":3: malformed dword" },
        { "empty.cfg", "", "empty file" },
        { "huge.cfg", "[English]\r\n" + std::string(1 << 20, ';'), "larger than" },
        { "utf16.cfg", std::string("\xFF\xFE[\0E\0", 6), "UTF-16" },
        { "utf8bom.cfg", "\xEF\xBB\xBF[English]\r\nTAB0=x\r\n", "UTF-8 with byte-order mark" },
        { "noequals.cfg", "[English]\r\nTAB0 Effects\r\n", ":2: neither a [section]" },
        { "nosection.cfg", "TAB0=Effects\r\n", ":1: key before the first [section]" },
    };
    const std::string dir = qxtest::MakeTempDir("skincheck-bad");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "\\" + c.name;
        ASSERT_TRUE(qxtest::WriteFileBytes(path, c.bytes.data(), c.bytes.size()));
        CheckRun r = Check((strstr(c.name, ".reg") ? "--reg \"" : "--live --cfg \"") + path + "\"");
        EXPECT_EQ(r.exitCode, 2u) << r.out;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    for (const char* args : { "--reg \"no such file.reg\"", "--cfg x.cfg", "--live --family 7", "" })
        EXPECT_EQ(Check(args).exitCode, 2u) << args;
    qxtest::RemoveTree(dir);
}

// Each style and language rendered through the demo host, each changing the page.
TEST(SkinCheck, RendersEachStyleAndLanguageThroughTheDemoHost)
{
    const std::string dir = qxtest::MakeTempDir("skincheck-render");
    CheckRun r = Check(std::string(kGood) + " --family 15 --render \"" + dir + "\\pages\"");
    ASSERT_EQ(r.exitCode, 0u) << r.out << r.err;
    std::map<std::string, std::string> pages;
    for (const std::string style : { "Lustre", "Classic" })
        for (const std::string language : { "English", "German" }) {
            const std::string file = dir + "\\pages\\page-15-" + style + "-" + language + ".png";
            HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE) << file;
            pages[style + language] = ReadAll(h);
            CloseHandle(h);
            EXPECT_EQ(pages[style + language].compare(1, 3, "PNG"), 0) << file;
        }
    EXPECT_NE(pages["LustreEnglish"], pages["ClassicEnglish"]);
    EXPECT_NE(pages["LustreEnglish"], pages["LustreGerman"]);
    qxtest::RemoveTree(dir);
}

} // namespace
