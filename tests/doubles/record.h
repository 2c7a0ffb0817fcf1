// Shared by the test doubles: record files the harness reads, control files it writes.
#pragma once
#include <windows.h>
#include <stddef.h>

// Microseconds since the Unix epoch.
unsigned long long rec_time_us(void);

// Appends "<us>\t<head>\n", or "<us>\t<head>\t<text escaped>\n" when text is not NULL, in one
// write. Returns false when the file could not be written.
bool rec_event(const wchar_t* path, const char* head, const wchar_t* text);
// The same with a time of the caller's (us), for an event recorded after it happened.
bool rec_event_at(const wchar_t* path, unsigned long long us, const char* head, const wchar_t* text);

// Appends the bytes as they are, in one write.
bool rec_append_raw(const wchar_t* path, const char* bytes, size_t count);

// UTF-16 to UTF-8 with \\ \n \r \t escaped and unpaired surrogates as U+FFFD. Writes at most
// cap-1 bytes plus a NUL; returns the length written. 3 bytes per UTF-16 unit always suffice.
size_t rec_escape(const wchar_t* text, size_t length, char* out, size_t cap);

// Reads up to cap-1 bytes of a file, NUL-terminated; a missing file reads as empty.
size_t ctl_read_file(const wchar_t* path, char* out, size_t cap);

// Value of "key=value" in a control file's content (decimal, -decimal or 0x-hex), or fallback.
long long ctl_value(const char* content, const char* key, long long fallback);

// Value of key in the control file at path (read afresh), or fallback; a missing path or file
// gives fallback.
long long ctl_file_value(const wchar_t* path, const char* key, long long fallback);

// Text of key in the control file at path (read afresh, UTF-8, last line wins) into out; false
// when the key is missing or its text does not fit.
bool ctl_file_text(const wchar_t* path, const char* key, wchar_t* out, size_t cap);

// path = folder + "\\" + name; false when it does not fit.
bool path_join(wchar_t* out, size_t cap, const wchar_t* folder, const wchar_t* name);
