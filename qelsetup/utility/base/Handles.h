#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

// Scope-bound owners of system handles: each kind has its traits (its empty value and how it is
// released); the owner releases on every path and can be moved, never copied.
namespace qel {

template <class Traits>
class CUniqueHandle
{
public:
    using Type = typename Traits::Type;

    CUniqueHandle() = default;
    explicit CUniqueHandle(Type value) : m_value(value) {}
    ~CUniqueHandle() { Reset(); }

    CUniqueHandle(CUniqueHandle&& other) noexcept : m_value(other.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    Type Get() const { return m_value; }
    bool IsValid() const { return m_value != Traits::Empty(); }
    explicit operator bool() const { return IsValid(); }

    Type Release()
    {
        Type value = m_value;
        m_value = Traits::Empty();
        return value;
    }

    void Reset(Type value = Traits::Empty())
    {
        if (IsValid())
            Traits::Close(m_value);
        m_value = value;
    }

    // For APIs that return the handle through an out parameter; releases what was held.
    Type* Put()
    {
        Reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Empty();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};

struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseServiceHandle(h); }
};

struct ResourceTraits {
    using Type = HGLOBAL;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { FreeResource(h); }
};

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};

struct WindowTraits {
    using Type = HWND;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { DestroyWindow(h); }
};

using CHandle = CUniqueHandle<KernelHandleTraits>;
using CFileHandle = CUniqueHandle<FileHandleTraits>;
using CFindHandle = CUniqueHandle<FindHandleTraits>;
using CRegKey = CUniqueHandle<RegKeyTraits>;
using CModule = CUniqueHandle<ModuleTraits>;
using CServiceHandle = CUniqueHandle<ServiceHandleTraits>;
using CResourceHandle = CUniqueHandle<ResourceTraits>;
using CLocalMemory = CUniqueHandle<LocalMemoryTraits>;
using CWindow = CUniqueHandle<WindowTraits>;

// COM interface pointer: releases its reference on every path.
template <class T>
class CComPtr
{
public:
    CComPtr() = default;
    ~CComPtr() { Reset(); }
    CComPtr(CComPtr&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_ptr = other.m_ptr;
            other.m_ptr = nullptr;
        }
        return *this;
    }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;

    T* Get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

    T** Put()
    {
        Reset();
        return &m_ptr;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    void Reset()
    {
        if (m_ptr != nullptr) {
            m_ptr->Release();
            m_ptr = nullptr;
        }
    }

    template <class U>
    HRESULT As(CComPtr<U>& other) const
    {
        return m_ptr->QueryInterface(__uuidof(U), other.PutVoid());
    }

private:
    T* m_ptr = nullptr;
};

// Runs a callable when the scope ends, unless dismissed.
template <class F>
class CScopeGuard
{
public:
    explicit CScopeGuard(F f) : m_f(std::move(f)) {}
    ~CScopeGuard()
    {
        if (m_active)
            m_f();
    }
    void Dismiss() { m_active = false; }
    CScopeGuard(const CScopeGuard&) = delete;
    CScopeGuard& operator=(const CScopeGuard&) = delete;

private:
    F m_f;
    bool m_active = true;
};

template <class F>
CScopeGuard<F> MakeScopeGuard(F f)
{
    return CScopeGuard<F>(std::move(f));
}

}  // namespace qel
