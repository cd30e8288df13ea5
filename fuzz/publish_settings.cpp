// The publishing file and the server addresses in it: any bytes are read without fault; an
// accepted address reads back the same from its full form, and its shown form holds no
// credentials; what is written reads back as the same entries.
#include <cstdlib>
#include <string_view>

#include "settings/PublishSettings.h"

using namespace vistamo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto address = PublishAddress::parse(text)) {
        if (PublishAddress::parse(address->url()) != address ||
            address->url() != "rtsp://" +
                                  (address->user.empty()
                                       ? std::string()
                                       : address->user +
                                             (address->password.empty() ? std::string()
                                                                        : ":" + address->password) +
                                             "@") +
                                  address->shown()) {
            std::abort();
        }
    }
    const auto settings = PublishSettings::parse(text);
    if (settings.entries().size() > PublishSettings::kMaxEntries) {
        std::abort();
    }
    const std::string written = settings.text();
    if (PublishSettings::parse(written).entries() != settings.entries()) {
        std::abort();
    }
    return 0;
}
