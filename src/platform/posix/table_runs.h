// Private to the POSIX platform: Wine's tables (its code pages and its case
// table), kept as runs and expanded a block at a time where a name needs one.
#pragma once

#include <cstdint>
#include <span>

namespace platform::posix {

// A stretch of a table: `count` keys from `first`, `key_step` apart, take the
// values from `value` on, `value_step` apart; where the value step is LITERAL,
// they take the `count` values of the table's pool from index `value` on.
struct TableRun {
    uint16_t first;
    uint16_t value;
    uint16_t count;
    uint8_t key_step;
    uint8_t value_step;
};

inline constexpr uint8_t LITERAL = 0xFF;

// Calls visit(key, value) for every key of the runs, in the runs' order.
template<typename Visit> void for_each_entry(std::span<const TableRun> runs, const char16_t* pool, Visit visit)
{
    for (const TableRun& run : runs) {
        for (unsigned i = 0; i < run.count; ++i) {
            unsigned key = run.first + i * run.key_step;
            unsigned value = run.value_step == LITERAL ? pool[run.value + i] : run.value + i * run.value_step;
            visit(key, static_cast<uint16_t>(value));
        }
    }
}

// Writes the runs' values for the keys from `first_key` on into `values`, one
// slot per key; the slots of keys that no run names keep what they hold.
template<typename Value>
void expand_runs(std::span<const TableRun> runs, const char16_t* pool, unsigned first_key, std::span<Value> values)
{
    for (const TableRun& run : runs) {
        unsigned last = run.first + (run.count - 1u) * run.key_step;
        if (last < first_key || run.first >= first_key + values.size())
            continue;
        for_each_entry(std::span(&run, 1), pool, [&](unsigned key, uint16_t value) {
            if (key >= first_key && key - first_key < values.size())
                values[key - first_key] = static_cast<Value>(value);
        });
    }
}

}  // namespace platform::posix
