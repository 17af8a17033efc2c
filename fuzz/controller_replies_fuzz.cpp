// Whatever a controller (or something posing as one) answers in its reply
// sectors, discovery, the status poll and the SMART reads stay within their
// records and end: no read outside a reply, no endless wait.
//
// Input: one record per read of the reply block, in the order the programs
// read it: a control byte, then the sector's 512 bytes (zeros past the
// input's end). Control bits 0-1: 0 the sector as it stands, 1 with the RAID
// bridge's signature, 2 with the port multiplier's, 3 the read fails. Once
// the input is used up, every reply read fails. Other reads (the knock
// sequence) read zeros.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/protocol.h"
#include "fuzz/controller_session.h"

namespace {

void Stamp(std::span<std::uint8_t> sector, const raid::device::Signature& signature) {
    std::memcpy(sector.data() + raid::device::kSignatureAOffset, signature.a,
                raid::device::kSignatureSize);
    std::memcpy(sector.data() + raid::device::kSignatureBOffset, signature.b,
                raid::device::kSignatureSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = 0;
    raid::fuzz::OneDiskSystem disks([&](std::uint32_t lba, std::span<std::uint8_t> sector) {
        std::fill(sector.begin(), sector.end(), 0);
        if (lba != raid::device::kReplyLba) return true;
        if (pos >= size) return false;
        const std::uint8_t control = data[pos++];
        const std::size_t n = std::min(size - pos, sector.size());
        std::copy_n(data + pos, n, sector.begin());
        pos += n;
        switch (control & 3) {
            case 1:
                Stamp(sector, raid::device::kRaidBridgeSignature);
                return true;
            case 2:
                Stamp(sector, raid::device::kPortMultiplierSignature);
                return true;
            case 3:
                return false;
            default:
                return true;
        }
    });
    raid::fuzz::RunControllerSession(disks);
    return 0;
}
