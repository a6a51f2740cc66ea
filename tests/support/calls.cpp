// The capture of standard output and the caller of the exports.
#include "calls.h"

#include <unistd.h>
#if defined(_WIN32)
#include <windows.h>
#endif

#include <stdexcept>

namespace {

#if defined(_WIN32)
// The C runtime's tmpfile() creates its file in the root of the current
// drive, where an ordinary user may not write; the user's temporary directory
// instead. "D" removes the file when it is closed.
std::FILE* scratch_file()
{
    wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
    const DWORD len = GetTempPathW(MAX_PATH + 1, dir);
    if (len == 0 || len > MAX_PATH) return nullptr;
    if (GetTempFileNameW(dir, L"lpo", 0, name) == 0) return nullptr;
    std::FILE* f = _wfopen(name, L"w+bD");
    if (f == nullptr) DeleteFileW(name);
    return f;
}
#else
std::FILE* scratch_file() { return std::tmpfile(); }
#endif

}  // namespace

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    file = scratch_file();
    if (file == nullptr) throw std::runtime_error("cannot open a temporary file");
    saved = dup(STDOUT_FILENO);
    if (saved < 0 || dup2(fileno(file), STDOUT_FILENO) < 0) {
        if (saved >= 0) close(saved);
        std::fclose(file);
        throw std::runtime_error("cannot redirect standard output");
    }
}

StdoutCapture::~StdoutCapture() { finish(); }

std::string StdoutCapture::finish()
{
    if (file == nullptr) return {};
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string text;
    std::rewind(file);
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, file)) > 0) text.append(buf, got);
    std::fclose(file);
    file = nullptr;
    return text;
}

host::Outcome call_export(const host::Library& lib, const std::string& name, const host::Problem& pr, double fill,
                          const std::vector<double>& fh0, const std::function<int(const std::function<int()>&)>& around)
{
    host::Outcome out = host::outputs(name, pr, fill, fh0);
    // The host's own copies: the library must read them and write only outputs.
    host::Problem copy = pr;
    if (copy.t.empty()) copy.t.push_back(0.0);
    const std::function<int()> call = [&] { return host::invoke(lib, name, copy, out.mh.data(), out.sh.data(), out.fh.data()); };
    StdoutCapture capture;
    out.ret = around ? around(call) : call();
    out.printed = capture.finish();
    return out;
}
