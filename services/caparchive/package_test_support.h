// What the package tests compare: two packages alike in option, header and every item.
#pragma once

#include "package.h"

#include <gtest/gtest.h>

#include <string>

namespace caparchive {

inline void ExpectSamePackage(const Package& actual, const Package& expected) {
    EXPECT_EQ(actual.option, expected.option);
    ASSERT_EQ(actual.header.has_value(), expected.header.has_value());
    if (expected.header) {
        EXPECT_EQ(actual.header->date, expected.header->date);
        EXPECT_EQ(actual.header->title, expected.header->title);
        EXPECT_EQ(actual.header->description, expected.header->description);
        EXPECT_EQ(actual.header->iconName, expected.header->iconName);
    }
    ASSERT_EQ(actual.items.size(), expected.items.size());
    for (size_t i = 0; i < expected.items.size(); ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(actual.items[i].name, expected.items[i].name);
        EXPECT_EQ(actual.items[i].kind, expected.items[i].kind);
        EXPECT_EQ(actual.items[i].storedLong, expected.items[i].storedLong);
        EXPECT_EQ(actual.items[i].attributes, expected.items[i].attributes);
        EXPECT_TRUE(actual.items[i].data == expected.items[i].data);
    }
}

} // namespace caparchive
