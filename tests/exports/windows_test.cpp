// What a Windows host meets: the DLLs loaded by name through LoadLibrary, only
// their estimators exported, and results that do not depend on the x87
// control word of the calling thread.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <windows.h>

#include "exports/problems.h"
#include "support.h"

namespace {

std::uint16_t x87_control()
{
    std::uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

void set_x87_control(std::uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }

}  // namespace

TEST(WindowsHost, LoadsEachDllByNameWithOnlyItsEstimators)
{
    const host::Library dorvane("Dorvane.dll"), tremsal("Tremsal.dll");
    EXPECT_TRUE(dorvane.exports("dorvane"));
    EXPECT_FALSE(dorvane.exports("tremsal"));
    for (const char* name : {"tremsal", "locparg", "locpa2g"}) EXPECT_TRUE(tremsal.exports(name)) << name;
    EXPECT_FALSE(tremsal.exports("dorvane"));
    // Decorated or internal names are not there.
    for (const char* name : {"_dorvane", "dorvane@60", "fit", "ludcmp"}) EXPECT_FALSE(dorvane.exports(name)) << name;
}

TEST(WindowsHost, MissingDllIsAnErrorNamingIt)
{
    try {
        const host::Library lib("NoSuchLibrary.dll");
        FAIL() << "loaded a library that does not exist";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("NoSuchLibrary.dll"), std::string::npos) << e.what();
    }
}

TEST(WindowsHost, PathsAreUtf8)
{
    // A copy of Dorvane.dll, beside this program, in a directory whose name is
    // not ASCII: "lp-\u00e9t\u00e9".
    wchar_t self[MAX_PATH];
    const DWORD len = GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(len > 0 && len < MAX_PATH);
    std::wstring here(self, len);
    here.erase(here.find_last_of(L"\\/") + 1);
    const std::wstring dir = here + L"lp-\u00e9t\u00e9", copy = dir + L"\\Dorvane.dll";
    CreateDirectoryW(dir.c_str(), nullptr);
    struct Removal {
        const std::wstring &file, &dir;
        ~Removal()
        {
            DeleteFileW(file.c_str());
            RemoveDirectoryW(dir.c_str());
        }
    } removal{copy, dir};
    ASSERT_TRUE(CopyFileW((here + L"Dorvane.dll").c_str(), copy.c_str(), FALSE));

    const int bytes = WideCharToMultiByte(CP_UTF8, 0, copy.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, copy.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.pop_back();
    const host::Library lib(utf8);
    EXPECT_TRUE(lib.exports("dorvane"));
}

TEST(WindowsHost, LoadingAgainAfterUnloadingGivesTheSameNumbers)
{
    const host::Problem pr = random_problem(60, 1, 1, 5, 41);
    std::vector<double> first;
    {
        const host::Library lib("Dorvane.dll");
        first = call_export(lib, "dorvane", pr).mh;
    }
    const host::Library lib("Dorvane.dll");
    EXPECT_EQ(call_export(lib, "dorvane", pr).mh, first);
}

TEST(WindowsHost, ResultsIgnoreTheCallersX87Precision)
{
    // Windows starts threads with 53-bit x87 precision, MinGW's start-up code
    // sets 64 bits, and a host may set either. An x87 routine anywhere in the
    // computation (the C runtime's exp is one) would round differently.
    const host::Library lib("Tremsal.dll");
    host::Problem pr = random_problem(150, 2, 2, 6, 42);
    pr.deg = 3;
    pr.vol = 1;
    const std::uint16_t saved = x87_control();
    set_x87_control(static_cast<std::uint16_t>((saved & ~0x0300u) | 0x0300u));  // 64-bit precision
    const host::Outcome extended = call_export(lib, "tremsal", pr);
    set_x87_control(static_cast<std::uint16_t>((saved & ~0x0300u) | 0x0200u));  // 53-bit precision
    const host::Outcome dbl = call_export(lib, "tremsal", pr);
    set_x87_control(saved);
    EXPECT_TRUE(same_bits(extended.mh, dbl.mh));
    EXPECT_TRUE(same_bits(extended.sh, dbl.sh));
    EXPECT_TRUE(same_bits(extended.fh, dbl.fh));
}
