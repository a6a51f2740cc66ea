// The host layer on POSIX systems: shared libraries through dlopen and dlsym.
#include <dlfcn.h>

#include "host/loader.h"

namespace host {

Library::Library(const std::string& path) : handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
{
    if (handle == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
}

Library::~Library() { dlclose(handle); }

void* Library::lookup(const std::string& name) const
{
    void* f = dlsym(handle, name.c_str());
    if (f == nullptr) throw std::runtime_error("no export " + name);
    return f;
}

bool Library::exports(const std::string& name) const { return dlsym(handle, name.c_str()) != nullptr; }

}  // namespace host
