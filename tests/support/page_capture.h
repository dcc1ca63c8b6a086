// What a piece of code writes to the page, for tests.
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

template <typename Fn>
std::string capture_page(Fn fn) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}
