#include "skin_files.h"

#include <cstdio>
#include <cstring>

#include "iat_patch.h"

namespace skin {

namespace {

constexpr char kMachineRoot[] = "HKEY_LOCAL_MACHINE\\";
constexpr char kMachineShort[] = "HKLM\\";
constexpr char kSkinRoot[] = "software\\qx";

std::string ToLowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, strlen(prefix), prefix) == 0; }

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string LineError(const std::string& file, int line, const char* what)
{
    char text[64];
    snprintf(text, sizeof text, ":%d: ", line);
    return file + text + what;
}

// The file as ANSI text: UTF-16LE (as regedit writes version 5 files) is
// converted; UTF-8 is taken as it is (its ASCII part is what a skin needs).
bool DecodeText(const std::vector<BYTE>& bytes, std::string* text)
{
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (bytes.size() % 2)
            return false;
        std::wstring wide(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
        text->assign(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text->data(), n, nullptr, nullptr);
        return true;
    }
    size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    text->assign(bytes.begin() + static_cast<long>(skip), bytes.end());
    return text->find('\0') == std::string::npos;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// A quoted string starting at s[*pos] == '"', with \\ and \" escapes.
bool ParseQuoted(const std::string& s, size_t* pos, std::string* out)
{
    out->clear();
    for (size_t i = *pos + 1; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out->push_back(s[++i]);
        } else if (s[i] == '"') {
            *pos = i + 1;
            return true;
        } else {
            out->push_back(s[i]);
        }
    }
    return false;
}

bool ParseHexBytes(const std::string& s, std::vector<BYTE>* out)
{
    std::string t;
    for (char c : s)
        if (c != ' ' && c != '\t')
            t.push_back(c);
    if (t.empty())
        return true;
    size_t start = 0;
    while (start <= t.size()) {
        size_t comma = t.find(',', start);
        std::string byte = t.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (byte.empty() || byte.size() > 2 || byte.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        out->push_back(static_cast<BYTE>(strtoul(byte.c_str(), nullptr, 16)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

// One value line: "name"=data or @=data. Deletions (=-) are refused: a skin
// file describes keys, it does not edit a registry.
const char* ParseValue(const std::string& line, RegValue* value)
{
    size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else if (!ParseQuoted(line, &pos, &value->name)) {
        return "unterminated value name";
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    if (pos >= line.size() || line[pos] != '=')
        return "expected = after the value name";
    std::string data = Trim(line.substr(pos + 1));
    if (data.empty())
        return "value without data";
    if (data[0] == '"') {
        size_t p = 0;
        std::string text;
        if (!ParseQuoted(data, &p, &text) || !Trim(data.substr(p)).empty())
            return "malformed string value";
        value->type = REG_SZ;
        value->data.assign(text.begin(), text.end());
        value->data.push_back(0);
        return nullptr;
    }
    std::string lower = ToLowerAscii(data);
    if (StartsWith(lower, "dword:")) {
        std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return "malformed dword value";
        DWORD v = static_cast<DWORD>(strtoul(digits.c_str(), nullptr, 16));
        value->type = REG_DWORD;
        value->data.assign(reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + 4);
        return nullptr;
    }
    if (StartsWith(lower, "hex:") || StartsWith(lower, "hex(")) {
        size_t colon = data.find(':');
        value->type = REG_BINARY;
        if (lower[3] == '(') {
            size_t close = data.find(')');
            if (close == std::string::npos || close > colon)
                return "malformed hex(type) value";
            value->type = static_cast<DWORD>(strtoul(data.substr(4, close - 4).c_str(), nullptr, 16));
        }
        if (!ParseHexBytes(data.substr(colon + 1), &value->data))
            return "malformed hex bytes";
        return nullptr;
    }
    if (data == "-")
        return "value deletion (=-) in a skin file";
    return "unknown value data";
}

} // namespace

bool ReadWholeFile(const std::string& file, std::vector<BYTE>* bytes, size_t limit, std::string* error)
{
    FILE* f = fopen(file.c_str(), "rb");
    if (!f) {
        *error = file + ": cannot be read";
        return false;
    }
    BYTE buf[65536];
    size_t n;
    bool tooBig = false;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        if (bytes->size() + n > limit) {
            tooBig = true;
            break;
        }
        bytes->insert(bytes->end(), buf, buf + n);
    }
    fclose(f);
    if (tooBig) {
        char text[96];
        snprintf(text, sizeof text, ": larger than %zu bytes, not a skin file", limit);
        *error = file + text;
        return false;
    }
    if (bytes->empty()) {
        *error = file + ": empty file";
        return false;
    }
    return true;
}

bool ReadRegFile(const std::string& file, std::vector<RegFileKey>* keys, std::string* error)
{
    std::vector<BYTE> bytes;
    if (!ReadWholeFile(file, &bytes, kMaxSkinFileBytes, error))
        return false;
    std::string text;
    if (!DecodeText(bytes, &text)) {
        *error = file + ": not text in ANSI, UTF-8 or UTF-16LE with byte-order mark";
        return false;
    }
    std::vector<std::string> lines = Lines(text);
    const std::string header = Trim(lines[0]);
    if (header != "REGEDIT4" && header != "Windows Registry Editor Version 5.00") {
        *error = file + ": first line is neither REGEDIT4 nor \"Windows Registry Editor Version 5.00\"";
        return false;
    }
    keys->clear();
    for (size_t i = 1; i < lines.size(); ++i) {
        const int lineNo = static_cast<int>(i + 1);
        std::string line = Trim(lines[i]);
        // Long hex values go on over several lines, each ending in a backslash.
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos && i + 1 < lines.size()) {
            line.pop_back();
            line += Trim(lines[++i]);
        }
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']') {
                *error = LineError(file, lineNo, "key line without closing ]");
                return false;
            }
            std::string path = line.substr(1, line.size() - 2);
            if (!path.empty() && path[0] == '-') {
                *error = LineError(file, lineNo, "key deletion ([-...]) in a skin file");
                return false;
            }
            std::string lower = ToLowerAscii(path);
            size_t rootLen = StartsWith(lower, "hkey_local_machine\\") ? strlen(kMachineRoot)
                : StartsWith(lower, "hklm\\")                         ? strlen(kMachineShort)
                                                                       : 0;
            if (!rootLen || rootLen >= path.size()) {
                *error = LineError(file, lineNo, "key outside HKEY_LOCAL_MACHINE: the page reads none");
                return false;
            }
            keys->push_back({ path.substr(rootLen), {} });
            continue;
        }
        if (line[0] != '"' && line[0] != '@') {
            *error = LineError(file, lineNo, "neither a [key], a value nor a comment");
            return false;
        }
        if (keys->empty()) {
            *error = LineError(file, lineNo, "value before the first [key]");
            return false;
        }
        RegValue value{};
        if (const char* why = ParseValue(line, &value)) {
            *error = LineError(file, lineNo, why);
            return false;
        }
        keys->back().values.push_back(value);
    }
    if (keys->empty()) {
        *error = file + ": no keys";
        return false;
    }
    return true;
}

bool CheckCfgFile(const std::string& file, std::string* error)
{
    std::vector<BYTE> bytes;
    if (!ReadWholeFile(file, &bytes, kMaxSkinFileBytes, error))
        return false;
    if ((bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
        || memchr(bytes.data(), 0, bytes.size())) {
        *error = file + ": UTF-16 text; the page reads the file in the ANSI code page (save it as ANSI)";
        return false;
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        *error = file + ": UTF-8 with byte-order mark; the page reads the file in the ANSI code page (save it as ANSI)";
        return false;
    }
    std::vector<std::string> lines = Lines(std::string(bytes.begin(), bytes.end()));
    bool anySection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.find(']') == std::string::npos) {
                *error = LineError(file, static_cast<int>(i + 1), "section line without closing ]");
                return false;
            }
            anySection = true;
        } else if (line.find('=') == std::string::npos || line[0] == '=') {
            *error = LineError(file, static_cast<int>(i + 1), "neither a [section], key=value nor a ; comment");
            return false;
        } else if (!anySection) {
            *error = LineError(file, static_cast<int>(i + 1), "key before the first [section]");
            return false;
        }
    }
    if (!anySection) {
        *error = file + ": no [section]";
        return false;
    }
    return true;
}

namespace {
std::vector<std::string> SplitDoubleNull(const std::vector<char>& buf, DWORD n)
{
    std::vector<std::string> out;
    for (DWORD i = 0; i < n;) {
        std::string s(&buf[i]);
        if (s.empty())
            break;
        out.push_back(s);
        i += static_cast<DWORD>(s.size()) + 1;
    }
    return out;
}
} // namespace

std::vector<std::string> CfgSections(const std::string& file)
{
    std::vector<char> buf(kMaxSkinFileBytes);
    DWORD n = GetPrivateProfileSectionNamesA(buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
    return SplitDoubleNull(buf, n);
}

std::vector<std::string> CfgKeys(const std::string& file, const std::string& section)
{
    std::vector<char> buf(65536);
    DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
    return SplitDoubleNull(buf, n);
}

// ---- the scratch registry ----------------------------------------------------------

namespace {

HKEY g_scratch;
std::vector<std::string>* g_paths;
decltype(&RegOpenKeyExA) g_realOpen;

bool IsSkinPath(LPCSTR subKey)
{
    if (!subKey || !g_paths)
        return false;
    std::string s = ToLowerAscii(subKey);
    while (!s.empty() && s.back() == '\\')
        s.pop_back();
    if (s == kSkinRoot || StartsWith(s, "software\\qx\\"))
        return true;
    for (const std::string& p : *g_paths)
        if (s == p || StartsWith(p, (s + "\\").c_str()) || StartsWith(s, (p + "\\").c_str()))
            return true;
    return false;
}

LONG WINAPI RedirectedOpen(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY out)
{
    if (root == HKEY_LOCAL_MACHINE && g_scratch && IsSkinPath(subKey))
        return g_realOpen(g_scratch, subKey, options, access, out);
    return g_realOpen(root, subKey, options, access, out);
}

} // namespace

SkinRegistry::SkinRegistry()
{
    static int serial;
    char path[96];
    snprintf(path, sizeof path, "Software\\QxTintraSkinScratch\\%lu-%d", GetCurrentProcessId(), ++serial);
    scratchPath_ = path;
    HKEY parent = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QxTintraSkinScratch", 0, nullptr, REG_OPTION_VOLATILE,
            KEY_ALL_ACCESS, nullptr, &parent, nullptr) == ERROR_SUCCESS)
        RegCloseKey(parent);
    RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &scratch_, nullptr);
}

SkinRegistry::~SkinRegistry()
{
    for (HMODULE m : patched_)
        sim::PatchImport(m, "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(g_realOpen));
    if (g_scratch == scratch_) {
        g_scratch = nullptr;
        g_paths = nullptr;
    }
    if (scratch_) {
        RegCloseKey(scratch_);
        RegDeleteTreeA(HKEY_CURRENT_USER, scratchPath_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, scratchPath_.c_str());
    }
}

bool SkinRegistry::Load(const std::vector<RegFileKey>& keys)
{
    if (!scratch_)
        return false;
    for (const RegFileKey& k : keys) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(scratch_, k.path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                nullptr) != ERROR_SUCCESS)
            return false;
        for (const RegValue& v : k.values)
            RegSetValueExA(key, v.name.empty() ? nullptr : v.name.c_str(), 0, v.type, v.data.data(),
                static_cast<DWORD>(v.data.size()));
        RegCloseKey(key);
        paths_.push_back(ToLowerAscii(k.path));
    }
    return true;
}

void SkinRegistry::SetEverywhere(const char* name, const char* text)
{
    for (const std::string& p : paths_) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(scratch_, p.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
            RegCloseKey(key);
        }
    }
}

bool SkinRegistry::Redirect(HMODULE module)
{
    g_scratch = scratch_;
    g_paths = &paths_;
    void* old = sim::PatchImport(module, "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&RedirectedOpen));
    if (!old)
        return false;
    if (old != reinterpret_cast<void*>(&RedirectedOpen))
        g_realOpen = reinterpret_cast<decltype(&RegOpenKeyExA)>(old);
    patched_.push_back(module);
    return true;
}

} // namespace skin
