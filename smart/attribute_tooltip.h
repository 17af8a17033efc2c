#pragma once
// The tooltip of an attribute row: what the attribute measures, its raw
// value decoded where the value has a common meaning, and why the row was
// marked "Alert" or "Error". For readers of SMART tables who do not know
// every id by heart; the grid's own texts stay as they are.
#include <cstdint>
#include <string>

#include "smart/attributes.h"

namespace raid::smart {

// The raw value in plain units: "8760 hours" (low 32 bits) for the hour
// counters, "35 °C" (low byte) for 190, 194 and 231, "8 sectors" and the
// like for counters. Empty when the raw value is the maker's own scale.
std::string DecodedRaw(const Attribute& attribute);

// Why `status` was given: "Alert: raw value 8: sectors were reallocated." or
// "Error: worst value 30 is below the threshold 36." Empty for "Good".
std::string StatusReason(const Attribute& attribute, std::uint8_t status);

// Lines: "<label>: <one sentence>", "Raw <12 hex digits>" with the decoded
// value beside it, then the reason when the row is marked.
std::string AttributeTooltip(const Attribute& attribute, std::uint8_t status);

}  // namespace raid::smart
