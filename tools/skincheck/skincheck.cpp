// qxskincheck: tells an OEM what the page will make of a skin, without an
// adapter. It is built from the module's own code and resources, so every
// answer is the module's: the same key order and override rule, the same
// picture loader and decoders, the same configuration lookups.
//
//   qxskincheck [--reg FILE.reg | --live] [--cfg FILE] [--driver-key PATH]
//               [--family 15|21|both] [--tsv] [--render DIR]
//
// One line per fact: "note" lines say where each setting comes from and what
// each picture is; "FINDING" lines are what will not look or read as the OEM
// meant. --tsv prints the same as kind, family, subject, code and text
// separated by tabs. Exit code 0: no findings; 1: findings; 2: could not run
// (unusable arguments or files, or a page that could not be rendered).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/raii.h"
#include "config/localization.h"
#include "config/relayout.h"
#include "config/skin_settings.h"
#include "config/system_services.h"
#include "controls/picture_control.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "hosting/module.h"
#include "imaging/imaging.h"
#include "page/effect_model.h"
#include "page/page_localize.h"
#include "resource.h"
#include "skin_files.h"

namespace {

struct Options {
    std::string reg;
    bool live = false;
    std::string cfg;
    std::string driverKey;
    std::vector<DWORD> families{ CHIP_FAMILY_PRIMARY, CHIP_FAMILY_KP };
    bool tsv = false;
    std::string renderDir;
};

// ---- output --------------------------------------------------------------------------

bool g_tsv;
int g_findings;

void Emit(bool finding, DWORD family, const std::string& subject, const char* code, const std::string& text)
{
    if (finding)
        ++g_findings;
    char fam[16] = "-";
    if (family)
        snprintf(fam, sizeof fam, "%lu", static_cast<unsigned long>(family));
    if (g_tsv)
        printf("%s\t%s\t%s\t%s\t%s\n", finding ? "finding" : "note", fam, subject.c_str(), code, text.c_str());
    else
        printf("%-7s [family %s] %s: %s\n", finding ? "FINDING" : "note", fam, subject.c_str(), text.c_str());
}
void Note(DWORD f, const std::string& s, const char* code, const std::string& t) { Emit(false, f, s, code, t); }
void Finding(DWORD f, const std::string& s, const char* code, const std::string& t) { Emit(true, f, s, code, t); }

std::string Format(const char* fmt, ...)
{
    char text[2048];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

// ---- what the page is drawn into -------------------------------------------------------

// Client sizes of the page and its picture controls, measured on the page's
// own template (resources linked into this program), so they are what the
// page has on this machine's dialog font.
struct PageGeometry {
    SIZE page{}, logo{}, preview{};
    bool ok = false;
};

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

PageGeometry MeasurePage()
{
    PageGeometry g;
    HWND parent = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 800, 800, nullptr, nullptr, g_hInstance, nullptr);
    HWND page = parent ? CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_QXTINTRA_PAGE), parent, QuietDialog, 0)
                       : nullptr;
    auto size = [&](HWND w, SIZE* s) {
        RECT r{};
        if (w && GetClientRect(w, &r)) {
            s->cx = r.right;
            s->cy = r.bottom;
        }
    };
    if (page) {
        size(page, &g.page);
        size(GetDlgItem(page, IDC_LOGO), &g.logo);
        size(GetDlgItem(page, IDC_EFFECT_PREVIEW), &g.preview);
        g.ok = g.page.cx > 0 && g.logo.cx > 0 && g.preview.cx > 0;
        DestroyWindow(page);
    }
    if (parent)
        DestroyWindow(parent);
    return g;
}

// ---- pictures through the module's loader ----------------------------------------------

struct Picture {
    bool loaded = false;
    LONG width = 0, height = 0;
    DWORD colours = 0;
    std::string why;   // why it does not load
};

Picture LoadFilePicture(const std::string& path)
{
    Picture p;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        p.why = "the file does not exist";
        return p;
    }
    if (Img_GetTypeFromExtension(path.c_str()) == IMG_TYPE_UNKNOWN) {
        p.why = "the name's extension is none of .jpg .jpeg .png .ping .bmp (.gif .tif are refused too): the page does not open it";
        return p;
    }
    IMG_INFO info = {};
    HBITMAP dib = Img_LoadDibFromFile(nullptr, path.c_str(), &info);
    if (dib && info.pBitmapInfo) {
        p.loaded = true;
        p.width = info.pBitmapInfo->bmiHeader.biWidth;
        p.height = labs(info.pBitmapInfo->bmiHeader.biHeight);
        p.colours = info.nColors;
    } else {
        const IMG_NOTES* notes = Img_GetNotes();
        p.why = notes->refusal ? notes->refusal : "the decoder refused the picture";
    }
    if (dib)
        DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    return p;
}

Picture LoadModulePicture(WORD id)
{
    Picture p;
    IMG_INFO info = {};
    HBITMAP dib = Img_LoadDib(nullptr, g_hInstance, MAKEINTRESOURCEA(id), &info);
    if (dib && info.pBitmapInfo) {
        p.loaded = true;
        p.width = info.pBitmapInfo->bmiHeader.biWidth;
        p.height = labs(info.pBitmapInfo->bmiHeader.biHeight);
    }
    if (dib)
        DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    return p;
}

// ---- the registry: which key each setting comes from ----------------------------------

// Every skin value but SkinOverride is a setting the page keeps.
constexpr int kSettings = QX_SKIN_OVERRIDE;
struct SkinState {
    std::string text[kSettings];
};
// The settings as the module holds them after each key, in the order of
// kSkinValueNames; UiStyle and HideLogo as the value names an OEM writes.
SkinState Snapshot()
{
    return { { g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon,
        gdwUiStyle == QXLOOK_CLASSIC ? "Classic" : "Lustre", g_szHomePageUrl, g_bHideLogo ? "ON" : "Off" } };
}


struct KeyWalk {
    DWORD family;
    SkinState before;
    std::string origin[kSettings];
    std::string overriddenBy;
};

bool IsFlagText(const char* t)
{
    return !lstrcmpiA(t, "ON") || !lstrcmpiA(t, "1") || !lstrcmpiA(t, "Off") || !lstrcmpiA(t, "0");
}

// Checks the values of one key the module read and attributes what changed.
void ExplainKey(KeyWalk* walk, LPCSTR path)
{
    HKEY key = nullptr;
    if (OpenRegPath(path, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    const SkinState after = Snapshot();
    for (int i = 0; i < kSettings; ++i) {
        char text[QX_REG_TEXT_BYTES];
        const bool holds = ReadRegString(key, kSkinValueNames[i], text, "") != FALSE;
        if (holds) {
            walk->origin[i] = path;
        } else if ((i == QX_SKIN_UI_STYLE || i == QX_SKIN_URL) && !walk->origin[i].empty()) {
            // Read again with its default: what an earlier key set is gone.
            if (walk->before.text[i] != after.text[i])
                Finding(walk->family, path, "key-resets",
                    Format("holds no %s: reading it sets %s back to \"%s\" over \"%s\" from %s (repeat %s in every key)",
                        kSkinValueNames[i], kSkinValueNames[i], after.text[i].c_str(), walk->before.text[i].c_str(),
                        walk->origin[i].c_str(), kSkinValueNames[i]));
            walk->origin[i] = std::string("the default, set again by ") + path;
        } else if (i == QX_SKIN_UI_STYLE || i == QX_SKIN_URL) {
            walk->origin[i] = std::string("the default, set by ") + path;
        }
        if (holds && i == QX_SKIN_UI_STYLE && lstrcmpiA(text, "Lustre") && lstrcmpiA(text, "Classic"))
            Finding(walk->family, path, "style-unknown",
                Format("UiStyle \"%s\" is neither Lustre nor Classic: the page takes Lustre", text));
    }
    // Values the module reads but ignores in this form, and names it never reads.
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLen = sizeof name, type = 0, bytes = 0;
        if (RegEnumValueA(key, index, name, &nameLen, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
            break;
        bool known = false;
        for (const char* k : kSkinValueNames)
            known = known || !lstrcmpiA(k, name);
        char text[QX_REG_TEXT_BYTES];
        if (!known)
            Finding(walk->family, path, "value-unknown", Format("value \"%s\" is not a skin setting: the page never reads it", name));
        else if (!ReadRegString(key, name, text, ""))
            Finding(walk->family, path, "value-unusable",
                Format("value \"%s\" is not a text of 1 to 511 characters (REG_SZ or REG_BINARY): the page takes it as not set", name));
        else if ((!lstrcmpiA(name, "HideLogo") || !lstrcmpiA(name, "SkinOverride")) && !IsFlagText(text))
            Finding(walk->family, path, "flag-unknown",
                Format("%s \"%s\" is none of ON, 1, Off, 0: the page ignores it", name, text));
    }
    RegCloseKey(key);
}

void ObserveKey(int index, LPCSTR path, DWORD outcome, void* context)
{
    KeyWalk* walk = static_cast<KeyWalk*>(context);
    static const char* const kRole[] = { "maker's key", "utility's key", "driver instance's key" };
    std::string subject = path[0] ? path : "(driver instance's key)";
    if (outcome == QX_SKINKEY_ABSENT) {
        Note(walk->family, subject, "key-absent",
            Format("%s: not present (or not openable with full access): skipped", kRole[index]));
    } else if (outcome == QX_SKINKEY_OVERRIDDEN) {
        Note(walk->family, subject, "key-overridden",
            Format("%s: not read, SkinOverride is on in %s", kRole[index], walk->overriddenBy.c_str()));
    } else {
        Note(walk->family, subject, "key-read", Format("%s: read", kRole[index]));
        ExplainKey(walk, path);
        HKEY key = nullptr;
        if (walk->overriddenBy.empty() && OpenRegPath(path, KEY_READ, &key) == ERROR_SUCCESS) {
            if (ReadRegBool(key, "SkinOverride", 0))
                walk->overriddenBy = path;
            RegCloseKey(key);
        }
    }
    walk->before = Snapshot();
}

void ResetSkinGlobals(DWORD family)
{
    lstrcpyA(szQxKeyName, "HKLM\\Software\\Qx");
    lstrcpyA(szQxUtilKeyName, "HKLM\\Software\\Qx\\QxTintra");
    for (char* s : { g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon, g_szHomePageUrl })
        s[0] = '\0';
    gdwUiStyle = QXLOOK_LUSTRE;
    g_bHideLogo = FALSE;
    g_dwChipFamily = family;
}

// ---- pictures of the settings ----------------------------------------------------------

void CheckPictures(DWORD family, const PageGeometry& geo)
{
    const std::string fam = "pictures";
    struct Slot {
        const char* name;
        const char* path;
        bool background;
        bool eightBit;
    } slots[] = {
        { "Background", g_szBackground, true, false },
        { "Background8bpp", g_szBackground8bpp, true, true },
        { "OEMLogo", g_szOEMLogo, false, false },
        { "OEMLogo8bpp", g_szOEMLogo8bpp, false, true },
    };
    const bool classic = gdwUiStyle == QXLOOK_CLASSIC;
    for (const Slot& s : slots) {
        if (!s.path[0]) {
            Note(family, s.name, "builtin", "not set: the page shows its built-in picture");
            continue;
        }
        if (s.background && !lstrcmpiA(s.path, "<none>")) {
            Note(family, s.name, "no-background", "<none>: no background picture is painted");
            continue;
        }
        if (!s.background && classic) {
            Finding(family, s.name, "classic-logo",
                "UiStyle is Classic: the page's templates hold only the Lustre logo control, so this picture is never shown (the built-in logo stays)");
        }
        Picture p = LoadFilePicture(s.path);
        if (!p.loaded) {
            Finding(family, s.name, GetFileAttributesA(s.path) == INVALID_FILE_ATTRIBUTES ? "picture-missing" : "picture-refused",
                Format("%s: %s; the page shows its built-in picture instead", s.path, p.why.c_str()));
            continue;
        }
        Note(family, s.name, "picture", Format("%s: %ldx%ld, %s", s.path, static_cast<long>(p.width),
            static_cast<long>(p.height), p.colours ? Format("%lu colours", static_cast<unsigned long>(p.colours)).c_str() : "true colour"));
        if (s.eightBit && (p.colours == 0 || p.colours > 256))
            Finding(family, s.name, "eightbit-truecolour",
                "a true-colour picture for 8-bit displays: the system dithers it to the screen's palette");
        if (!geo.ok)
            continue;
        if (s.background) {
            if (p.width < geo.page.cx || p.height < geo.page.cy)
                Finding(family, s.name, "background-small",
                    Format("%ldx%ld is smaller than the page (%ldx%ld): it is stretched up", static_cast<long>(p.width),
                        static_cast<long>(p.height), geo.page.cx, geo.page.cy));
            const double want = double(geo.page.cx) / geo.page.cy, have = double(p.width) / p.height;
            // The page's shape depends on its dialog font; the built-in
            // pictures are drawn for a page a little taller than this
            // machine's, so only a clearly other shape is a finding.
            if (have > want * 1.25 || have < want / 1.25)
                Finding(family, s.name, "background-aspect",
                    Format("aspect %.2f differs from the page's %.2f by more than a quarter: it is stretched out of shape", have, want));
        } else if (p.width > geo.logo.cx || p.height > geo.logo.cy) {
            Finding(family, s.name, "logo-too-big",
                Format("%ldx%ld is larger than the logo control (%ldx%ld): the control shows only part of it",
                    static_cast<long>(p.width), static_cast<long>(p.height), geo.logo.cx, geo.logo.cy));
        }
    }
    if (g_szBackground[0] && !g_szBackground8bpp[0])
        Finding(family, "Background8bpp", "eightbit-builtin",
            "Background is set but Background8bpp is not: on 8-bit displays the page shows the built-in background");
    if (classic && g_bHideLogo)
        Finding(family, "HideLogo", "classic-logo", "UiStyle is Classic: HideLogo has no effect, the built-in logo stays");
    if (g_szTabIcon[0]) {
        // The module falls back to its own icon silently; with no module
        // instance there is no fallback, so a null answer is the file's.
        HINSTANCE self = g_hInstance;
        g_hInstance = nullptr;
        HICON icon = LoadTabIcon();
        g_hInstance = self;
        if (icon) {
            Note(family, "TabIcon", "icon", Format("%s: loads", g_szTabIcon));
            DestroyIcon(icon);
        } else {
            Finding(family, "TabIcon", GetFileAttributesA(g_szTabIcon) == INVALID_FILE_ATTRIBUTES ? "picture-missing" : "icon-refused",
                Format("%s: does not load as an icon; the tab shows the built-in icon", g_szTabIcon));
        }
    }
    // The preview frame is the module's own; its draw rectangle must lie in it.
    Picture frame = LoadModulePicture(gdwColorDepth > 8 ? IDB_PREVIEW_FRAME : IDB_PREVIEW_FRAME_8BPP);
    if (frame.loaded && geo.ok) {
        Note(family, "preview", "frame",
            Format("frame picture %ldx%ld in a control of %ldx%ld; the preview is drawn into %dx%d at (%d, %d) of it",
                static_cast<long>(frame.width), static_cast<long>(frame.height), geo.preview.cx, geo.preview.cy,
                QX_FRAME_DRAW_CX, QX_FRAME_DRAW_CY, QX_FRAME_DRAW_X, QX_FRAME_DRAW_Y));
        if (QX_FRAME_DRAW_X + QX_FRAME_DRAW_CX > frame.width || QX_FRAME_DRAW_Y + QX_FRAME_DRAW_CY > frame.height)
            Finding(family, "preview", "frame-draw-rect", "the preview's draw rectangle reaches out of the frame picture");
    }
    (void)fam;
}

// ---- translated labels against their controls ------------------------------------------

// One relabelled control as the page leaves it: its text (accelerator marks
// dropped, as drawn) measured in its own font against its width, the slider
// of its row and its dialog. A radio's check mark is not counted against
// the text, so only a text wider than the whole control is reported.
void CheckLabel(DWORD family, const std::string& subject, HWND dlg, int id, int sliderId, const char* key)
{
    HWND control = GetDlgItem(dlg, id);
    if (!control)
        return;
    char text[512];
    GetWindowTextA(control, text, sizeof text);
    qx::WindowDC dc(control, false);
    qx::SelectGuard font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    LONG extent = 0;
    if (!dc || !ShownTextWidth(dc.get(), text, extent))
        return;
    const RECT r = RectInDialog(control, dlg);
    RECT client{}, slider{};
    GetClientRect(dlg, &client);
    HWND sliderWnd = sliderId ? GetDlgItem(dlg, sliderId) : nullptr;
    if (sliderWnd)
        slider = RectInDialog(sliderWnd, dlg);
    std::string why;
    if (extent > r.right - r.left)
        why = Format("is %ld pixels wide in its font, its control %ld", extent, r.right - r.left);
    else if (sliderWnd && r.right > slider.left && r.top < slider.bottom && slider.top < r.bottom)
        why = Format("runs under its slider (right edge %ld, slider from %ld)", r.right, slider.left);
    else if (r.left < 0 || r.right > client.right || r.bottom > client.bottom)
        why = Format("leaves its dialog (%ld..%ld of %ld pixels)", r.left, r.right, client.right);
    if (!why.empty())
        Finding(family, subject, "cfg-text-overflow", Format("%s \"%s\" %s", key, text, why.c_str()));
}

// Builds the page and its tab dialogs hidden from the module's templates and
// lets the module's own code translate and lay them out as the page does for
// this language: the frame title at once, then each tab, then the page. The
// hidden parent stands for the sheet and carries the page template's font.
void CheckTranslatedLabels(DWORD family, const std::string& subject, const char* section)
{
    lstrcpynA(g_szLanguage, section, QX_LANGUAGE_CHARS);
    HWND parent = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 800, 800, nullptr, nullptr, g_hInstance, nullptr);
    HWND page = parent ? CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_QXTINTRA_PAGE), parent, QuietDialog, 0)
                       : nullptr;
    if (page) {
        SendMessageA(parent, WM_SETFONT, SendMessageA(page, WM_GETFONT, 0, 0), FALSE);
        LocalizeGroupBoxTitle(page);
        HWND tabs[2] = {};
        for (int t : { QX_TAB_ARTISTIC, QX_TAB_DEBLOCK }) {
            HWND child = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(TabTemplateId(t, g_szLanguage)),
                GetDlgItem(page, IDC_TAB), QuietDialog, 0);
            if (child && RelayoutForLanguage(child, QX_TAB_TEMPLATE_CX, QX_TAB_TEMPLATE_CY))
                LocalizeEffectLabels(child, t);
            tabs[t == QX_TAB_ARTISTIC ? 0 : 1] = child;
        }
        RelayoutForLanguage(page, QX_PAGE_TEMPLATE_CX, QX_PAGE_TEMPLATE_CY);
        CheckLabel(family, subject, page, IDC_ORIGINALGRPBOX, 0, "IDC_ORIGINALGRPBOX");
        for (int t : { QX_TAB_ARTISTIC, QX_TAB_DEBLOCK }) {
            const TabInfo* info = GetTabInfo(t);
            HWND child = tabs[t == QX_TAB_ARTISTIC ? 0 : 1];
            for (int k = 0; child && k < info->rowCount; ++k)
                CheckLabel(family, subject, child, info->rows[k].radioId, info->rows[k].trackbarId, info->rows[k].textKey);
        }
        DestroyWindow(page);
    }
    if (parent)
        DestroyWindow(parent);
    lstrcpyA(g_szLanguage, "English");
}

// ---- the configuration file ------------------------------------------------------------

struct TextKey {
    std::string key;
    std::string fallback;
    size_t limit;
};

// Every text key the module looks up, with its built-in text and the most
// characters the page keeps of it.
std::vector<TextKey> ModuleTextKeys()
{
    std::vector<TextKey> keys;
    for (const QX_CFG_TEXT* text : { &kCfgSheetTitle, &kCfgTwoCopies, &kCfgTwoCopies2 })
        keys.push_back({ text->key, text->fallback, (size_t)text->cch - 1 });
    // The group box keeps its template's title without a text of its own.
    keys.push_back({ "IDC_ORIGINALGRPBOX", "Original image", QX_CFG_TEXT_CCH - 1 });
    for (int tab : { QX_TAB_ARTISTIC, QX_TAB_DEBLOCK }) {
        const TabInfo* info = GetTabInfo(tab);
        keys.push_back({ info->labelKey, info->labelDefault, QX_CFG_TAB_LABEL_CCH - 1 });
        for (int r = 0; r < info->rowCount; ++r) {
            bool seen = false;
            for (const TextKey& k : keys)
                seen = seen || k.key == info->rows[r].textKey;
            if (!seen)
                keys.push_back({ info->rows[r].textKey, info->rows[r].defaultText, QX_CFG_TEXT_CCH - 1 });
        }
    }
    return keys;
}

std::string DirOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CheckSections(DWORD family, const std::string& file, const std::vector<TextKey>& keys)
{
    for (const std::string& section : skin::CfgSections(file)) {
        if (!lstrcmpiA(section.c_str(), "Language") || skin::CfgKeys(file, section).empty())
            continue;
        const std::string subject = "[" + section + "] of " + file;
        char name[QX_LANGUAGE_CHARS], abbrev[QX_ABBREV_CHARS];
        lstrcpynA(name, section.c_str(), sizeof name);
        const WORD offset = ResolveLanguageName(name, abbrev);
        const bool english = !lstrcmpiA(section.c_str(), "English");
        SetConfigSection(section.c_str(), file.c_str());
        for (const TextKey& k : keys) {
            char text[4096];
            if (!GetCfgString(k.key.c_str(), k.fallback.c_str(), text, sizeof text)) {
                if (!english)
                    Finding(family, subject, "cfg-missing-key",
                        Format("lacks %s: the page shows its built-in English text%s%s%s", k.key.c_str(),
                            text[0] ? " \"" : "", text, text[0] ? "\"" : ""));
            } else if (strlen(text) > k.limit) {
                Finding(family, subject, "cfg-too-long",
                    Format("%s has %zu characters: the page keeps the first %zu", k.key.c_str(), strlen(text), k.limit));
            }
        }
        if (!english)
            CheckTranslatedLabels(family, subject, section.c_str());
        // The help file the page asks WinHelp for, as the module names it.
        char windows[MAX_PATH];
        UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
        windows[n < MAX_PATH ? n : 0] = '\0';
        const char* pattern = family == CHIP_FAMILY_KP ? "KPTIN%s.HLP" : "QXTIN%s.HLP";
        char help[MAX_PATH], wst[MAX_PATH];
        wsprintfA(help, pattern, abbrev);
        wsprintfA(wst, pattern, "wst");
        const std::string dir = std::string(windows) + "\\help\\";
        if (FileExists(dir + help))
            Note(family, subject, "help", Format("help file %s%s is present (context offset %u)", dir.c_str(), help, offset));
        else
            Note(family, subject, "help", Format("help file %s%s is missing: the page uses %s with the English numbering (%s)",
                dir.c_str(), help, wst, FileExists(dir + wst) ? "present" : "missing too"));
    }
}

int CheckConfiguration(DWORD family, const std::string& cfg)
{
    std::string error;
    if (!skin::CheckCfgFile(cfg, &error)) {
        fprintf(stderr, "qxskincheck: %s\n", error.c_str());
        return 2;
    }
    const std::vector<TextKey> keys = [&] {
        std::vector<TextKey> k = ModuleTextKeys();
        for (const std::string& extra : skin::CfgKeys(cfg, "English")) {
            bool seen = false;
            for (const TextKey& t : k)
                seen = seen || !lstrcmpiA(t.key.c_str(), extra.c_str());
            if (!seen)
                k.push_back({ extra, "", 511 });
        }
        return k;
    }();
    // What the module itself chooses on this machine.
    {
        char language[QX_LANGUAGE_CHARS] = "English", abbrev[QX_ABBREV_CHARS], help[MAX_PATH], path[MAX_PATH];
        lstrcpynA(path, cfg.c_str(), MAX_PATH);
        char chosen[MAX_PATH];
        GetPrivateProfileStringA("Language", "Language", "Auto", chosen, sizeof chosen, cfg.c_str());
        SelectLanguage(g_hInstance, language, abbrev, help, family == CHIP_FAMILY_KP ? "KPTIN%s.HLP" : "QXTIN%s.HLP", path);
        Note(family, "Language", "language",
            Format("Language=%s: on this machine the page reads [%s] of %s, help file %s", chosen, g_szCfgSection, g_szCfgFile, help));
        char name[QX_LANGUAGE_CHARS], ab[QX_ABBREV_CHARS];
        lstrcpynA(name, chosen, sizeof name);
        ResolveLanguageName(name, ab);
        if (lstrcmpiA(chosen, "Auto") && lstrcmpiA(chosen, "English") && skin::CfgKeys(cfg, chosen).empty()
            && g_szCfgSection == std::string("English"))
            Finding(family, "Language", "cfg-no-section",
                Format("Language=%s has no section with keys: the page shows English", chosen));
    }
    CheckSections(family, cfg, keys);
    // Per-language files named by the [Language] section, for this family's keys.
    for (const std::string& key : skin::CfgKeys(cfg, "Language")) {
        const bool kp = key.size() > 3 && !lstrcmpiA(key.c_str() + key.size() - 3, "_KP");
        if (!lstrcmpiA(key.c_str(), "Language") || kp != (family == CHIP_FAMILY_KP))
            continue;
        char target[MAX_PATH];
        GetPrivateProfileStringA("Language", key.c_str(), "", target, sizeof target, cfg.c_str());
        if (!target[0])
            continue;
        const std::string path = DirOf(cfg) + target;
        if (!FileExists(path)) {
            Finding(family, "[Language] " + key, "cfg-redirect-missing",
                Format("names %s, which does not exist: the page then reads the base file", path.c_str()));
        } else if (!skin::CheckCfgFile(path, &error)) {
            Finding(family, "[Language] " + key, "cfg-redirect-unusable", error);
        } else {
            Note(family, "[Language] " + key, "cfg-redirect", "texts come from " + path);
            CheckSections(family, path, keys);
        }
    }
    return 0;
}

// ---- rendering through the demo host ---------------------------------------------------

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return DirOf(std::string(path, n));
}

bool RunDemo(const std::string& commandLine)
{
    STARTUPINFOA si = { sizeof si };
    PROCESS_INFORMATION pi = {};
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0;
}

int Render(const Options& o)
{
    std::vector<std::string> languages = { "English" };
    if (!o.cfg.empty())
        for (const std::string& s : skin::CfgSections(o.cfg))
            if (lstrcmpiA(s.c_str(), "Language") && lstrcmpiA(s.c_str(), "English") && !skin::CfgKeys(o.cfg, s).empty())
                languages.push_back(s);
    CreateDirectoryA(o.renderDir.c_str(), nullptr);
    int status = 0;
    for (DWORD family : o.families) {
        for (const char* style : { "Lustre", "Classic" }) {
            for (const std::string& language : languages) {
                std::string file = Format("%s\\page-%lu-%s-%s.png", o.renderDir.c_str(), static_cast<unsigned long>(family), style, language.c_str());
                for (char& c : file)
                    if (c == ' ')
                        c = '_';
                std::string cmd = Format("\"%sqxdemo.exe\" --family %lu --style %s --language \"%s\" --delay 800 --screenshot \"%s\"",
                    ProgramDir().c_str(), static_cast<unsigned long>(family), style, language.c_str(), file.c_str());
                if (!o.reg.empty())
                    cmd += " --reg \"" + o.reg + "\"";
                if (!o.cfg.empty())
                    cmd += " --cfg \"" + o.cfg + "\"";
                if (RunDemo(cmd)) {
                    Note(family, "render", "rendered", Format("%s, %s: %s", style, language.c_str(), file.c_str()));
                } else {
                    fprintf(stderr, "qxskincheck: the demo host could not render %s\n", file.c_str());
                    status = 2;
                }
            }
        }
    }
    return status;
}

int Usage()
{
    fprintf(stderr,
        "usage: qxskincheck [--reg FILE.reg | --live] [--cfg FILE] [--driver-key PATH]\n"
        "                   [--family 15|21|both] [--tsv] [--render DIR]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const bool hasNext = i + 1 < argc;
        if (a == "--reg" && hasNext)
            o.reg = argv[++i];
        else if (a == "--live")
            o.live = true;
        else if (a == "--cfg" && hasNext)
            o.cfg = argv[++i];
        else if (a == "--driver-key" && hasNext)
            o.driverKey = argv[++i];
        else if (a == "--family" && hasNext) {
            std::string f = argv[++i];
            if (f == "15")
                o.families = { CHIP_FAMILY_PRIMARY };
            else if (f == "21")
                o.families = { CHIP_FAMILY_KP };
            else if (f != "both")
                return Usage();
        } else if (a == "--tsv")
            o.tsv = true;
        else if (a == "--render" && hasNext)
            o.renderDir = argv[++i];
        else
            return Usage();
    }
    if ((o.reg.empty() && !o.live) || (!o.reg.empty() && o.live))
        return Usage();
    // Profile and loader calls take a name without a directory from the
    // Windows directory, not from here.
    for (std::string* path : { &o.reg, &o.cfg }) {
        char full[MAX_PATH];
        DWORD n = path->empty() ? 0 : GetFullPathNameA(path->c_str(), MAX_PATH, full, nullptr);
        if (n && n < MAX_PATH)
            *path = full;
    }
    g_tsv = o.tsv;
    g_hInstance = GetModuleHandleA(nullptr);
    INITCOMMONCONTROLSEX icc = { sizeof icc, ICC_WIN95_CLASSES };
    InitCommonControlsEx(&icc);
    RegisterPictureClass(g_hInstance);

    skin::SkinRegistry scratch;
    if (!o.reg.empty()) {
        std::vector<skin::RegFileKey> keys;
        std::string error;
        if (!skin::ReadRegFile(o.reg, &keys, &error)) {
            fprintf(stderr, "qxskincheck: %s\n", error.c_str());
            return 2;
        }
        if (!scratch.Load(keys) || !scratch.Redirect(GetModuleHandleA(nullptr))) {
            fprintf(stderr, "qxskincheck: cannot hold the skin's keys in a scratch registry key\n");
            return 2;
        }
        // The driver instance's key is found from the driver at start-up;
        // without one, a key of the file outside Software\Qx stands for it.
        if (o.driverKey.empty())
            for (const skin::RegFileKey& k : keys)
                if (_strnicmp(k.path.c_str(), "Software\\Qx", 11) != 0)
                    o.driverKey = "HKLM\\" + k.path;
    }
    if (!o.cfg.empty()) {
        std::string error;
        if (!skin::CheckCfgFile(o.cfg, &error)) {
            fprintf(stderr, "qxskincheck: %s\n", error.c_str());
            return 2;
        }
    }

    const PageGeometry geo = MeasurePage();
    if (geo.ok)
        Note(0, "page", "geometry", Format("page %ldx%ld, logo control %ldx%ld, preview control %ldx%ld (pixels)",
            geo.page.cx, geo.page.cy, geo.logo.cx, geo.logo.cy, geo.preview.cx, geo.preview.cy));
    UpdateDisplayMetrics();
    for (DWORD family : o.families) {
        ResetSkinGlobals(family);
        lstrcpynA(szQxByChipKey, o.driverKey.c_str(), sizeof szQxByChipKey);
        KeyWalk walk{ family, Snapshot(), {}, {} };
        CheckRegFlagsObserved(ObserveKey, &walk);
        const SkinState final = Snapshot();
        for (int i = 0; i < kSettings; ++i)
            Note(family, kSkinValueNames[i], "setting",
                Format("\"%s\" from %s", final.text[i].c_str(), walk.origin[i].empty() ? "no key: built in" : walk.origin[i].c_str()));
        CheckPictures(family, geo);
        if (!o.cfg.empty() && CheckConfiguration(family, o.cfg) == 2)
            return 2;
    }
    int status = g_findings ? 1 : 0;
    if (!o.renderDir.empty() && Render(o) == 2)
        status = 2;
    fflush(stdout);
    return status;
}
