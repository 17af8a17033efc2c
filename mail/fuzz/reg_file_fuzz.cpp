// Settings files come from other machines and from people's editors: the
// parser must refuse what it cannot read and never read outside the input;
// what it accepts must survive a rewrite.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "mail/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto doc = raid::mail::ParseRegText(std::span(data, size), error);
    if (!doc) return 0;
    const std::string text = raid::mail::FormatRegText(*doc);
    const auto again = raid::mail::ParseRegText(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), error);
    if (!again || raid::mail::FormatRegText(*again) != text) std::abort();
    return 0;
}
