#pragma once
// Host information for the notification mails: the five-line block built once
// at start-up, and the few management properties it needs.
//
// The Windows management classes are answered from Linux sources:
//   Win32_BaseBoard.Manufacturer   <sysfs>/class/dmi/id/board_vendor
//   Win32_BaseBoard.Product        <sysfs>/class/dmi/id/board_name
//   Win32_Bus.SystemName           gethostname
//   Win32_NetworkAdapterConfiguration.IPAddress
//                                  getifaddrs: every address of the first
//                                  interface that has any, joined by ", "
// Anything unavailable reads as an empty text; no query ever fails loudly.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid::mail {

// The addresses of one network interface, IPv4 before IPv6, as text.
struct InterfaceAddresses {
    std::string name;
    std::vector<std::string> addresses;
};

// Where the host facts come from; tests replace each part.
struct HostSources {
    std::string sysfsRoot = "/sys";
    // The host name; nullopt when it cannot be had.
    std::function<std::optional<std::string>()> hostName;
    // Interfaces in system order (loopback and interfaces that are down left
    // out), each with its addresses.
    std::function<std::vector<InterfaceAddresses>()> interfaces;
};

// The running system: /sys, gethostname and getifaddrs.
HostSources SystemHostSources();

// The host name from gethostname; nullopt on failure.
std::optional<std::string> SystemHostName();

// Interfaces from getifaddrs: up, not loopback, with at least one IPv4 or
// IPv6 address; grouped by name in the order the system lists them.
std::vector<InterfaceAddresses> SystemInterfaces();

// The text of one management property (see the table above); empty for an
// unknown class or property and for anything unavailable.
std::string QueryManagementProperty(std::string_view className, std::string_view propertyName,
                                    const HostSources& sources);

// The SystemInfoBlock: five lines, each beginning with a line feed: the
// heading, "MotherBoard : " vendor " - " board, "System Name : " host,
// "IP Address  : " addresses, and the closing rule. Built once at start-up.
std::vector<std::string> BuildSystemInfoBlock(const HostSources& sources);

}  // namespace raid::mail
