// Private to the POSIX platform: Wine's ANSI code pages and the locales that
// Wine gives each, as the program carries them (code_page_data.inc).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/posix/table_runs.h"

namespace platform::posix {

struct CodePageTables {
    uint16_t number;
    uint8_t lead_ranges[6];    // first and last lead byte of each range; zeros after the last
    char16_t unicode_default;  // what bytes without a character become
    // The way in: key, a byte or lead << 8 | trail; value, a UTF-16 unit.
    std::span<const TableRun> in;
    const char16_t* pool;  // the literal values of the runs in
    // Where the way out is not the way in reversed: key, a UTF-16 unit; value,
    // a byte or lead << 8 | trail.
    std::span<const TableRun> out;
};

struct LocaleCodePage {
    std::string_view name;  // a Windows locale name: language[-Script][-TERRITORY]
    uint16_t code_page;
};

std::span<const CodePageTables> code_page_tables();
// The locales whose code page is not 1252.
std::span<const LocaleCodePage> locale_code_pages();

}  // namespace platform::posix
