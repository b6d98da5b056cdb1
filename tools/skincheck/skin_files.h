// The two files an OEM ships a skin in, read the way the skin tools need
// them: a registry export (.reg) and a configuration file (.cfg).
//
// Both the skin checker and the demo host read a .reg file themselves and
// never import it into the registry of the machine: its keys are written
// into a volatile scratch key, and the module's opens of HKEY_LOCAL_MACHINE
// keys that the skin is about are sent there (SkinRegistry). The
// configuration file is checked for what the INI reader of Windows would
// silently misread (another encoding, lines that are not INI).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace skin {

struct RegValue {
    std::string name;   // empty: the key's default value (@)
    DWORD type;
    std::vector<BYTE> data;
};
struct RegFileKey {
    std::string path;   // below HKEY_LOCAL_MACHINE, e.g. "Software\\Qx\\QxTintra"
    std::vector<RegValue> values;
};

// Files bigger than this are refused whole: a skin is a handful of values
// and a page of texts.
constexpr size_t kMaxSkinFileBytes = 1 << 20;

// Reads a REGEDIT4 or "Windows Registry Editor Version 5.00" file (ANSI,
// UTF-8 or UTF-16LE with its byte-order mark). Only keys of
// HKEY_LOCAL_MACHINE are accepted: the page reads no other root. False with
// one line in *error when the file cannot be used.
bool ReadRegFile(const std::string& file, std::vector<RegFileKey>* keys, std::string* error);

// Checks a configuration file: not empty, not too big, no byte-order mark or
// NUL bytes (Windows reads it in the ANSI code page), and every line blank, a
// comment, a [section] or key=value. False with one line in *error.
bool CheckCfgFile(const std::string& file, std::string* error);

// Names of the sections of a configuration file, in file order.
std::vector<std::string> CfgSections(const std::string& file);
// Names of the keys of one section.
std::vector<std::string> CfgKeys(const std::string& file, const std::string& section);

// The keys of a .reg file, put where a module's registry opens find them.
// While it lives, every RegOpenKeyExA of HKEY_LOCAL_MACHINE that `module`
// makes for a key of the skin (one below "Software\\Qx", or one the file
// names) opens the scratch copy instead; a key the file does not hold is
// then absent, whatever the machine's registry holds.
class SkinRegistry {
public:
    SkinRegistry();
    ~SkinRegistry();
    SkinRegistry(const SkinRegistry&) = delete;
    SkinRegistry& operator=(const SkinRegistry&) = delete;
    // Writes the keys into the scratch key; false when the registry refuses.
    bool Load(const std::vector<RegFileKey>& keys);
    // Sets one text value in every key the file holds.
    void SetEverywhere(const char* name, const char* text);
    // Sends `module`'s opens of skin keys to the scratch copy.
    bool Redirect(HMODULE module);

private:
    HKEY scratch_ = nullptr;
    std::string scratchPath_;
    std::vector<std::string> paths_;
    std::vector<HMODULE> patched_;
};

// Reads a whole file; false when it cannot be read or exceeds `limit`.
bool ReadWholeFile(const std::string& file, std::vector<BYTE>* bytes, size_t limit, std::string* error);

} // namespace skin
