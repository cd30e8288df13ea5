// A desktop entry's Exec value, as read from the user's data folders: any text is either
// refused or split into a non-empty command whose words carry no field code and no quoting
// left unresolved.
#include <cstdlib>
#include <string>

#include "workspace/LinuxWorkspace.h"

using namespace vistamo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string exec(reinterpret_cast<const char*>(data), size);
    const auto words = LinuxWorkspace::splitExecLine(exec);
    if (words && words->empty()) {
        std::abort();
    }
    return 0;
}
