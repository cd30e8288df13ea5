#include "discovery/LocalInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <sstream>

namespace vistamo {

namespace {

using IfAddrs = std::unique_ptr<ifaddrs, decltype(&freeifaddrs)>;

IfAddrs interfaceList() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return IfAddrs(nullptr, &freeifaddrs);
    }
    return IfAddrs(list, &freeifaddrs);
}

// The address of an AF_INET or AF_INET6 entry as text (at most 63 characters); empty for other
// families or when the conversion fails.
std::string addressText(const sockaddr* address) {
    if (address == nullptr) {
        return {};
    }
    const void* bytes = nullptr;
    if (address->sa_family == AF_INET) {
        bytes = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    } else if (address->sa_family == AF_INET6) {
        bytes = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    } else {
        return {};
    }
    char text[64] = {};
    if (inet_ntop(address->sa_family, bytes, text, sizeof text) == nullptr) {
        return {};
    }
    return text;
}

bool isUsableIPv4(const std::string& address) { return address.rfind("169.254.", 0) != 0; }

// Not link-local: the first up to four characters, read as hexadecimal as far as they are hex
// digits, masked with 0xFFC0, are not 0xFE80.
bool isUsableIPv6(const std::string& address) {
    unsigned value = 0;
    for (size_t i = 0; i < address.size() && i < 4; ++i) {
        const char c = address[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
        value = value * 16 + digit;
    }
    return (value & 0xFFC0) != 0xFE80;
}

template <typename Usable>
std::optional<std::string> firstUsable(const std::vector<std::string>& list, Usable usable) {
    const auto found = std::find_if(list.begin(), list.end(), usable);
    if (found == list.end()) {
        return std::nullopt;
    }
    return *found;
}

}  // namespace

bool LocalInterfaces::isVirtualInterfaceName(const std::string& name) {
    static const std::array<const char*, 11> prefixes = {"docker", "br-",     "veth",     "virbr",
                                                         "vmnet",  "vboxnet", "tun",      "tap",
                                                         "wg",     "zt",      "tailscale"};
    if (name == "lo") {
        return true;
    }
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const char* prefix) { return name.rfind(prefix, 0) == 0; });
}

bool LocalInterfaces::isUsableInterface(const std::string& name, unsigned flags) {
    const unsigned required = IFF_UP | IFF_RUNNING | IFF_MULTICAST;
    return (flags & required) == required && (flags & IFF_LOOPBACK) == 0 &&
           !isVirtualInterfaceName(name);
}

std::optional<std::vector<LocalInterfaces::InterfaceAddress>>
LocalInterfaces::interfaceAddresses() {
    const IfAddrs list = interfaceList();
    if (!list) {
        return std::nullopt;
    }
    std::vector<InterfaceAddress> entries;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) {
            continue;
        }
        InterfaceAddress item;
        item.name = entry->ifa_name;
        item.flags = entry->ifa_flags;
        item.family = entry->ifa_addr != nullptr ? entry->ifa_addr->sa_family : AF_UNSPEC;
        item.address = addressText(entry->ifa_addr);
        entries.push_back(std::move(item));
    }
    return entries;
}

std::string LocalInterfaces::defaultRouteInterface() {
    // The calling thread's own view: /proc/net follows the process's first thread, which may sit
    // in another network namespace than this one.
    std::ifstream routes("/proc/thread-self/net/route");
    if (!routes) {
        routes.open("/proc/net/route");
    }
    std::string line;
    std::getline(routes, line);  // column titles
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name, destination;
        if (fields >> name >> destination && destination == "00000000") {
            return name;
        }
    }
    return {};
}

std::vector<std::string> LocalInterfaces::usableInterfaceNames(
    const std::vector<InterfaceAddress>& entries, const std::string& defaultRouteInterface) {
    std::vector<std::string> names;
    for (const InterfaceAddress& entry : entries) {
        if (isUsableInterface(entry.name, entry.flags) &&
            std::find(names.begin(), names.end(), entry.name) == names.end()) {
            names.push_back(entry.name);
        }
    }
    const auto found = std::find(names.begin(), names.end(), defaultRouteInterface);
    if (found != names.end()) {
        std::rotate(names.begin(), found, found + 1);
    }
    return names;
}

std::vector<std::string> LocalInterfaces::usableInterfaceNames() {
    const auto entries = interfaceAddresses();
    if (!entries) {
        return {};
    }
    return usableInterfaceNames(*entries, defaultRouteInterface());
}

std::optional<std::string> LocalInterfaces::collectAddresses(
    const std::vector<InterfaceAddress>& entries, const std::string& defaultRouteInterface,
    int ipVersion, std::vector<std::string>& list) {
    const int family = ipVersion == 4 ? AF_INET : ipVersion == 6 ? AF_INET6 : AF_UNSPEC;
    if (family == AF_UNSPEC) {
        return std::nullopt;
    }
    std::optional<std::string> last;
    for (const std::string& name : usableInterfaceNames(entries, defaultRouteInterface)) {
        for (const InterfaceAddress& entry : entries) {
            if (entry.family == family && entry.name == name && !entry.address.empty()) {
                list.push_back(entry.address);
                last = entry.address;
            }
        }
    }
    return last;
}

std::optional<std::string> LocalInterfaces::appendUsableAddresses(int ipVersion,
                                                                  std::vector<std::string>& list) {
    const auto entries = interfaceAddresses();
    if (!entries) {
        return std::nullopt;
    }
    return collectAddresses(*entries, defaultRouteInterface(), ipVersion, list);
}

std::optional<std::string> LocalInterfaces::getValidIP(const std::vector<std::string>& ipv4List,
                                                       const std::vector<std::string>& ipv6List,
                                                       bool ipv4HasPriority, int32_t& ipType) {
    const bool ipv6Counts = ipv6List.size() > 2;
    if (ipv4HasPriority) {
        if (auto address = firstUsable(ipv4List, isUsableIPv4)) {
            ipType = 0;
            return address;
        }
        if (ipv6Counts) {
            auto address = firstUsable(ipv6List, isUsableIPv6);
            if (address) {
                ipType = 1;
            }
            return address;
        }
        ipType = 0;
        if (ipv4List.empty()) {
            return std::nullopt;
        }
        return ipv4List.front();
    }
    if (ipv6Counts) {
        auto address = firstUsable(ipv6List, isUsableIPv6);
        if (address) {
            ipType = 1;
        }
        return address;
    }
    if (auto address = firstUsable(ipv4List, isUsableIPv4)) {
        ipType = 0;
        return address;
    }
    ipType = 1;
    if (ipv6List.empty()) {
        return std::nullopt;
    }
    return ipv6List.front();
}

}  // namespace vistamo
