#pragma once
// Sets the -v flag for one scope and puts the previous value back, so that a
// failed assertion inside cannot leave later tests of the process verbose.
#include "core/verbose.h"

namespace testsupport
{

class VerboseScope
{
public:
    explicit VerboseScope(bool on) : saved(verbose) { verbose = on; }
    ~VerboseScope() { verbose = saved; }
    VerboseScope(const VerboseScope&) = delete;
    VerboseScope& operator=(const VerboseScope&) = delete;

private:
    bool saved;
};

} // namespace testsupport
