#include "service/engine_front.h"

namespace raid::service {

EnclosureTarget EnclosureTarget::Of(const client::DeviceStatus& device) {
    return {device.identity,
            device.path,
            device.model,
            device.firmware,
            {device.members[0].serial, device.members[1].serial}};
}

std::string EnclosureTarget::Text() const {
    const auto serial = [](const std::string& s) { return s.empty() ? std::string("none") : s; };
    return identity + " (" + (model.empty() ? std::string("no model") : model) + ", " +
           (path.empty() ? std::string("no device") : path) + ", members " + serial(serials[0]) +
           " and " + serial(serials[1]) + ")";
}

}  // namespace raid::service
