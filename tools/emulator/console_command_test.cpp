#include "console_command.h"

#include <gtest/gtest.h>

namespace zvemu {
namespace {

TEST(ConsoleCommand, SplitsPipesOptionsAndQuotedPaths) {
    std::string error;
    auto c = ParseConsoleCommand("cp $pipe=15 -f -v -m \"/default/a b.txt\" \"/default/-x\" ", error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->word, "cp");
    EXPECT_EQ(c->replyPipe, 15);
    EXPECT_FALSE(c->dataPipe);
    EXPECT_EQ(c->options, (std::vector<std::string>{"-f", "-v", "-m"}));
    EXPECT_EQ(c->args, (std::vector<std::string>{"/default/a b.txt", "/default/-x"}));
    EXPECT_TRUE(c->HasOption('m'));
    EXPECT_FALSE(c->HasOption('p'));

    c = ParseConsoleCommand("rcv $data_pipe=100 \"/default/x\" 1300", error);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->dataPipe, 100);
    EXPECT_EQ(c->args, (std::vector<std::string>{"/default/x", "1300"}));

    c = ParseConsoleCommand("chmod $pipe=15 + \"/default/a\"", error);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->options, (std::vector<std::string>{"+"}));

    c = ParseConsoleCommand("ls $pipe=15 -L /default/my docs/.../*", error);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->args.size(), 2u); // an unquoted path with a blank is two words
}

TEST(ConsoleCommand, RefusesMalformedLines) {
    std::string error;
    EXPECT_FALSE(ParseConsoleCommand("", error));
    EXPECT_FALSE(ParseConsoleCommand("ls $pipe=0 /*", error));
    EXPECT_FALSE(ParseConsoleCommand("ls $pipe=126 /*", error));
    EXPECT_FALSE(ParseConsoleCommand("ls $pipe=1x /*", error));
    EXPECT_FALSE(ParseConsoleCommand("ls $color=1 /*", error));
    EXPECT_FALSE(ParseConsoleCommand("ls $pipe=15 \"/default/*", error));
    EXPECT_EQ(error, "unterminated quote");
}

} // namespace
} // namespace zvemu
