#include <string>

#include <gtest/gtest.h>

#include "support/page_capture.h"
#include "support/test_context.h"

namespace {

class Lists : public testing::Test {
protected:
    test_context context;
};

}  // namespace

TEST_F(Lists, SetCountsUpToTheIndexAndFindComparesWholeTexts) {
    kvg_string_list* list = nullptr;
    ASSERT_EQ(kvg_list_new(&list, 8, context), 0);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(kvg_list_find(list, "SYSTEM", context), -1);
    ASSERT_EQ(kvg_list_set(list, 0, "SYSTEM", context), 0);
    ASSERT_EQ(kvg_list_set(list, 1, "USERS", context), 0);
    EXPECT_EQ(list->count, 2);
    ASSERT_EQ(kvg_list_set(list, 5, "TEMP", context), 0);
    EXPECT_EQ(list->count, 6);
    EXPECT_EQ(kvg_list_find(list, "USERS", context), 1);
    EXPECT_EQ(kvg_list_find(list, "USER", context), -1);
    EXPECT_EQ(kvg_list_find(nullptr, "USERS", context), -1);

    kvg_string_list* copy = kvg_list_copy(list, context);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->count, 6);
    EXPECT_STREQ(copy->items[5], "TEMP");
    EXPECT_NE(copy->items[0], list->items[0]);
    EXPECT_EQ(std::string(copy->items[3]), "");  // a slot never set copies as empty text
    kvg_list_free(list, context);
    kvg_list_free(nullptr, context);

    EXPECT_EQ(capture_page([&] { kvg_list_print(copy); }), "SYSTEM\nUSERS\n\n\n\nTEMP\n");
}

TEST_F(Lists, CopyOfAnEmptyListIsEmpty) {
    kvg_string_list* list = nullptr;
    ASSERT_EQ(kvg_list_new(&list, 0, context), 0);
    kvg_string_list* copy = kvg_list_copy(list, context);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->count, 0);
    EXPECT_EQ(kvg_list_copy(nullptr, context), nullptr);
}

TEST_F(Lists, PathsSplitAtTheLastSeparatorOfEitherKind) {
    struct row {
        const char* path;
        size_t length;
        const char* base;
        const char* dir;
    } rows[] = {
        {"C:\\VHOME\\DBS\\SYS1.DBF", 21, "SYS1.DBF", "C:\\VHOME\\DBS"},
        {"/var/home/dbs/users01.dbf", 25, "users01.dbf", "/var/home/dbs"},
        {"C:\\VHOME/dbs\\x.dbf", 18, "x.dbf", "C:\\VHOME/dbs"},
        {"C:/VHOME\\dbs/y.dbf", 18, "y.dbf", "C:/VHOME\\dbs"},
        {"plain.dbf", 9, "plain.dbf", "plain.dbf"},
        {"/a/b/c", 4, "b", "/a"},  // only the first length bytes count
        {"dir/", 4, "", "dir"},
    };
    for (const row& r : rows) {
        EXPECT_STREQ(kvg_path_base(context, r.path, r.length), r.base) << r.path;
        EXPECT_STREQ(kvg_path_dir(context, r.path, r.length), r.dir) << r.path;
    }
}
