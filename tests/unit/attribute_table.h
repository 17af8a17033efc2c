#pragma once
// Literal attribute tables for tests: each entry as a test writes it, laid
// out in a data block and a threshold block as a disk delivers them.
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace raid::smart::literal {

// One attribute; its position is its place in the list.
struct Entry {
    std::uint8_t id;
    std::uint8_t worst;
    std::uint64_t raw;
    std::uint8_t threshold;
    std::uint8_t current = 100;
};

struct Blocks {
    std::vector<std::uint8_t> data = std::vector<std::uint8_t>(512, 0);
    std::vector<std::uint8_t> thresholds = std::vector<std::uint8_t>(512, 0);
};

inline Blocks Table(std::initializer_list<Entry> entries) {
    Blocks b;
    std::size_t at = 2;
    for (const Entry& e : entries) {
        b.data[at] = e.id;
        b.data[at + 3] = e.current;
        b.data[at + 4] = e.worst;
        for (std::size_t k = 0; k < 6; ++k)
            b.data[at + 5 + k] = static_cast<std::uint8_t>(e.raw >> (8 * k));
        b.thresholds[at] = e.id;
        b.thresholds[at + 1] = e.threshold;
        at += 12;
    }
    return b;
}

}  // namespace raid::smart::literal
