// Salted password hashes: the dictionary never holds a password in clear.
#pragma once

#include <string>
#include <string_view>

namespace vdb {

// "salt$hash" in hex, with a fresh random salt.
std::string hash_password(std::string_view password);

// True when password gives the stored "salt$hash".
bool password_matches(std::string_view password, std::string_view stored);

// True when text has the form hash_password produces (for IDENTIFIED BY VALUES).
bool is_password_hash(std::string_view text);

// The SHA-256 digest of data as 64 lower-case hex digits.
std::string sha256_hex(std::string_view data);

}  // namespace vdb
