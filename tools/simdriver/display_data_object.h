// The shell's data object as the display control panel hands it to a
// property-sheet handler, reduced to what the page asks of it: the display
// device name under "Display Device" (UTF-16 in global memory). The demo
// host's shell mode and the tests use it; a test can make it answer wrongly.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <objidl.h>

#include <cstring>
#include <string>
#include <vector>

namespace sim {

// An IUnknown that only counts: the owner of a medium, so the test sees the
// module give the medium back.
class CountingUnknown : public IUnknown {
public:
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

// The shell's data object, reduced to what the page asks of it: the display
// device name under "Display Device". Lives on its owner's stack; its count
// only shows who holds it.
class DisplayDataObject : public IDataObject {
public:
    enum class Answer { Name, NoFormat, Fails, Stream, OwnedGlobal };

    LONG refs = 1;
    Answer answer = Answer::Name;
    std::vector<WCHAR> block;      // the global block's characters, as given
    std::vector<FORMATETC> asked;  // every GetData request
    CountingUnknown owner;         // pUnkForRelease of Answer::OwnedGlobal
    IStream* lastStream = nullptr; // the medium of Answer::Stream (test holds one ref)

    explicit DisplayDataObject(const char* name = nullptr)
    {
        if (name)
            SetName(name);
    }
    ~DisplayDataObject()
    {
        if (lastStream)
            lastStream->Release();
    }
    void SetName(const std::string& name)
    {
        block.assign(name.begin(), name.end());
        block.push_back(0);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        asked.push_back(*format);
        if (answer == Answer::Fails)
            return E_UNEXPECTED;
        if (answer == Answer::NoFormat || format->cfFormat != RegisterClipboardFormatA("Display Device")
            || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, block.size() * sizeof(WCHAR));
        if (!global)
            return E_OUTOFMEMORY;
        memcpy(GlobalLock(global), block.data(), block.size() * sizeof(WCHAR));
        GlobalUnlock(global);
        medium->pUnkForRelease = nullptr;
        if (answer == Answer::Stream) {
            // Another medium than the one asked for: a stream over the name.
            if (FAILED(CreateStreamOnHGlobal(global, TRUE, &lastStream)))
                return E_FAIL;
            lastStream->AddRef();
            medium->tymed = TYMED_ISTREAM;
            medium->pstm = lastStream;
            return S_OK;
        }
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = global;
        if (answer == Answer::OwnedGlobal) {
            owner.AddRef();
            medium->pUnkForRelease = &owner;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC** out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** out) override
    {
        *out = nullptr;
        return OLE_E_ADVISENOTSUPPORTED;
    }
};

} // namespace sim
