#pragma once

#include <map>
#include <string>
#include <vector>

// The installer's switches: "/name value" pieces split at every forward slash. Keys compare
// ordinally (case-sensitive); the last occurrence of a switch wins.
class CCommandLine
{
public:
    // Fills the map from the whole command line. Reports whether splitting produced a piece.
    bool Parse(const std::wstring& commandLine);

    // Clears value, then copies the value of exactly this key; false when there is none.
    bool Lookup(const std::wstring& key, std::wstring& value) const;

    bool Has(const std::wstring& key) const { return m_entries.count(key) != 0; }

private:
    static std::vector<std::wstring> Split(const std::wstring& commandLine);
    static void AddPiece(const std::wstring& piece, std::map<std::wstring, std::wstring>& entries);

    std::map<std::wstring, std::wstring> m_entries;
};
