#include "mail/system_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/linux_sysfs.h"

namespace raid::mail {
namespace {

// DMI strings are at most 64 characters; anything longer is not a name.
constexpr std::size_t kDmiMaxBytes = 256;

std::string Dmi(const HostSources& sources, const char* attribute) {
    const auto text =
        platform::ReadAttribute(sources.sysfsRoot + "/class/dmi/id/" + attribute, kDmiMaxBytes);
    return text.value_or(std::string());
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += ", ";
        out += item;
    }
    return out;
}

}  // namespace

std::optional<std::string> SystemHostName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return std::nullopt;
    return std::string(buffer);
}

std::vector<InterfaceAddresses> SystemInterfaces() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    // IPv4 and IPv6 addresses apart, so that each interface lists its IPv4
    // addresses first as the Windows adapter configuration does.
    struct Collected {
        std::string name;
        std::vector<std::string> v4, v6;
    };
    std::vector<Collected> found;
    for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_name == nullptr) continue;
        if ((it->ifa_flags & IFF_UP) == 0 || (it->ifa_flags & IFF_LOOPBACK) != 0) continue;
        auto entry = std::find_if(found.begin(), found.end(),
                                  [&](const Collected& c) { return c.name == it->ifa_name; });
        if (entry == found.end())
            entry = found.insert(found.end(), Collected{it->ifa_name, {}, {}});
        if (it->ifa_addr == nullptr) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (it->ifa_addr->sa_family == AF_INET) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
            if (::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text)) entry->v4.emplace_back(text);
        } else if (it->ifa_addr->sa_family == AF_INET6) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(it->ifa_addr);
            if (::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text))
                entry->v6.emplace_back(text);
        }
    }
    ::freeifaddrs(list);

    std::vector<InterfaceAddresses> result;
    for (auto& c : found) {
        if (c.v4.empty() && c.v6.empty()) continue;
        InterfaceAddresses item{std::move(c.name), std::move(c.v4)};
        item.addresses.insert(item.addresses.end(), c.v6.begin(), c.v6.end());
        result.push_back(std::move(item));
    }
    return result;
}

HostSources SystemHostSources() {
    HostSources sources;
    sources.hostName = SystemHostName;
    sources.interfaces = SystemInterfaces;
    return sources;
}

std::string QueryManagementProperty(std::string_view className, std::string_view propertyName,
                                    const HostSources& sources) {
    if (className == "Win32_BaseBoard") {
        if (propertyName == "Manufacturer") return Dmi(sources, "board_vendor");
        if (propertyName == "Product") return Dmi(sources, "board_name");
        return {};
    }
    if (className == "Win32_Bus" && propertyName == "SystemName") {
        if (!sources.hostName) return {};
        return sources.hostName().value_or(std::string());
    }
    if (className == "Win32_NetworkAdapterConfiguration" && propertyName == "IPAddress") {
        if (!sources.interfaces) return {};
        for (const auto& adapter : sources.interfaces()) {
            const std::string joined = Join(adapter.addresses);
            if (!joined.empty()) return joined;
        }
        return {};
    }
    return {};
}

std::vector<std::string> BuildSystemInfoBlock(const HostSources& sources) {
    const auto q = [&](std::string_view c, std::string_view p) {
        return QueryManagementProperty(c, p, sources);
    };
    return {
        "\n=========== [System Information] ==============",
        "\nMotherBoard : " + q("Win32_BaseBoard", "Manufacturer") + " - " +
            q("Win32_BaseBoard", "Product"),
        "\nSystem Name : " + q("Win32_Bus", "SystemName"),
        "\nIP Address  : " + q("Win32_NetworkAdapterConfiguration", "IPAddress"),
        "\n===============================================",
    };
}

}  // namespace raid::mail
