#include "CommandLine.h"

namespace {

const wchar_t kSeparator = L'/';

bool IsTrimmed(wchar_t c) { return c == L' ' || c < 30; }

std::wstring Trim(const std::wstring& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    while (end > begin && IsTrimmed(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::wstring Unquote(const std::wstring& value)
{
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

std::vector<std::wstring> CCommandLine::Split(const std::wstring& commandLine)
{
    std::vector<std::wstring> pieces;
    size_t position = 0;
    for (;;) {
        const size_t begin = commandLine.find_first_not_of(kSeparator, position);
        if (begin == std::wstring::npos)
            break;
        const size_t end = commandLine.find(kSeparator, begin + 1);
        if (end == std::wstring::npos) {
            pieces.push_back(commandLine.substr(begin));
            break;
        }
        pieces.push_back(commandLine.substr(begin, end - begin));
        position = end + 1;
    }
    return pieces;
}

void CCommandLine::AddPiece(const std::wstring& piece, std::map<std::wstring, std::wstring>& entries)
{
    const size_t space = piece.find(L' ');
    if (space == std::wstring::npos) {
        entries[piece].clear();
        return;
    }
    entries[piece.substr(0, space)] = Unquote(Trim(piece.substr(space)));
}

bool CCommandLine::Parse(const std::wstring& commandLine)
{
    const std::vector<std::wstring> pieces = Split(commandLine);
    for (const std::wstring& piece : pieces)
        AddPiece(piece, m_entries);
    return !pieces.empty();
}

bool CCommandLine::Lookup(const std::wstring& key, std::wstring& value) const
{
    value.clear();
    const auto entry = m_entries.find(key);
    if (entry == m_entries.end())
        return false;
    value = entry->second;
    return true;
}
