// Operating-system services the tools need beyond plain C++.
#pragma once

#include <cstddef>

// Writes text straight to the standard output handle, past any buffer.
void os_write_raw(const char* text);
void os_write_raw(const char* bytes, size_t length);
unsigned os_process_id();
