#include <cstring>

#include <gtest/gtest.h>

#include "platform/basekit.h"

TEST(Heap, BlocksCarryTheirTagAndGrowKeepingTheirContents) {
    bk_heap* heap = bk_heap_create();
    auto* block = static_cast<char*>(bk_alloc(heap, 4, 0, "g/kvgev", 301));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abcd", 4);
    const char* module;
    int line;
    ASSERT_TRUE(bk_block_tag(block, &module, &line));
    EXPECT_STREQ(module, "g/kvgev");
    EXPECT_EQ(line, 301);

    auto* grown = static_cast<char*>(bk_realloc(heap, block, 70000, 4, 1, "g/kvgev", 320));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "abcd", 4), 0);
    EXPECT_EQ(grown[69999], 0);
    ASSERT_TRUE(bk_block_tag(grown, &module, &line));
    EXPECT_EQ(line, 320);
    bk_free(heap, grown);
    bk_free(heap, nullptr);
    bk_alloc(heap, 10, 0, "g/kvgls", 34);
    bk_heap_destroy(heap);  // takes the blocks still held with it
}

TEST(Output, HeldTextFollowsTheHeadItIsReleasedWith) {
    testing::internal::CaptureStdout();
    bk_out_hold();
    bk_out("<H3>%s-%d:</H3>", "KVC-TOOL", 1052);
    bk_out_text("<P>");
    bk_out_release("Content-type: text/html\n\n");
    bk_out("after");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Content-type: text/html\n\n<H3>KVC-TOOL-1052:</H3><P>after");
}

namespace {
int calls = 0;
int counting_program(bk_host*, int, int, int argc, char**) {
    ++calls;
    return argc == 1 ? 0 : 7;
}
}  // namespace

TEST(Dispatch, FindsProgramsByNameAndKeepsTheResultConvention) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"nph-kvb", 7, "", 0, "", 0, counting_program, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    bk_host* host = bk_register("kvbhost", table);
    char name[] = "nph-kvb", arg[] = "x=1", lsf[] = "lsf", other[] = "nph-kv";
    char* one[] = {name};
    char* two[] = {name, arg};
    char* component[] = {lsf};
    char* unknown[] = {other};
    EXPECT_EQ(bk_dispatch(host, 1, one), 0);
    EXPECT_EQ(bk_dispatch(host, 2, two), -1);
    EXPECT_EQ(bk_dispatch(host, 1, component), BK_NO_PROGRAM);
    EXPECT_EQ(bk_dispatch(host, 1, unknown), BK_NO_PROGRAM);
    EXPECT_EQ(calls, 2);
    EXPECT_NE(bk_find_formatter(host, "lsf"), nullptr);
    EXPECT_EQ(bk_find_formatter(host, "nph-kvb"), nullptr);
    EXPECT_EQ(bk_find_formatter(host, "fmt"), nullptr);
}
