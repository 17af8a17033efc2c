// Settings files come from other machines and from people's editors: the
// parser must refuse what it cannot read and never read outside the input;
// what it accepts must survive a rewrite. Any value may be taken for the
// password record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "mail/password_record.h"
#include "mail/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto doc = raid::mail::ParseRegText(std::span(data, size), error);
    if (!doc) return 0;
    const std::string text = raid::mail::FormatRegText(*doc);
    const auto again = raid::mail::ParseRegText(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), error);
    if (!again || raid::mail::FormatRegText(*again) != text) std::abort();
    for (const auto& key : doc->keys)
        for (const auto& value : key.values) {
            raid::mail::PasswordRecord record{};
            std::copy_n(value.bytes.begin(), std::min(value.bytes.size(), record.size()),
                        record.begin());
            raid::mail::DecodePasswordRecord(record);
        }
    return 0;
}
