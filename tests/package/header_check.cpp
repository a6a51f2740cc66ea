// The public header and the libraries' own declarations seen together: a
// parameter list or result type that differs is a conflicting declaration of
// a C function, and this file stops compiling.
#include "estimators/export.h"
#include "include/lpfit.h"

using Fifteen = int (*)(double*, double*, double*, double*, double*, double*, double*, double*, double*,
                        double*, double*, double*, double*, double*, double*);
using Sixteen = int (*)(double*, double*, double*, double*, double*, double*, double*, double*, double*,
                        double*, double*, double*, double*, double*, double*, double*);

[[maybe_unused]] static const Fifteen fifteen[] = {&dorvane, &tremsal};
[[maybe_unused]] static const Sixteen sixteen[] = {&locparg, &locpa2g};
