// NvToolMenuShellExt.dll / NvToolMenuShellExt64.dll: the product's entry in the context menu
// of files and folders ("用 Navolo 搜索"), an in-process COM server. Registration writes the
// class under HKCR\CLSID and the handler under HKCR\*\shellex and HKCR\Directory\shellex;
// unregistration removes exactly those keys. The command starts Navolo.exe from the library's
// own folder with the selected path.

#include <windows.h>
#include <olectl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "utility/base/Handles.h"

#include <atomic>
#include <new>
#include <string>

namespace {

// {6C1E9C5E-3A5B-4C1D-9E77-4E1F6B0A2D31}
const CLSID kClsid = {0x6c1e9c5e, 0x3a5b, 0x4c1d, {0x9e, 0x77, 0x4e, 0x1f, 0x6b, 0x0a, 0x2d, 0x31}};
const wchar_t kClsidText[] = L"{6C1E9C5E-3A5B-4C1D-9E77-4E1F6B0A2D31}";
const wchar_t kHandlerName[] = L"NvToolMenu";
const wchar_t kMenuText[] = L"\x7528 Navolo \x641C\x7D22";  // 用 Navolo 搜索
const wchar_t* const kHandlerParents[] = {L"*\\shellex\\ContextMenuHandlers", L"Directory\\shellex\\ContextMenuHandlers"};

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

std::wstring ModulePath()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}

bool SetValue(HKEY root, const std::wstring& subKey, const wchar_t* name, const std::wstring& value)
{
    qel::CRegKey key;
    if (RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

class CContextMenu final : public IShellExtInit, public IContextMenu
{
public:
    CContextMenu() { ++g_objects; }
    virtual ~CContextMenu() { --g_objects; }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellExtInit))
            *object = static_cast<IShellExtInit*>(this);
        else if (IsEqualIID(riid, IID_IContextMenu))
            *object = static_cast<IContextMenu*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_refs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const long refs = --m_refs;
        if (refs == 0)
            delete this;
        return static_cast<ULONG>(refs);
    }

    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) override
    {
        m_path.clear();
        if (data == nullptr)
            return E_INVALIDARG;
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium = {};
        if (FAILED(data->GetData(&format, &medium)))
            return E_INVALIDARG;
        HDROP drop = static_cast<HDROP>(GlobalLock(medium.hGlobal));
        if (drop != nullptr) {
            wchar_t path[MAX_PATH];
            if (DragQueryFileW(drop, 0, path, MAX_PATH) > 0)
                m_path = path;
            GlobalUnlock(medium.hGlobal);
        }
        ReleaseStgMedium(&medium);
        return m_path.empty() ? E_INVALIDARG : S_OK;
    }

    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT, UINT flags) override
    {
        if (flags & CMF_DEFAULTONLY)
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        InsertMenuW(menu, index, MF_BYPOSITION | MF_STRING, firstId, kMenuText);
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
    }

    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override
    {
        if (info == nullptr || HIWORD(info->lpVerb) != 0 || LOWORD(info->lpVerb) != 0)
            return E_INVALIDARG;
        std::wstring program = ModulePath();
        program = program.substr(0, program.find_last_of(L'\\') + 1) + L"Navolo.exe";
        const std::wstring arguments = L"/search \"" + m_path + L"\"";
        const HINSTANCE started = ShellExecuteW(info->hwnd, L"open", program.c_str(), arguments.c_str(), nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(started) > 32 ? S_OK : E_FAIL;
    }

    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT*, LPSTR name, UINT size) override
    {
        if (command != 0 || type != GCS_HELPTEXTW || name == nullptr || size == 0)
            return E_INVALIDARG;
        lstrcpynW(reinterpret_cast<wchar_t*>(name), kMenuText, static_cast<int>(size));
        return S_OK;
    }

private:
    std::atomic<long> m_refs{1};
    std::wstring m_path;
};

class CClassFactory : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        CContextMenu* menu = new (std::nothrow) CContextMenu;
        if (menu == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT hr = menu->QueryInterface(riid, object);
        menu->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

CClassFactory g_factory;

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object)
{
    if (!IsEqualCLSID(clsid, kClsid))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer()
{
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
    const std::wstring path = ModulePath();
    bool ok = !path.empty() && SetValue(HKEY_CLASSES_ROOT, clsidKey, nullptr, L"Navolo Tool Menu") &&
              SetValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", nullptr, path) &&
              SetValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    for (const wchar_t* parent : kHandlerParents)
        ok = ok && SetValue(HKEY_CLASSES_ROOT, std::wstring(parent) + L"\\" + kHandlerName, nullptr, kClsidText);
    ok = ok && SetValue(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                        kClsidText, L"Navolo Tool Menu");
    return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer()
{
    for (const wchar_t* parent : kHandlerParents)
        SHDeleteKeyW(HKEY_CLASSES_ROOT, (std::wstring(parent) + L"\\" + kHandlerName).c_str());
    SHDeleteKeyW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsidText).c_str());
    SHDeleteValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", kClsidText);
    return S_OK;
}

// regsvr32 /i calls this after DllRegisterServer; /i /u before DllUnregisterServer.
STDAPI DllInstall(BOOL install, LPCWSTR)
{
    return install ? DllRegisterServer() : DllUnregisterServer();
}

}  // extern "C"
