// Option menu entries and choices, the pop-up list model, tooltips and timers.
#include "TestSupport.h"

namespace guitest {
namespace {

COptionMenu* makeFilterMenu(RecordingListener* listener, COptionMenu** typeMenuOut) {
    auto* typeMenu = new COptionMenu(CRect(0, 0, 105, 75), listener, 18, nullptr, nullptr, 5632);
    for (const char* t : {"Lowpass", "Highpass", "Bandpass", "Bandstop", "Allpass", "Low Shelf", "High Shelf", "Peaking"})
        typeMenu->addEntry(t);
    auto* menu = new COptionMenu(CRect(445, 100, 550, 175), listener, 87, nullptr, nullptr, 4608);
    menu->addEntry(typeMenu, "Filter Type");
    typeMenu->forget();  // the menu holds it now
    menu->addEntry("-");
    menu->addEntry("Learn Midi (Cutoff)");
    menu->addEntry("Learn Midi (Q)");
    menu->addEntry("Forget Midi (All)");
    *typeMenuOut = typeMenu;
    return menu;
}

TEST(OptionMenuEntries, AreNumberedWithSeparatorsAndInsertable) {
    COptionMenu menu(CRect(0, 0, 50, 12), nullptr, 0);
    menu.addEntry("a");
    menu.addEntry("-");
    menu.addEntry("c");
    menu.addEntry("b", 2);
    EXPECT_EQ(menu.getNbEntries(), 4);
    char text[256];
    ASSERT_TRUE(menu.getEntry(2, text));
    EXPECT_STREQ(text, "b");
    EXPECT_TRUE(menu.isSeparator(1));
    EXPECT_FALSE(menu.getEntry(4, text));
    EXPECT_FALSE(menu.getEntry(-1, text));
    EXPECT_FALSE(menu.addEntry(static_cast<const char*>(nullptr)));
    EXPECT_FLOAT_EQ(menu.getMax(), 3.f);
    menu.setValue(2.4f);
    EXPECT_EQ(menu.getCurrent(), 2);
    EXPECT_FLOAT_EQ(menu.getValue(), 2.f) << "menus hold whole entry numbers";
    EXPECT_FALSE(menu.setCurrent(9));
    EXPECT_EQ(menu.getCurrent(), 2);
    menu.setValue(9.f);
    EXPECT_EQ(menu.getCurrent(), 3);
}

TEST(OptionMenuChoice, SetsTheValueAndNotifiesWithTheMenuThatHoldsTheEntry) {
    RecordingListener listener;
    COptionMenu* typeMenu = nullptr;
    Owned<COptionMenu> menu(makeFilterMenu(&listener, &typeMenu));
    EXPECT_TRUE(menu->chooseEntry(4));
    ASSERT_EQ(listener.changed.size(), 1u);
    EXPECT_EQ(listener.changed[0], menu.get());
    EXPECT_FLOAT_EQ(listener.values[0], 4.f);
    EXPECT_TRUE(menu->chooseEntry(4)) << "choosing the same entry again notifies again";
    EXPECT_EQ(listener.changed.size(), 2u);

    EXPECT_FALSE(menu->chooseEntry(1)) << "separator";
    EXPECT_FALSE(menu->chooseEntry(0)) << "a sub-menu's title is not a choice";
    EXPECT_FALSE(menu->chooseEntry(5));
    EXPECT_EQ(listener.changed.size(), 2u);

    ASSERT_EQ(menu->getSubMenu(0), typeMenu);
    EXPECT_TRUE(typeMenu->chooseEntry(5));
    ASSERT_EQ(listener.changed.size(), 3u);
    EXPECT_EQ(listener.changed[2], typeMenu);
    EXPECT_EQ(typeMenu->getTag(), 18);
    EXPECT_FLOAT_EQ(typeMenu->getValue(), 5.f);
    EXPECT_FLOAT_EQ(menu->getValue(), 4.f) << "the outer menu keeps its value";
}

TEST(MenuPopupModel, LaysOutBelowOrFromTheTopAndKeepsInsideTheScreen) {
    COptionMenu menu(CRect(0, 0, 50, 12), nullptr, 0);
    menu.addEntry("1");
    menu.addEntry("-");
    menu.addEntry("1/2");
    const CRect screen(0, 0, 1024, 768);
    {
        CMenuPopupModel model(&menu, CRect(100, 100, 150, 112), screen);
        const auto& level = model.getLevel(0);
        EXPECT_EQ(level.bounds.top, 112);
        EXPECT_EQ(level.bounds.left, 100);
        EXPECT_GE(level.bounds.width(), 50);
        ASSERT_EQ(level.items.size(), 3u);
        EXPECT_EQ(level.items[0].rect.height(), 11 + CMenuPopupModel::kItemPadding);
        EXPECT_EQ(level.items[1].rect.height(), CMenuPopupModel::kSeparatorHeight);
        EXPECT_EQ(level.items[2].rect.top, level.items[1].rect.bottom);
        EXPECT_FALSE(level.items[0].checked);
    }
    menu.setStyle(kPopupStyle | kCheckStyle);
    menu.setCurrent(2);
    {
        CMenuPopupModel model(&menu, CRect(100, 100, 150, 112), screen);
        EXPECT_EQ(model.getLevel(0).bounds.top, 100);
        EXPECT_TRUE(model.getLevel(0).items[2].checked);
    }
    {
        CMenuPopupModel model(&menu, CRect(1000, 760, 1050, 772), screen);
        const CRect b = model.getLevel(0).bounds;
        EXPECT_LE(b.bottom, 768);
        EXPECT_LE(b.right, 1024);
    }
}

TEST(MenuPopupModel, ClicksChooseHoverOpensSubMenus) {
    RecordingListener listener;
    COptionMenu* typeMenu = nullptr;
    Owned<COptionMenu> menu(makeFilterMenu(&listener, &typeMenu));
    CMenuPopupModel model(menu.get(), CRect(445, 100, 550, 175), CRect(0, 0, 1024, 768));
    const auto& items = model.getLevel(0).items;
    const auto centre = [](const CRect& r) { return CPoint(r.left + r.width() / 2, r.top + r.height() / 2); };

    auto c = model.click(centre(items[3].rect));
    EXPECT_EQ(c.kind, CMenuPopupModel::Click::kChoice);
    EXPECT_EQ(c.menu, menu.get());
    EXPECT_EQ(c.index, 3);
    EXPECT_EQ(model.click(centre(items[1].rect)).kind, CMenuPopupModel::Click::kNone);
    EXPECT_EQ(model.click(CPoint(5, 5)).kind, CMenuPopupModel::Click::kOutside);

    EXPECT_TRUE(model.hover(centre(items[0].rect)));
    ASSERT_EQ(model.getLevelCount(), 2);
    const auto& sub = model.getLevel(1);
    EXPECT_EQ(sub.menu, typeMenu);
    EXPECT_EQ(sub.bounds.left, items[0].rect.right);
    ASSERT_EQ(sub.items.size(), 8u);
    EXPECT_TRUE(sub.items[0].checked) << "the type list marks its current entry";
    c = model.click(centre(sub.items[7].rect));
    EXPECT_EQ(c.kind, CMenuPopupModel::Click::kChoice);
    EXPECT_EQ(c.menu, typeMenu);
    EXPECT_EQ(c.index, 7);
    EXPECT_EQ(model.click(centre(items[0].rect)).kind, CMenuPopupModel::Click::kNone);

    model.hover(centre(items[2].rect));
    EXPECT_EQ(model.getLevelCount(), 1) << "leaving the title closes the sub-menu";
    EXPECT_EQ(model.getLevel(0).hover, 2);
    EXPECT_FALSE(model.hover(centre(items[2].rect))) << "no change, nothing to redraw";
}

TEST(MenuPopupModel, DrawsWithTheMenusScheme) {
    COptionMenu menu(CRect(0, 0, 50, 12), nullptr, 0);
    menu.addEntry("weak");
    Owned<COptionMenuScheme> scheme(new COptionMenuScheme);
    const CColor panel{22, 112, 150, 64}, text{228, 189, 31, 64}, select{255, 255, 255, 64};
    scheme->setColors(panel, select, text, CColor{48, 148, 189, 64}, text);
    menu.setScheme(scheme.get());
    CMenuPopupModel model(&menu, CRect(0, 0, 50, 12), CRect());
    const CRect b = model.getLevel(0).bounds;
    COffscreenContext ctx(b.width(), b.height());
    model.drawLevel(ctx, 0);
    expectRGB(ctx.getPixel(b.width() - 3, 3), panel, "list background");
    expectRGB(ctx.getPixel(0, 0), text, "border");
    model.hover(CPoint(10, 20));
    model.drawLevel(ctx, 0);
    expectRGB(ctx.getPixel(b.width() - 3, 3), select, "hovered entry");
}

uint64_t gNow = 0;
uint64_t fakeTicks() { return gNow; }

struct FakeClock : ::testing::Test {
    void SetUp() override {
        gNow = 1000;
        setTickSource(fakeTicks);
    }
    void TearDown() override { setTickSource(nullptr); }
};

TEST_F(FakeClock, TooltipAppearsAfterTheMouseRestsForTheDelay) {
    CFrame frame(CRect(0, 0, 200, 200), nullptr, nullptr);
    auto* knob = new CKnob(CRect(10, 10, 40, 40), nullptr, 1, nullptr, nullptr);
    const char tip[] = "Feedback gain";
    knob->setAttribute(kCViewTooltipAttribute, sizeof tip, tip);
    frame.addView(knob);
    frame.addView(new CView(CRect(100, 100, 120, 120)));  // no tooltip
    Owned<CTooltipSupport> tooltips(new CTooltipSupport(1500));
    frame.setMouseObserver(tooltips.get());

    CPoint p(20, 20);
    frame.onMouseMoved(p, 0);
    EXPECT_STREQ(tooltips->getPendingText(), tip);
    EXPECT_EQ(tooltips->getVisibleText(), nullptr);
    gNow += 1000;
    frame.idle();
    EXPECT_EQ(tooltips->getVisibleText(), nullptr);
    CPoint p2(21, 20);
    frame.onMouseMoved(p2, 0);  // moving restarts the wait
    gNow += 1000;
    frame.idle();
    EXPECT_EQ(tooltips->getVisibleText(), nullptr);
    gNow += 500;
    frame.idle();
    EXPECT_STREQ(tooltips->getVisibleText(), tip);

    CPoint away(110, 110);
    frame.onMouseMoved(away, 0);
    EXPECT_EQ(tooltips->getVisibleText(), nullptr);
    EXPECT_EQ(tooltips->getPendingText(), nullptr) << "that view has no tooltip";

    frame.onMouseMoved(p, 0);
    CPoint click = p;
    frame.onMouseDown(click, kLButton);
    frame.onMouseUp(click, kLButton);
    gNow += 5000;
    frame.idle();
    EXPECT_EQ(tooltips->getVisibleText(), nullptr) << "a click keeps the tooltip away";

    frame.onMouseMoved(away, 0);
    frame.onMouseMoved(p, 0);
    frame.onMouseExited();
    EXPECT_EQ(tooltips->getPendingText(), nullptr) << "leaving the window drops it";
}

TEST_F(FakeClock, TooltipForgetsARemovedView) {
    CFrame frame(CRect(0, 0, 200, 200), nullptr, nullptr);
    auto* view = new CView(CRect(10, 10, 40, 40));
    view->setAttribute(kCViewTooltipAttribute, 3, "ab");
    frame.addView(view);
    Owned<CTooltipSupport> tooltips(new CTooltipSupport(100));
    frame.setMouseObserver(tooltips.get());
    CPoint p(20, 20);
    frame.onMouseMoved(p, 0);
    EXPECT_STREQ(tooltips->getPendingText(), "ab");
    frame.removeView(view);
    EXPECT_EQ(tooltips->getPendingText(), nullptr);
    EXPECT_EQ(frame.getHoveredView(), nullptr);
}

TEST_F(FakeClock, TimersFireFromIdleAtTheirPeriod) {
    int fired = 0;
    CVSTGUITimer timer([&](CVSTGUITimer*) { ++fired; }, 50, true);
    CFrame frame(CRect(0, 0, 10, 10), nullptr, nullptr);
    frame.idle();
    EXPECT_EQ(fired, 0);
    gNow += 50;
    frame.idle();
    EXPECT_EQ(fired, 1);
    frame.idle();
    EXPECT_EQ(fired, 1);
    gNow += 500;  // a long stall fires once, not ten times
    frame.idle();
    frame.idle();
    EXPECT_EQ(fired, 2);
    timer.stop();
    gNow += 100;
    frame.idle();
    EXPECT_EQ(fired, 2);

    auto* selfDestroying = new CVSTGUITimer(nullptr, 10, false);
    CVSTGUITimer killer([&](CVSTGUITimer* t) { delete selfDestroying; selfDestroying = nullptr; t->stop(); }, 10, true);
    selfDestroying->start();
    gNow += 10;
    CVSTGUITimer::fireDueTimers();  // must not touch the deleted timer
    EXPECT_EQ(selfDestroying, nullptr);
    EXPECT_FALSE(killer.isRunning());
}

}  // namespace
}  // namespace guitest
