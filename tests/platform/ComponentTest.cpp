#include "platform/Controls.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(FormModel, RootObserverSeesEveryChangeOnce) {
    platform::TForm form(nullptr, "Form");
    std::vector<std::string> seen;
    form.SetObserver([&](platform::TComponent& c, std::string_view p, const std::string& v) {
        seen.push_back(c.Name() + "." + std::string(p) + "=" + v);
    });
    auto* panel = new platform::TPanel(&form, "Panel");
    auto* label = new platform::TLabel(panel, "Label");
    label->SetCaption("x");
    label->SetCaption("x");
    panel->SetVisible(false);
    auto* bar = new platform::TStatusBar(&form, "Bar");
    bar->AddPanel("", 50);
    bar->SetPanelText(0, "Com3");
    bar->SetPanelText(7, "ignored");
    EXPECT_EQ(seen, (std::vector<std::string>{"Label.Caption=x", "Panel.Visible=false",
                                              "Bar.Panels[0]=Com3"}));
    EXPECT_EQ(form.FindComponent("Panel"), panel);
    EXPECT_STREQ(label->ClassName(), "TLabel");
}

TEST(FormModel, ProgressPositionStaysWithinItsRange) {
    platform::TProgressBar bar(nullptr, "Bar");
    bar.SetMax(40);
    bar.SetPosition(55);
    EXPECT_EQ(bar.Position(), 40);
    bar.SetPosition(-3);
    EXPECT_EQ(bar.Position(), 0);
    bar.SetPosition(30);
    bar.SetMax(20);
    EXPECT_EQ(bar.Position(), 20);
}

TEST(FormModel, CheckedRadioMenuItemUnchecksItsSiblings) {
    platform::TForm form(nullptr, "Form");
    auto* menu = new platform::TMenuItem(&form, "Sprache");
    auto* de = new platform::TMenuItem(&form, "Deutsch");
    auto* en = new platform::TMenuItem(&form, "Englisch");
    for (auto* item : {de, en}) {
        item->SetRadioItem(true);
        menu->AddItem(item);
    }
    de->SetChecked(true);
    en->SetChecked(true);
    EXPECT_FALSE(de->Checked());
    EXPECT_TRUE(en->Checked());
}

TEST(FormModel, ClickRunsOnlyOnEnabledControls) {
    platform::TBitBtn button(nullptr, "Ok");
    int clicks = 0;
    button.OnClick = [&](platform::TControl&) { ++clicks; };
    button.Click();
    button.SetEnabled(false);
    button.Click();
    EXPECT_EQ(clicks, 1);
}

} // namespace
