// The host layer on Windows: dynamic-link libraries through LoadLibrary and
// GetProcAddress.
//
// A bare name such as "Dorvane.dll" is found by the loader's own search, which
// starts in the directory of the host executable; a path is loaded as given.
// Paths are UTF-8 and reach the loader as UTF-16.
#include <windows.h>

#include <string>

#include "host/loader.h"

namespace host {

namespace {

// The UTF-16 form of a UTF-8 string; empty when s is empty or not UTF-8.
std::wstring utf16(const std::string& s)
{
    if (s.empty()) return {};
    const int len = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                                        nullptr, 0);
    if (len <= 0) return {};
    std::wstring w(static_cast<std::size_t>(len), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), &w[0], len);
    return w;
}

// The system's text for the calling thread's last error code.
std::string last_error()
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD len =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string s = len > 0 ? std::string(text, len) : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
}

HMODULE load(const std::string& path)
{
    // A name that is not UTF-8 is taken in the ANSI code page.
    const std::wstring wide = utf16(path);
    return wide.empty() ? LoadLibraryA(path.c_str()) : LoadLibraryW(wide.c_str());
}

}  // namespace

Library::Library(const std::string& path) : handle(load(path))
{
    if (handle == nullptr) throw std::runtime_error("cannot load " + path + ": " + last_error());
}

Library::~Library() { FreeLibrary(static_cast<HMODULE>(handle)); }

void* Library::lookup(const std::string& name) const
{
    const FARPROC f = GetProcAddress(static_cast<HMODULE>(handle), name.c_str());
    if (f == nullptr) throw std::runtime_error("no export " + name);
    return reinterpret_cast<void*>(f);
}

bool Library::exports(const std::string& name) const
{
    return GetProcAddress(static_cast<HMODULE>(handle), name.c_str()) != nullptr;
}

}  // namespace host
