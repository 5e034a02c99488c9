#include "AnsiText.h"
#include "Handles.h"
#include <gtest/gtest.h>

using namespace tv::com;

TEST(AnsiText, ConvertsByLengthKeepingEmbeddedZerosAndEmptyTexts) {
    const std::string_view withZero("a\0b", 3);
    const std::wstring wide = FromAnsi(withZero);
    ASSERT_EQ(3u, wide.size());
    EXPECT_EQ(L'b', wide[2]);
    EXPECT_EQ(std::string(withZero), ToAnsi(wide.data(), wide.size()));

    UniqueBstr bstr;
    ASSERT_EQ(S_OK, AnsiToBstr(withZero, bstr.Put()));
    EXPECT_EQ(3u, SysStringLen(bstr.Get()));
    EXPECT_EQ(std::string(withZero), ToAnsi(bstr.Get()));

    EXPECT_EQ("", ToAnsi(nullptr));
    EXPECT_EQ(L"", FromAnsi(""));
    UniqueBstr empty;
    ASSERT_EQ(S_OK, AnsiToBstr("", empty.Put()));
    ASSERT_NE(nullptr, empty.Get()) << "an empty text is an empty BSTR, not a null one";
    EXPECT_EQ(0u, SysStringLen(empty.Get()));
    EXPECT_EQ(E_POINTER, AnsiToBstr("x", nullptr));
}
