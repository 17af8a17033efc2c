// The pure decoders of reply sectors and SMART blocks on any bytes: array
// status in every fill mode and member order, rebuild progress, the
// information reply, signatures, and SMART data and thresholds of any
// length (a short block reads as zeros past its end).
//
// Input: a control byte, then a reply sector (zeros past the input's end);
// the whole input after the control byte also serves as SMART data, split
// at a point the control byte chooses into data and thresholds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/channel.h"
#include "device/protocol.h"
#include "discovery/device_report.h"
#include "monitor/status_decode.h"
#include "smart/attribute_tooltip.h"
#include "smart/attributes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    raid::device::ReplySector reply{};
    std::copy_n(rest.begin(), std::min(rest.size(), reply.size()), reply.begin());

    using raid::monitor::MemberFill;
    for (const MemberFill fill :
         {MemberFill::Poll, MemberFill::DiscoveryFresh, MemberFill::DiscoveryAlreadyFilled}) {
        raid::Record512 record{};
        raid::monitor::DecodeArrayStatus(record, reply, (control & 1) != 0, fill);
        raid::monitor::DecodeInformation(record, reply, (control & 2) != 0);
    }
    raid::monitor::RebuildPercent(reply);
    raid::device::RecognizeSignature(reply);
    raid::device::ReplyStatus(reply[raid::device::kStatusOffset]);
    raid::monitor::ArrayModeCode(reply[80]);
    raid::discovery::ModelText(reply);
    raid::discovery::FirmwareText(reply);

    const std::size_t split = rest.size() * control / 255;
    const auto view = raid::smart::BuildSmartView(
        rest.first(split), rest.subspan(split),
        static_cast<std::uint32_t>(raid::monitor::ReadBigEndian(reply, 0, 4)));
    for (const auto& row : view.rows) {
        raid::smart::AttributeTooltip(row.attribute, row.status);
        raid::smart::SelectedCellText(view.rows, 0, raid::smart::kRawColumn);
    }
    return 0;
}
