#include "uploads/YandexSignInModule.h"

#include <gtest/gtest.h>

// The build tree is searched only by programs that run from inside it.
TEST(YandexSignInModule, OnlyAProgramInsideTheBuildTreeLooksThere)
{
    const struct {
        const char* program;
        const char* buildTree;
        QStringList expected;
    } cases[] = {
        {"/usr/local/bin", "/home/dev/kestrova/build", {"/usr/local/bin", "/usr/local/lib/kestrova"}},
        {"/home/dev/kestrova/build", "/home/dev/kestrova/build", {"/home/dev/kestrova/build", "/home/dev/kestrova/lib/kestrova"}},
        {"/home/dev/kestrova/build/tests", "/home/dev/kestrova/build",
         {"/home/dev/kestrova/build/tests", "/home/dev/kestrova/build/lib/kestrova", "/home/dev/kestrova/build"}},
        // A sibling whose name only begins like the tree is outside it.
        {"/home/dev/kestrova/build-asan/tests", "/home/dev/kestrova/build",
         {"/home/dev/kestrova/build-asan/tests", "/home/dev/kestrova/build-asan/lib/kestrova"}},
        {"/opt/kestrova/bin", "", {"/opt/kestrova/bin", "/opt/kestrova/lib/kestrova"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(YandexSignInModule::searchFolders(c.program, c.buildTree), c.expected) << c.program;
}
