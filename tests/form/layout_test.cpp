// The layout table's checks and the tab sequence derived from it.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "form/layout.hpp"

namespace vexmira::form {
namespace {

std::vector<std::string> Names(const TabSequence& sequence, std::span<const ControlSpec> controls) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < sequence.Count; ++i) names.emplace_back(controls[sequence.Rows[i]].Name);
    return names;
}

TEST(TabSequence, FollowsTheLayoutsTabOrder) {
    EXPECT_EQ(Names(kTabSequence, kControls),
              (std::vector<std::string>{"CMethod", "archivefile", "ListBox1", "Button1", "Button2"}));
}

// A small table: a form panel holding a group and a button.
constexpr ControlSpec Spec(std::string_view name, ControlKind kind, std::string_view parent, int tabOrder) {
    return {name, kind, parent, 0, 0, 10, 10, "", FontFace::System, false, false, true, tabOrder};
}

TEST(TabSequence, VisitsContainersInTabOrderNotRowOrder) {
    const std::array<ControlSpec, 6> controls = {{
        Spec("Root", ControlKind::Panel, "", 0),
        Spec("Late", ControlKind::PushButton, "Root", 2),
        Spec("Group", ControlKind::GroupBox, "Root", 1),
        Spec("Second", ControlKind::Edit, "Group", 1),
        Spec("First", ControlKind::ListBox, "Group", 0),
        Spec("Skipped", ControlKind::PushButton, "Root", -1),
    }};
    EXPECT_EQ(Names(TabStops(controls), controls), (std::vector<std::string>{"First", "Second", "Late"}));
}

TEST(InitialFill, ComesFromTheButtonFaceColumnOrTheParent) {
    // The rows with the column set, the edit field and the list box, and the
    // rest from their parents, all of whose chains reach a button-face panel.
    std::vector<std::string> buttonFace, window;
    for (std::size_t row = 0; row < kControls.size(); ++row) {
        const Fill fill = InitialFill(row);
        EXPECT_NE(fill, Fill::Form) << kControls[row].Name << ": the form's sky blue would show";
        (fill == Fill::Window ? window : buttonFace).emplace_back(kControls[row].Name);
    }
    EXPECT_EQ(window, (std::vector<std::string>{"ListBox1", "archivefile"}));
    EXPECT_EQ(buttonFace.size(), 16u);

    // A table whose top panel leaves the column unset shows the form's colour
    // through every child that inherits it; a set column stops the walk.
    std::array<ControlSpec, 5> controls = {{
        Spec("Root", ControlKind::Panel, "", 0),
        Spec("Inner", ControlKind::Panel, "Root", 0),
        Spec("Caption", ControlKind::Label, "Inner", -1),
        Spec("Faced", ControlKind::Label, "Inner", -1),
        Spec("Field", ControlKind::Edit, "Root", 1),
    }};
    controls[3].ButtonFace = true;
    EXPECT_EQ(InitialFill(2, controls), Fill::Form);
    EXPECT_EQ(InitialFill(3, controls), Fill::ButtonFace);
    EXPECT_EQ(InitialFill(4, controls), Fill::Window);
    controls[1].ButtonFace = true;
    EXPECT_EQ(InitialFill(2, controls), Fill::ButtonFace);
    EXPECT_EQ(InitialFill(0, controls), Fill::Form);
}

TEST(LayoutChecks, HoldForTheDialogAndCatchBrokenTables) {
    EXPECT_TRUE(NamesUnique(kControls));
    EXPECT_TRUE(ParentsBeforeChildren(kControls));
    EXPECT_TRUE(TabOrdersDistinct(kControls));

    const std::array<ControlSpec, 3> childFirst = {{
        Spec("Root", ControlKind::Panel, "", 0),
        Spec("Button", ControlKind::PushButton, "Group", 0),
        Spec("Group", ControlKind::GroupBox, "Root", 0),
    }};
    EXPECT_FALSE(ParentsBeforeChildren(childFirst));

    const std::array<ControlSpec, 3> inAButton = {{
        Spec("Root", ControlKind::Panel, "", 0),
        Spec("Button", ControlKind::PushButton, "Root", 0),
        Spec("Inner", ControlKind::Edit, "Button", 0),
    }};
    EXPECT_FALSE(ParentsBeforeChildren(inAButton));

    const std::array<ControlSpec, 2> orphan = {{
        Spec("Root", ControlKind::Panel, "", 0),
        Spec("Lost", ControlKind::Edit, "Nowhere", 0),
    }};
    EXPECT_FALSE(ParentsBeforeChildren(orphan));

    // The same tab order is fine under different parents, not among siblings.
    const std::array<ControlSpec, 4> tabs = {{
        Spec("Root", ControlKind::Panel, "", 0),
        Spec("Group", ControlKind::GroupBox, "Root", 0),
        Spec("A", ControlKind::Edit, "Group", 0),
        Spec("B", ControlKind::Edit, "Root", 1),
    }};
    EXPECT_TRUE(TabOrdersDistinct(tabs));
    std::array<ControlSpec, 4> clash = tabs;
    clash[3].TabOrder = 0;
    EXPECT_FALSE(TabOrdersDistinct(clash));
    clash[3].TabOrder = -1;
    clash[2].TabOrder = -1;
    EXPECT_TRUE(TabOrdersDistinct(clash)) << "controls outside the tab order share -1";

    std::array<ControlSpec, 4> twice = tabs;
    twice[3].Name = "A";
    EXPECT_FALSE(NamesUnique(twice));
}

}  // namespace
}  // namespace vexmira::form
