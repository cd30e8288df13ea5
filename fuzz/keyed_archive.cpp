// The keyed archive reader: any bytes are accepted or refused without fault, and an accepted
// archive has exactly one encoding, so writing its values back gives the same bytes.
#include <cstdlib>

#include "settings/ByteFields.h"
#include "settings/KeyedArchive.h"

using namespace vistamo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView bytes(data, size);
    Error error;
    const auto archive = KeyedUnarchiver::unarchive(bytes, &error);
    if (!archive) {
        if (error.code != kCoderReadCorruptError) {
            std::abort();
        }
        return 0;
    }
    // Walk the accepted entries again to rebuild them through the public decoders.
    KeyedArchiver archiver;
    size_t position = 8;
    while (position < size) {
        const auto key = getString(bytes, position);
        if (!key) {
            std::abort();
        }
        position += key->consumed;
        const uint8_t tag = data[position++];
        const std::string& name = key->text;
        switch (tag) {
            case 0:
                archiver.encodeObject(archive->decodeObject(name), name);
                break;
            case 1:
                archiver.encodeBool(archive->decodeBool(name), name);
                position += 1;
                break;
            case 2:
                archiver.encodeInteger(archive->decodeInteger(name), name);
                position += 8;
                break;
            default:
                archiver.encodeObject(archive->decodeObject(name), name);
                position += getString(bytes, position)->consumed;
                break;
        }
        if (!archive->containsValueForKey(name)) {
            std::abort();
        }
    }
    if (archiver.archivedData() != Bytes(data, data + size)) {
        std::abort();
    }
    return 0;
}
