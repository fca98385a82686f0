#include "platform/console_output.h"

#include <string>

#include "platform/win32/wide_string.h"

namespace {

HANDLE HandleOf(EConsoleStream eStream)
{
    return ::GetStdHandle(eStream == EConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// The console modes the session found, given back when it ends: a console keeps its mode
// after a program exits, and the next program of that window would inherit ours.
struct CSavedMode {
    HANDLE hConsole = nullptr;
    DWORD dwMode = 0;
};
CSavedMode g_aSavedModes[2];

bool WriteAllToConsole(HANDLE hConsole, const std::wstring& strText)
{
    // Large writes go in pieces (older consoles refuse very long ones), never splitting a
    // surrogate pair between two of them.
    constexpr size_t MAX_PIECE = 8192;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nPiece = strText.size() - nStart < MAX_PIECE ? strText.size() - nStart : MAX_PIECE;
        if (nPiece > 1 && IS_HIGH_SURROGATE(strText[nStart + nPiece - 1]))
            --nPiece;
        DWORD dwWritten = 0;
        if (!::WriteConsoleW(hConsole, strText.data() + nStart, static_cast<DWORD>(nPiece), &dwWritten, nullptr)
            || dwWritten == 0)
            return false;
        nStart += dwWritten;
    }
    return true;
}

bool WriteAllToFile(HANDLE hFile, std::string_view svText)
{
    // Files and pipes get UTF-8 with the system's line ends.
    std::string strBytes;
    strBytes.reserve(svText.size() + svText.size() / 16);
    for (char ch : svText) {
        if (ch == '\n')
            strBytes += '\r';
        strBytes += ch;
    }
    size_t nStart = 0;
    while (nStart < strBytes.size()) {
        DWORD dwWritten = 0;
        if (!::WriteFile(hFile, strBytes.data() + nStart, static_cast<DWORD>(strBytes.size() - nStart), &dwWritten,
                         nullptr)
            || dwWritten == 0)
            return false;
        nStart += dwWritten;
    }
    return true;
}

// Whether the console really acts on a terminal sequence. Some consoles take the mode and then
// print the sequence as text (Wine's does): a harmless one (reset the colours) is written, and
// when the cursor moved it was printed, so it is wiped out again.
bool DoesConsoleActOnSequences(HANDLE hConsole)
{
    CONSOLE_SCREEN_BUFFER_INFO before {};
    if (!::GetConsoleScreenBufferInfo(hConsole, &before))
        return false;
    const wchar_t szProbe[] = L"\x1b[0m";
    const DWORD dwProbe = static_cast<DWORD>(wcslen(szProbe));
    DWORD dwWritten = 0;
    if (!::WriteConsoleW(hConsole, szProbe, dwProbe, &dwWritten, nullptr))
        return false;
    CONSOLE_SCREEN_BUFFER_INFO after {};
    if (!::GetConsoleScreenBufferInfo(hConsole, &after))
        return false;
    if (after.dwCursorPosition.X == before.dwCursorPosition.X && after.dwCursorPosition.Y == before.dwCursorPosition.Y)
        return true;
    ::SetConsoleCursorPosition(hConsole, before.dwCursorPosition);
    const wchar_t szBlank[] = L"    ";
    ::WriteConsoleW(hConsole, szBlank, dwProbe, &dwWritten, nullptr);
    ::SetConsoleCursorPosition(hConsole, before.dwCursorPosition);
    return false;
}

} // namespace

CConsoleSession::CConsoleSession()
{
    // A console that takes terminal sequences and acts on them redraws a live line with them;
    // any other keeps its mode, and the line is redrawn with a carriage return and spaces.
    const EConsoleStream aeStreams[2] = {EConsoleStream::Output, EConsoleStream::Error};
    for (int i = 0; i < 2; ++i) {
        const HANDLE hStream = HandleOf(aeStreams[i]);
        DWORD dwMode = 0;
        if (hStream == nullptr || hStream == INVALID_HANDLE_VALUE || !::GetConsoleMode(hStream, &dwMode))
            continue;
        const bool bWasOn = (dwMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
        if (!bWasOn && !::SetConsoleMode(hStream, dwMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
            continue;
        if (DoesConsoleActOnSequences(hStream)) {
            if (!bWasOn)
                g_aSavedModes[i] = {hStream, dwMode};
        } else {
            ::SetConsoleMode(hStream, dwMode & ~static_cast<DWORD>(ENABLE_VIRTUAL_TERMINAL_PROCESSING));
            if (bWasOn)
                g_aSavedModes[i] = {hStream, dwMode};
        }
    }
}

CConsoleSession::~CConsoleSession()
{
    for (CSavedMode& saved : g_aSavedModes) {
        if (saved.hConsole != nullptr)
            ::SetConsoleMode(saved.hConsole, saved.dwMode);
        saved = CSavedMode();
    }
}

bool IsConsoleTerminal(EConsoleStream eStream)
{
    DWORD dwMode = 0;
    return ::GetConsoleMode(HandleOf(eStream), &dwMode) != 0;
}

int GetConsoleColumns(EConsoleStream eStream)
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (!::GetConsoleScreenBufferInfo(HandleOf(eStream), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool DoesConsoleFollowSequences(EConsoleStream eStream)
{
    DWORD dwMode = 0;
    return ::GetConsoleMode(HandleOf(eStream), &dwMode) && (dwMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool WriteConsoleText(EConsoleStream eStream, std::string_view svText)
{
    const HANDLE hStream = HandleOf(eStream);
    if (hStream == nullptr || hStream == INVALID_HANDLE_VALUE)
        return false;
    if (svText.empty())
        return true;
    DWORD dwMode = 0;
    // A console shows wide text whatever its code page (950 on a Traditional Chinese Windows);
    // narrow bytes would be read in that code page and UTF-8 would come out as garbage.
    if (::GetConsoleMode(hStream, &dwMode))
        return WriteAllToConsole(hStream, Utf8ToWide(std::string(svText)));
    return WriteAllToFile(hStream, svText);
}
