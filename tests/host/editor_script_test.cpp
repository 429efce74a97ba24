#include "host/editor_script.h"

#include <gtest/gtest.h>

namespace kf::host {
namespace {

using K = ScriptStep::Kind;

TEST(EditorScript, ReadsEveryStepWithItsArguments) {
    std::string error;
    const auto script = parseEditorScript(
        "open\n"
        "down 358 105 right shift ctrl   # press\n"
        "\n"
        "move 358 55\nup\nup 3 4\nwheel 10 20 -2\nidle\nidle 3\nprocess 256\n"
        "expect param 9 +0.50 ±0.005\nexpect param 2 0.25\nexpect no-open-edits\nexpect held 45\n"
        "expect edited 9\nsnapshot page.png\nclose\n",
        error);
    ASSERT_TRUE(script) << error;
    const auto& s = script->steps;
    ASSERT_EQ(s.size(), 16u);
    EXPECT_EQ(s[1].kind, K::Down);
    EXPECT_EQ(s[1].line, 2);
    EXPECT_EQ(s[1].x, 358);
    EXPECT_EQ(s[1].y, 105);
    EXPECT_EQ(s[1].button, MouseButton::Right);
    EXPECT_EQ(s[1].modifiers, kShift | kControl);
    EXPECT_EQ(s[2].line, 4);
    EXPECT_FALSE(s[3].hasPosition);
    EXPECT_TRUE(s[4].hasPosition);
    EXPECT_EQ(s[5].count, -2);
    EXPECT_EQ(s[6].count, 1);
    EXPECT_EQ(s[7].count, 3);
    EXPECT_EQ(s[8].count, 256);
    EXPECT_TRUE(s[9].relative);
    EXPECT_FLOAT_EQ(s[9].value, 0.5f);
    EXPECT_FLOAT_EQ(s[9].tolerance, 0.005f);
    EXPECT_FALSE(s[10].relative);
    EXPECT_FLOAT_EQ(s[10].tolerance, 0.0005f);
    EXPECT_EQ(s[11].kind, K::ExpectNoOpenEdits);
    EXPECT_EQ(s[12].count, 45);
    EXPECT_EQ(s[13].kind, K::ExpectEdited);
    EXPECT_EQ(s[13].index, 9);
    EXPECT_EQ(s[14].path, "page.png");
    EXPECT_EQ(s[15].kind, K::Close);
}

TEST(EditorScript, NamesTheLineAndTheFault) {
    const std::pair<const char*, const char*> bad[] = {
        {"open\nclick 1 2", "line 2: unknown step 'click'"},
        {"down 1", "line 1: down needs X Y"},
        {"down 1 2 fourth", "line 1: unknown button or modifier 'fourth'"},
        {"wheel 1 2 0", "line 1: wheel needs X Y and a non-zero N"},
        {"idle 0", "line 1: idle takes a positive count"},
        {"process x", "line 1: process needs a positive frame count"},
        {"expect held 128", "line 1: expect held needs a note 0..127"},
        {"expect param 9", "line 1: expect param needs an index and a value"},
        {"expect param 9 0.5 wide", "line 1: bad tolerance 'wide'"},
        {"expect edited", "line 1: expect edited needs a parameter index"},
        {"expect colour red", "line 1: unknown step 'expect colour'"},
    };
    for (const auto& [text, message] : bad) {
        std::string error;
        EXPECT_FALSE(parseEditorScript(text, error)) << text;
        EXPECT_EQ(error, message) << text;
    }
}

}  // namespace
}  // namespace kf::host
