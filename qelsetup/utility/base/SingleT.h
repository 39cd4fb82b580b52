#pragma once

// Process-wide single instance, created on first use (thread-safe function-local static) and
// destroyed at process exit.
template <class T>
class CSingleT
{
public:
    static T& Instance()
    {
        static T instance;
        return instance;
    }

protected:
    CSingleT() = default;
    ~CSingleT() = default;
    CSingleT(const CSingleT&) = delete;
    CSingleT& operator=(const CSingleT&) = delete;
};
