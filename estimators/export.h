// The exported estimators, callable from any host through a C foreign-function
// interface: the public header's declarations, with the export attribute of
// the library's own build. Only these names leave a deliverable.
#pragma once

#if defined(_WIN32)
#define LPFIT_API __declspec(dllexport)
#else
#define LPFIT_API __attribute__((visibility("default")))
#endif
#include "include/lpfit.h"

#define LP_EXPORT LPFIT_API
#define LP_CDECL LPFIT_CALL
