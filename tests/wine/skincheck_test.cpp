// The skin checker end to end: the sample skin in docs/sample-skin passes, its
// broken twin is reported finding by finding, unusable files stop it with one
// line and exit code 2. It runs as its own process, from the top of the tree
// (the samples name their pictures relative to it).
#include "qxtest.h"

#include <algorithm>
#include <cstring>
#include <map>
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

// Runs qxskincheck with `args` in the source tree, its stdout and stderr
// written to files in a directory of this run's own, removed afterwards.
CheckRun Check(const std::string& args)
{
    CheckRun r;
    const std::string dir = qxtest::MakeTempDir("skincheck-run");
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    HANDLE out = CreateFileA((dir + "\\stdout.txt").c_str(), GENERIC_WRITE | GENERIC_READ, 0, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA((dir + "\\stderr.txt").c_str(), GENERIC_WRITE | GENERIC_READ, 0, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA si = { sizeof si };
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out, si.hStdError = err, si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string cmd = "\"" + qxtest::ProgramDir() + "qxskincheck.exe\" " + args;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, QX_SOURCE_DIR, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE), GetExitCodeProcess(pi.hProcess, &r.exitCode);
        CloseHandle(pi.hThread), CloseHandle(pi.hProcess);
    }
    for (auto [file, text] : { std::pair{ out, &r.out }, { err, &r.err } }) {
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        *text = ReadAll(file);
        CloseHandle(file);
    }
    qxtest::RemoveTree(dir);
    return r;
}

// The --tsv rows: kind, family, subject, code, text.
std::vector<std::vector<std::string>> Rows(const std::string& tsv)
{
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    for (char c : tsv)
        if (c == '\t')
            rows.back().emplace_back();
        else if (c == '\n')
            rows.emplace_back(1);
        else if (c != '\r')
            rows.back().back() += c;
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](const auto& f) { return f.size() != 5; }), rows.end());
    return rows;
}

const char kGood[] = "--reg docs/sample-skin/harbour.reg --cfg docs/sample-skin/HARBOUR.CFG --tsv";
const char kBroken[] = "--reg docs/sample-skin/broken.reg --cfg docs/sample-skin/BROKEN.CFG --tsv";

// The sample skin, its pages rendered through the demo host in each style
// and language, each changing the page.
TEST(SkinCheck, SampleSkinIsCleanEverySettingComesFromItsKeyAndItRenders)
{
    const std::string dir = qxtest::MakeTempDir("skincheck-render");
    CheckRun r = Check(std::string(kGood) + " --render \"" + dir + "\\pages\"");
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
        EXPECT_EQ(origin[family + "/" + key + "\\QxTintra/key-overridden"], "utility's key: not read, SkinOverride is on in " + key);
    }
    std::map<std::string, std::string> pages;
    for (const std::string style : { "Lustre", "Classic" })
        for (const std::string language : { "English", "German" }) {
            const std::string file = dir + "\\pages\\page-15-" + style + "-" + language + ".png";
            HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE) << file;
            pages[style + language] = ReadAll(h);
            CloseHandle(h);
            EXPECT_EQ(pages[style + language].compare(0, 4, "\x89PNG"), 0) << file;
        }
    EXPECT_NE(pages["LustreEnglish"], pages["ClassicEnglish"]);
    EXPECT_NE(pages["LustreEnglish"], pages["LustreGerman"]);
    qxtest::RemoveTree(dir);
}

// Every finding of the broken sample, as (family, code, subject) with how
// often it is reported; nothing else may be reported. Of the 13 keys the page
// reads, [German] holds 2; its TAB0 is too long, its IDC_EMBOSS
// runs under its slider; Language=Klingon has no section.
TEST(SkinCheck, BrokenSampleIsReportedFindingByFinding)
{
    const struct { const char *family, *code, *subject; int count; } expected[] = {
        // UiStyle and URL; "Backround"; SkinOverride as a dword; HideLogo "yes"; 16 bits per channel.
        { "15", "key-resets", "HKLM\\Software\\Qx\\QxTintra", 2 }, { "15", "value-unknown", "HKLM\\Software\\Qx", 1 },
        { "15", "value-unusable", "HKLM\\Software\\Qx\\QxTintra", 1 }, { "15", "flag-unknown", "HKLM\\Software\\Qx\\QxTintra", 1 },
        { "15", "picture-refused", "Background", 1 },
        { "15", "eightbit-truecolour", "Background8bpp", 1 }, { "15", "background-small", "Background8bpp", 1 },
        { "15", "background-aspect", "Background8bpp", 1 }, { "15", "logo-too-big", "OEMLogo", 1 },
        { "15", "picture-missing", "OEMLogo8bpp", 1 }, { "15", "icon-refused", "TabIcon", 1 },
        { "21", "classic-logo", "OEMLogo", 1 }, { "21", "cfg-redirect-missing", "[Language] German_KP", 1 },
        { "15", "cfg-missing-key", "", 11 }, { "21", "cfg-missing-key", "", 11 }, { "15", "cfg-too-long", "", 1 },
        { "21", "cfg-too-long", "", 1 }, { "15", "cfg-no-section", "", 1 }, { "21", "cfg-no-section", "", 1 },
        { "15", "cfg-text-overflow", "", 1 }, { "21", "cfg-text-overflow", "", 1 },
    };
    CheckRun r = Check(kBroken);
    EXPECT_EQ(r.exitCode, 1u) << r.err;
    std::map<std::string, int> seen;
    int total = 0, sum = 0;
    for (const auto& row : Rows(r.out))
        if (row[0] == "finding")
            ++total, ++seen[row[1] + "|" + row[3] + "|" + row[2]], ++seen[row[1] + "|" + row[3] + "|"];
    for (const auto& e : expected) {
        EXPECT_EQ(seen[std::string(e.family) + "|" + e.code + "|" + e.subject], e.count)
            << e.family << " " << e.code << " " << e.subject << "\n" << r.out;
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
        { "nobracket.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Qx\r\n", ":2: key line without closing ]" },
        { "orphan.reg", "REGEDIT4\r\n\"UiStyle\"=\"Classic\"\r\n", ":2: value before the first [key]" },
        { "user.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Qx]\r\n", ":2: key outside HKEY_LOCAL_MACHINE" },
        { "badvalue.reg", reg4 + "\"UiStyle\"=Classic\r\n", ":3: unknown value data" },
        { "baddword.reg", reg4 + "\"HideLogo\"=dword:1g\r\n", ":3: malformed dword" },
        { "empty.cfg", "", "empty file" },
        { "utf16.cfg", std::string("\xFF\xFE[\0E\0", 6), "UTF-16" },
        { "utf8bom.cfg", "\xEF\xBB\xBF[English]\r\nTAB0=x\r\n", "UTF-8 with byte-order mark" },
        { "noequals.cfg", "[English]\r\nTAB0 Effects\r\n", ":2: neither a [section]" },
        { "nosection.cfg", "TAB0=Effects\r\n", ":1: key before the first [section]" },
    };
    const std::string dir = qxtest::MakeTempDir("skincheck-bad");
    for (const auto& c : cases) {
        const std::string path = dir + "\\" + c.name;
        ASSERT_TRUE(qxtest::WriteFileBytes(path, c.bytes.data(), c.bytes.size()));
        CheckRun r = Check((strstr(c.name, ".reg") ? "--reg \"" : "--live --cfg \"") + path + "\"");
        EXPECT_TRUE(r.exitCode == 2 && r.err.find(c.says) != std::string::npos && std::count(r.err.begin(), r.err.end(), '\n') == 1)
            << c.name << ": exit " << r.exitCode << "\n" << r.err << r.out;
    }
    for (const char* args : { "--reg \"no such file.reg\"", "--cfg x.cfg", "--live --family 7", "" })
        EXPECT_EQ(Check(args).exitCode, 2u) << args;
    qxtest::RemoveTree(dir);
}

} // namespace
