#pragma once
// Why a call failed: "[korva] ERROR: ..." in the log, and the text kept per
// thread for korva_last_error.

// Formats into at most 2047 bytes and logs "[korva] ERROR: <text>".
void record_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Keeps `text` as this thread's last error without a line of its own: for a
// failure whose line the log has always had in another form.
void note_error(const char *text);

// Adds "; <cause>" to this thread's last error and logs "[korva]   cause: <cause>".
void add_error_cause(const char *format, ...) __attribute__((format(printf, 1, 2)));

// This thread's last error; "" once a call succeeded.
const char *last_error_text();
void clear_last_error();
