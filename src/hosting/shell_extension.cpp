// The shell's road into the page: the class factory and the property-sheet
// handler the display control panel creates through DllGetClassObject.
//
// Both objects are plain records whose first word(s) point at tables of
// functions laid out in the slot order of their COM interfaces, so the shell
// calls straight into the functions below. Everything runs on the shell's
// user-interface thread (a single-threaded apartment): reference counts and
// g_cDllRef are plain integers.
#include "hosting/shell_extension.h"

#include <shlobj.h>

#include <cstddef>

#include "common/raii.h"
#include "config/localization.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "resource.h"

const CLSID CLSID_QxTintraPropSheet = { 0x4a796e84, 0x9335, 0x4151, { 0xad, 0x60, 0x82, 0x38, 0x80, 0xbe, 0x36, 0x22 } };
const CLSID CLSID_QxTintraPropSheetAlt = { 0x52e2ddad, 0x36f4, 0x42bd, { 0xae, 0x5b, 0xf5, 0x24, 0x2e, 0xa8, 0x86, 0x0f } };

namespace {

struct ShellExtClassFactory;
struct ShellPropSheetExt;
struct PropSheetExtInterface;

// ---- slot tables ------------------------------------------------------------

// IClassFactory
struct ClassFactoryVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(ShellExtClassFactory*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(ShellExtClassFactory*);
    ULONG(STDMETHODCALLTYPE* Release)(ShellExtClassFactory*);
    HRESULT(STDMETHODCALLTYPE* CreateInstance)(ShellExtClassFactory*, IUnknown*, REFIID, void**);
    HRESULT(STDMETHODCALLTYPE* LockServer)(ShellExtClassFactory*, BOOL);
};

// IShellExtInit, which is also the handler's IUnknown
struct ShellExtInitVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(ShellPropSheetExt*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(ShellPropSheetExt*);
    ULONG(STDMETHODCALLTYPE* Release)(ShellPropSheetExt*);
    HRESULT(STDMETHODCALLTYPE* Initialize)(ShellPropSheetExt*, PCIDLIST_ABSOLUTE, IDataObject*, HKEY);
};

// IShellPropSheetExt
struct PropSheetExtVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(PropSheetExtInterface*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(PropSheetExtInterface*);
    ULONG(STDMETHODCALLTYPE* Release)(PropSheetExtInterface*);
    HRESULT(STDMETHODCALLTYPE* AddPages)(PropSheetExtInterface*, LPFNSVADDPROPSHEETPAGE, LPARAM);
    HRESULT(STDMETHODCALLTYPE* ReplacePage)(PropSheetExtInterface*, EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM);
};

static_assert(sizeof(ClassFactoryVtbl) == 5 * sizeof(void*), "IClassFactory has five slots");
static_assert(sizeof(ShellExtInitVtbl) == 4 * sizeof(void*), "IShellExtInit has four slots");
static_assert(sizeof(PropSheetExtVtbl) == 5 * sizeof(void*), "IShellPropSheetExt has five slots");

// ---- the records ------------------------------------------------------------

struct ShellExtClassFactory {
    const ClassFactoryVtbl* lpVtbl;
    LONG cRef;  // 0 until the first successful QueryInterface
};

struct PropSheetExtInterface {
    const PropSheetExtVtbl* lpVtbl;
};

constexpr int QX_DEVICE_NAME_CHARS = 128;

struct ShellPropSheetExt {
    const ShellExtInitVtbl* lpVtbl;  // IShellExtInit and IUnknown
    PropSheetExtInterface sheet;     // IShellPropSheetExt
    LONG cRef;
    IDataObject* pDataObj;           // held with one reference, may be null
    char szDevice[QX_DEVICE_NAME_CHARS];
};

ShellPropSheetExt* FromSheet(PropSheetExtInterface* sheet)
{
    return reinterpret_cast<ShellPropSheetExt*>(
        reinterpret_cast<BYTE*>(sheet) - offsetof(ShellPropSheetExt, sheet));
}

// ---- construction ----------------------------------------------------------

// Every live factory and handler holds the module in memory.
template <typename Object>
Object* NewComObject(const decltype(Object::lpVtbl) vtbl)
{
    Object* object = static_cast<Object*>(qx::HeapAllocZero(sizeof(Object)));
    if (!object)
        return nullptr;
    object->lpVtbl = vtbl;
    ++g_cDllRef;
    return object;
}

template <typename Object>
void FreeComObject(Object* object)
{
    HeapFree(GetProcessHeap(), 0, object);
    --g_cDllRef;
}

// Hands a new object out through its own QueryInterface. An object nobody
// took (the first QueryInterface failed, so its count is still 0) is freed at
// once rather than left allocated for the life of the process; it never did
// anything, so undoing its construction is all there is to do.
template <typename Object>
HRESULT HandOut(Object* object, REFIID iid, void** out)
{
    HRESULT hr = object->lpVtbl->QueryInterface(object, iid, out);
    if (object->cRef == 0)
        FreeComObject(object);
    return hr;
}

// ---- ShellExtClassFactory --------------------------------------------------

HRESULT STDMETHODCALLTYPE Factory_QueryInterface(ShellExtClassFactory* self, REFIID iid, void** out);
ULONG STDMETHODCALLTYPE Factory_AddRef(ShellExtClassFactory* self);
ULONG STDMETHODCALLTYPE Factory_Release(ShellExtClassFactory* self);
HRESULT STDMETHODCALLTYPE Factory_CreateInstance(ShellExtClassFactory* self, IUnknown* outer, REFIID iid, void** out);
HRESULT STDMETHODCALLTYPE Factory_LockServer(ShellExtClassFactory* self, BOOL lock);

constexpr ClassFactoryVtbl kFactoryVtbl = {
    Factory_QueryInterface,
    Factory_AddRef,
    Factory_Release,
    Factory_CreateInstance,
    Factory_LockServer,
};

HRESULT STDMETHODCALLTYPE Factory_QueryInterface(ShellExtClassFactory* self, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    *out = self;
    Factory_AddRef(self);
    return S_OK;
}

ULONG STDMETHODCALLTYPE Factory_AddRef(ShellExtClassFactory* self) { return static_cast<ULONG>(++self->cRef); }

ULONG STDMETHODCALLTYPE Factory_Release(ShellExtClassFactory* self)
{
    LONG count = --self->cRef;
    if (count == 0)
        FreeComObject(self);
    return static_cast<ULONG>(count);
}

// The server's lifetime follows g_cDllRef alone; a lock adds nothing to it.
HRESULT STDMETHODCALLTYPE Factory_LockServer(ShellExtClassFactory*, BOOL) { return S_OK; }

// ---- ShellPropSheetExt: IShellExtInit / IUnknown ---------------------------

HRESULT STDMETHODCALLTYPE Ext_QueryInterface(ShellPropSheetExt* self, REFIID iid, void** out);
ULONG STDMETHODCALLTYPE Ext_AddRef(ShellPropSheetExt* self);
ULONG STDMETHODCALLTYPE Ext_Release(ShellPropSheetExt* self);
HRESULT STDMETHODCALLTYPE Ext_Initialize(ShellPropSheetExt* self, PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId);

HRESULT STDMETHODCALLTYPE Sheet_QueryInterface(PropSheetExtInterface* sheet, REFIID iid, void** out);
ULONG STDMETHODCALLTYPE Sheet_AddRef(PropSheetExtInterface* sheet);
ULONG STDMETHODCALLTYPE Sheet_Release(PropSheetExtInterface* sheet);
HRESULT STDMETHODCALLTYPE Sheet_AddPages(PropSheetExtInterface* sheet, LPFNSVADDPROPSHEETPAGE addPage, LPARAM param);
HRESULT STDMETHODCALLTYPE Sheet_ReplacePage(PropSheetExtInterface* sheet, EXPPS pageId, LPFNSVADDPROPSHEETPAGE replaceWith, LPARAM param);

constexpr ShellExtInitVtbl kExtInitVtbl = {
    Ext_QueryInterface,
    Ext_AddRef,
    Ext_Release,
    Ext_Initialize,
};

constexpr PropSheetExtVtbl kPropSheetVtbl = {
    Sheet_QueryInterface,
    Sheet_AddRef,
    Sheet_Release,
    Sheet_AddPages,
    Sheet_ReplacePage,
};

HRESULT STDMETHODCALLTYPE Factory_CreateInstance(ShellExtClassFactory*, IUnknown* outer, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    ShellPropSheetExt* ext = NewComObject<ShellPropSheetExt>(&kExtInitVtbl);
    if (!ext)
        return E_OUTOFMEMORY;
    ext->sheet.lpVtbl = &kPropSheetVtbl;
    return HandOut(ext, iid, out);
}

HRESULT STDMETHODCALLTYPE Ext_QueryInterface(ShellPropSheetExt* self, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellExtInit)) {
        *out = self;
    } else if (IsEqualIID(iid, IID_IShellPropSheetExt)) {
        *out = &self->sheet;
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    Ext_AddRef(self);
    return S_OK;
}

ULONG STDMETHODCALLTYPE Ext_AddRef(ShellPropSheetExt* self) { return static_cast<ULONG>(++self->cRef); }

ULONG STDMETHODCALLTYPE Ext_Release(ShellPropSheetExt* self)
{
    LONG count = --self->cRef;
    if (count == 0) {
        if (self->pDataObj)
            self->pDataObj->Release();
        // The page, if it is still shown, keeps the module loaded through its
        // own count; the marker of a running copy goes with the handler.
        DestroyInstanceWindow();
        FreeComObject(self);
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE Ext_Initialize(ShellPropSheetExt* self, PCIDLIST_ABSOLUTE, IDataObject* data, HKEY)
{
    // Take the new reference before dropping the old one: the shell may hand
    // the same data object again, and it must not vanish in between.
    if (data)
        data->AddRef();
    if (self->pDataObj)
        self->pDataObj->Release();
    self->pDataObj = data;
    return S_OK;
}

// ---- ShellPropSheetExt: IShellPropSheetExt ---------------------------------

HRESULT STDMETHODCALLTYPE Sheet_QueryInterface(PropSheetExtInterface* sheet, REFIID iid, void** out)
{
    return Ext_QueryInterface(FromSheet(sheet), iid, out);
}

ULONG STDMETHODCALLTYPE Sheet_AddRef(PropSheetExtInterface* sheet) { return Ext_AddRef(FromSheet(sheet)); }

ULONG STDMETHODCALLTYPE Sheet_Release(PropSheetExtInterface* sheet) { return Ext_Release(FromSheet(sheet)); }

// The device name holds 127 characters and a terminator. A longer name makes
// the conversion fail, and the page then serves the primary display (the empty
// name) rather than a cut name that could name another device or none.
// `maxChars` is the size of the global block in characters: a string the data
// object did not terminate inside its block ends at the block's end.
void ConvertDeviceName(const WCHAR* text, SIZE_T maxChars, char (&name)[QX_DEVICE_NAME_CHARS])
{
    SIZE_T length = 0;
    while (length < maxChars && length < QX_DEVICE_NAME_CHARS && text[length])
        ++length;
    int written = 0;
    if (length > 0 && length < QX_DEVICE_NAME_CHARS)
        written = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), name, QX_DEVICE_NAME_CHARS - 1,
            nullptr, nullptr);
    name[written] = '\0';  // 0 when the name did not fit
}

// Reads the display device name the shell offers under "Display Device";
// anything else (no data object, no such data, another medium) leaves the
// empty name, which keeps the page on the primary display.
void ReadDeviceName(IDataObject* data, char (&name)[QX_DEVICE_NAME_CHARS])
{
    name[0] = '\0';
    if (!data)
        return;
    FORMATETC format = {};
    format.cfFormat = static_cast<CLIPFORMAT>(RegisterClipboardFormatA(QX_DISPLAY_DEVICE_FORMAT));
    format.ptd = nullptr;
    format.dwAspect = DVASPECT_CONTENT;
    format.lindex = -1;
    format.tymed = TYMED_HGLOBAL;
    STGMEDIUM medium = {};
    if (FAILED(data->GetData(&format, &medium)))
        return;
    if (medium.tymed == TYMED_HGLOBAL) {
        if (const WCHAR* text = static_cast<const WCHAR*>(GlobalLock(medium.hGlobal))) {
            ConvertDeviceName(text, GlobalSize(medium.hGlobal) / sizeof(WCHAR), name);
            GlobalUnlock(medium.hGlobal);
        }
    }
    // The medium is ours: for global memory without an owner this is
    // GlobalFree; a medium with an owner, or of another kind, goes back the
    // way its provider asked.
    ReleaseStgMedium(&medium);
}

HRESULT STDMETHODCALLTYPE Sheet_AddPages(PropSheetExtInterface* sheet, LPFNSVADDPROPSHEETPAGE addPage, LPARAM param)
{
    ShellPropSheetExt* self = FromSheet(sheet);
    ReadDeviceName(self->pDataObj, self->szDevice);
    // Each request of the shell stands alone: one that names no device is
    // for the primary display, not for the device of an earlier request in
    // this process. (The host utility's road keeps the last named device.)
    SelectPrimaryDisplay();
    // The shell's page marks its running copy (and warns about another one)
    // before it is even shown.
    if (!StartUpForDevice(self->szDevice, TRUE))
        return QX_ADDPAGES_UNSUPPORTED;
    const WORD templateId = lstrcmpiA(g_szLanguage, "Japanese") == 0 ? IDD_QXTINTRA_PAGE_JPN : IDD_QXTINTRA_PAGE;
    AddTintraPage(addPage, param, templateId, reinterpret_cast<LPARAM>(self));
    // Also when the page could not be made or the shell refused it: the shell
    // has nothing to undo either way.
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Sheet_ReplacePage(PropSheetExtInterface*, EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM)
{
    return E_FAIL;  // the page is added beside the shell's pages, never instead of one
}

} // namespace

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    if (g_cDllRef != 0)
        return S_FALSE;
    // No page and no object is left, so no sheet still needs the tab icon of
    // the last request; COM asks this just before it frees the module.
    ReleaseTabIcon();
    return S_OK;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_QxTintraPropSheet) && !IsEqualCLSID(clsid, CLSID_QxTintraPropSheetAlt))
        return CLASS_E_CLASSNOTAVAILABLE;
    ShellExtClassFactory* factory = NewComObject<ShellExtClassFactory>(&kFactoryVtbl);
    if (!factory)
        return E_OUTOFMEMORY;
    return HandOut(factory, iid, out);
}
