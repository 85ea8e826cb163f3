// Wine's code pages: the generated tables in a file of their own, which
// clang-tidy passes over (their fifty thousand values would only slow it).
#include "platform/posix/code_pages.h"

namespace platform::posix {

namespace {

#include "platform/posix/code_page_data.inc"

}  // namespace

std::span<const CodePageTables> code_page_tables()
{
    return CODE_PAGE_TABLES;
}

std::span<const LocaleCodePage> locale_code_pages()
{
    return LOCALE_CODE_PAGES;
}

}  // namespace platform::posix
