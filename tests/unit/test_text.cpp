// The text library: format_text's conversions, the build-time check of formats against them,
// format_wide's cut, and UTF-8 conversion.
#include "unit.h"
#include <string.h>
#include <string>
#include "run/text.h"

namespace {
std::string fmt(const char* format, ...) {
    char buf[256];
    va_list args;
    va_start(args, format);
    int n = format_text(buf, sizeof buf, format, args);
    va_end(args);
    return n < 0 ? "<failed>" : std::string(buf);
}
}  // namespace

TEST(format_text_conversions) {
    CHECK_EQ(fmt("%d|%ld|%lld", -5, (long)-7, -9000000000LL), std::string("-5|-7|-9000000000"));
    CHECK_EQ(fmt("%lu|%llu", 4294967295UL, 18446744073709551615ULL), std::string("4294967295|18446744073709551615"));
    CHECK_EQ(fmt("%02d:%03d|%08lx", 7, 42, 0x80004001UL), std::string("07:042|80004001"));
    CHECK_EQ(fmt("%s and %s", "a", (const char*)NULL), std::string("a and (null)"));
    CHECK_EQ(fmt("100%%"), std::string("100%"));
    CHECK_EQ(fmt("%p", (void*)0x1234), std::string("0000000000001234"));
    CHECK_EQ(fmt("%03d", -5), std::string("-05"));
}

TEST(format_text_narrows_wide_text_to_utf8) {
    CHECK_EQ(fmt("%ls", L"h\u00e9llo \u20ac \U0001F600"), std::string("h\xc3\xa9llo \xe2\x82\xac \xf0\x9f\x98\x80"));
    const wchar_t unpaired[] = {L'a', 0xD800, L'b', 0};
    CHECK_EQ(fmt("x %ls", unpaired), std::string("<failed>"));
    const wchar_t lone_low[] = {0xDC00, 0};
    CHECK_EQ(fmt("%ls", lone_low), std::string("<failed>"));
    CHECK_EQ(fmt("%q"), std::string("<failed>"));
}

TEST(format_text_cuts_and_reports_full_length) {
    char buf[8];
    memset(buf, 'z', sizeof buf);
    va_list none{};
    int n = format_text(buf, sizeof buf, "0123456789", none);
    CHECK_EQ(n, 10);
    CHECK_EQ(std::string(buf), std::string("0123456"));
}

TEST(format_wide_cuts_at_capacity) {
    wchar_t buf[6];
    format_wide(buf, 6, L"%ls\\%ls", L"abc", L"defgh");
    CHECK_EQ(std::wstring(buf), std::wstring(L"abc\\d"));
    wchar_t exact[6];
    format_wide(exact, 6, L"%ls", L"abcdef");
    CHECK_EQ(std::wstring(exact), std::wstring(L"abcde"));
    format_wide(exact, 6, L"%d", 12);
    CHECK_EQ(std::wstring(exact), std::wstring(L"12"));
}

// What format_text cannot form fails the build (log_line and format_narrow check their format
// with format_supported); the engine refuses the same formats at run time.
static_assert(format_supported("%s %ls %c %d %i %u %x %X %p %% %ld %lu %lld %llu %08lx %-5s %03d"),
              "the conversions the bridge uses");
static_assert(!format_supported("%.3s") && !format_supported("%zu") && !format_supported("%f") &&
                  !format_supported("%hd") && !format_supported("%lls") && !format_supported("%lc") &&
                  !format_supported("%*d") && !format_supported("%e") && !format_supported("50%") &&
                  !format_supported("%5ls") && !format_supported("%-3c") && format_supported("%-ls"),
              "conversions format_text lacks");

TEST(formats_beyond_the_engine_are_refused_at_build_time_and_run_time) {
    const char* const refused[] = {"%.3s", "%zu", "%f", "%hd", "%lls", "%o", "50%", "%3c"};
    for (const char* format : refused) {
        CHECK(!format_supported(format));
        CHECK_EQ(fmt(format, 1, 2), std::string("<failed>"));
    }
    CHECK(format_supported("key %s %lu\n"));
}

TEST(to_utf8_fails_empty_on_a_text_that_does_not_fit_or_is_not_utf16) {
    char out[8];
    CHECK(to_utf8(L"abc", out, sizeof out));
    CHECK_EQ(std::string(out), std::string("abc"));
    CHECK(!to_utf8(L"abcdefghij", out, sizeof out));  // does not fit
    CHECK_EQ(std::string(out), std::string(""));
    const wchar_t unpaired[] = {L'a', 0xDFFF, 0};
    CHECK(!to_utf8(unpaired, out, sizeof out));
    CHECK_EQ(std::string(out), std::string(""));
}

