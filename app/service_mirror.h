#pragma once
// The window's records made those the service sent: the device table, the
// identify and status records and what discovery learnt of each device. The
// window then redraws as after a discovery and a poll of its own, but logs
// and mails nothing: the service has done both.
#include <vector>

#include "client/enclosure_records.h"
#include "common/state.h"
#include "discovery/discovery_host.h"
#include "monitor/monitor_host.h"

namespace raid::app {

// `devices` as the window numbers them: by the service's index, leaving out
// any whose disk is outside the device table, at most the table's size.
std::vector<client::DeviceStatus> WindowDevices(const std::vector<client::DeviceStatus>& devices);

// `devices` as the service listed them (any order; at most the device table's
// size are taken). Returns true when the set of enclosures changed.
bool MirrorEnclosures(AppState& state, const std::vector<client::DeviceStatus>& devices,
                      discovery::DiscoveryHost& discovery, monitor::MonitorHost& monitor);

}  // namespace raid::app
