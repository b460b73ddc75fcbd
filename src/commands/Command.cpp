#include "commands/Command.h"

#include <algorithm>

namespace regbench::commands {

bool Command::needsBridge() const {
    if (!help.isEmpty() || verb == Verb::List)
        return false;
    if (verb == Verb::Run)
        return std::any_of(script.begin(), script.end(), [](const Command& c) { return c.needsBridge(); });
    return true;
}

} // namespace regbench::commands
