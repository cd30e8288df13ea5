// The options record: any bytes are applied without fault, and whatever they give is written
// and read back unchanged.
#include <cstdlib>

#include "settings/OptionData.h"

using namespace vistamo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AlarmOptions options;
    readOptionRecord(options, ByteView(data, size));
    if (options.version != currentVersionText()) {
        std::abort();
    }
    const Bytes written = setOptionData(options);
    AlarmOptions again;
    readOptionRecord(again, written);
    if (setOptionData(again) != written) {
        std::abort();
    }
    return 0;
}
