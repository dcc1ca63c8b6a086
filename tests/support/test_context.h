// Helpers for tests of the framework: a context without a request and scoped
// environment variables. Free of any test library, so fuzz targets use it too.
#pragma once

#include <optional>
#include <string>

#include "g/kvg.h"

// A context with a heap, language services of the character set and the
// installation's catalogue, as start-up would leave it; all released with it.
class test_context {
public:
    explicit test_context(lk_charset charset = LK_UTF8);
    ~test_context();
    test_context(const test_context&) = delete;
    test_context& operator=(const test_context&) = delete;
    operator kvg_context*() const { return context_; }
    kvg_context* operator->() const { return context_; }

private:
    kvg_context* context_;
};

// Sets (or, with no value, removes) a variable for the life of the object.
class scoped_env {
public:
    scoped_env(const char* name, std::optional<std::string> value);
    ~scoped_env();
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

// Removes every CGI variable the framework reads.
void clear_cgi_env();

