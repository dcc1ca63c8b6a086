// The database layer: the one connection of a process and its error record.
#pragma once

#include <cstdint>

constexpr int KVO_MESSAGE_SIZE = 512;

struct kvo_sql_error {
    int32_t code;                    // negative database error code of the last failure, or 0
    char message[KVO_MESSAGE_SIZE];  // its message text, at most 511 bytes and a zero byte
};

// Database status: up, down, undetermined.
constexpr int KVO_DB_UP = 3123;
constexpr int KVO_DB_DOWN = 3124;
constexpr int KVO_DB_UNKNOWN = 1031;
