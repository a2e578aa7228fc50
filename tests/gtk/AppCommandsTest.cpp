// The app's commands, its title bar and menus, and the page's right-click
// menu, with a real application, window and web view under Xvfb. Keys and
// the wheel go through the X server, as a person's would.
//
// With ORVANE_MENU_SCREENSHOT=FILE set, MenuPicture saves the window with
// its menu open.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AboutWindow.h"
#include "AppCommands.h"
#include "AppValues.h"
#include "FakeInput.h"
#include "HeaderBar.h"
#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PageContextMenu.h"
#include "PageServer.h"
#include "PrivateBus.h"
#include "Sheet.h"
#include "ShellTexts.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPage = R"(<!doctype html><html><head><title>Light</title></head>
<body style="height: 5000px"><p id="words">Lamp</p><input id="field"></body></html>)";

// The toplevel of type `type` that is showing, if any.
GtkWindow* shownWindowOf(GType type) {
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
        GPtr<GtkWindow> ref = adopt(static_cast<GtkWindow*>(g_list_model_get_item(toplevels, i)));
        // The list of toplevels keeps the window alive once `ref` goes.
        GtkWindow* window = ref.get();
        if (G_TYPE_CHECK_INSTANCE_TYPE(window, type) && gtk_widget_get_visible(GTK_WIDGET(window))) return window;
    }
    return nullptr;
}

void closeAll(GType type) {
    while (GtkWindow* window = shownWindowOf(type)) gtk_window_destroy(window);
}

class AppCommandsTest : public testing::Test {
protected:
    // One application per process, as in the app; each test gives it a new
    // window and its commands afresh.
    static void SetUpTestSuite() {
        startDisplayAndGtk();
        // It registers on a bus of its own, never the desktop's.
        bus = new test::PrivateBus();
        setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
        app = GTK_APPLICATION(gtk_application_new("org.orvane.CommandsTest", G_APPLICATION_NON_UNIQUE));
        ASSERT_TRUE(g_application_register(G_APPLICATION(app), nullptr, nullptr));
    }

    void SetUp() override {
        server.serve("/", {kPage});
        state = fs::temp_directory_path() / ("orvane-commands-" + std::to_string(::getpid()));
        fs::remove_all(state);

        MainWindowSettings settings;
        settings.pageUrl = *Url::parse(server.url("/"));
        settings.version = "1.2.3";
        settings.appName = "Lights";
        settings.bundle = Bundle(ORVANE_TEST_BUNDLE);
        settings.windowState = state / "window.ini";
        settings.openExternal = [this](const Url& url) { opened.push_back(url.text); };
        window = MainWindow::create(queue, std::move(settings));
        window->closed = [this] { closed = true; };
        gtk_application_add_window(app, window->window());
        installAppCommands(app, window);
        window->show();
        ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    }

    void TearDown() override {
        closeAll(ADW_TYPE_ABOUT_WINDOW);
        closeAll(GTK_TYPE_SHORTCUTS_WINDOW);
        window.reset();
        fs::remove_all(state);
    }

    double zoomLevel() const { return webkit_web_view_get_zoom_level(window->webView()); }

    // A key as a person presses it, with the page's view under the pointer.
    void press(const char* key) {
        test::pointAt(GTK_WIDGET(window->webView()));
        test::pressKeys(key);
    }

    // Never freed: GLib keeps the bus connection to the end of the process.
    static inline test::PrivateBus* bus = nullptr;
    static inline GtkApplication* app = nullptr;
    MainQueueGlib queue;
    PageServer server;
    fs::path state;
    std::shared_ptr<MainWindow> window;
    std::vector<std::string> opened;
    bool closed = false;
};

TEST_F(AppCommandsTest, EveryKeyBelongsToItsCommandAndTheEditingKeysToThePage) {
    for (const AppCommand& command : appCommands()) {
        const std::string name = std::string("app.") + command.action;
        EXPECT_TRUE(g_action_group_has_action(G_ACTION_GROUP(app), command.action)) << name;
        for (const char* key : command.keys) {
            char** actions = gtk_application_get_actions_for_accel(app, key);
            ASSERT_NE(actions, nullptr) << key;
            EXPECT_TRUE(actions[0] && name == actions[0] && !actions[1]) << key << " is not only " << name;
            g_strfreev(actions);
        }
    }
    // Taken by the application, these would never reach the page's fields.
    for (const char* key :
         {"<Control>z", "<Control><Shift>z", "<Control>x", "<Control>c", "<Control>v", "<Control>a"}) {
        char** actions = gtk_application_get_actions_for_accel(app, key);
        EXPECT_TRUE(!actions || !actions[0]) << key;
        g_strfreev(actions);
    }
}

TEST_F(AppCommandsTest, EachCommandWorksFromItsActionAndFromEachOfItsKeys) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST (libXtst) to press keys with";
    std::size_t loads = 0;
    const std::string credits = shellTexts::aboutCredits(*Url::parse(server.url("/")));
    struct Case {
        const char* action;
        std::function<void()> before;
        std::function<bool()> done;
    };
    const std::vector<Case> cases = {
        {"reload", [&] { loads = server.count("/"); }, [&] { return server.count("/") > loads; }},
        {"zoom-in", [&] { window->zoom(0); }, [&] { return zoomLevel() == 1.1; }},
        {"zoom-out", [&] { window->zoom(0); }, [&] { return zoomLevel() == 0.9; }},
        {"zoom-reset", [&] { window->zoom(+1); }, [&] { return zoomLevel() == 1.0; }},
        {"shortcuts", [] { closeAll(GTK_TYPE_SHORTCUTS_WINDOW); },
         [&] {
             GtkWindow* shortcuts = shownWindowOf(GTK_TYPE_SHORTCUTS_WINDOW);
             return shortcuts && gtk_window_get_transient_for(shortcuts) == window->window();
         }},
        {"about", [] { closeAll(ADW_TYPE_ABOUT_WINDOW); },
         [&] {
             auto* about = reinterpret_cast<AdwAboutWindow*>(shownWindowOf(ADW_TYPE_ABOUT_WINDOW));
             return about && credits == adw_about_window_get_comments(about) &&
                    g_strcmp0(adw_about_window_get_application_name(about), "Lights") == 0 &&
                    g_strcmp0(adw_about_window_get_version(about), "1.2.3") == 0 &&
                    gtk_window_get_modal(GTK_WINDOW(about)) &&
                    gtk_window_get_transient_for(GTK_WINDOW(about)) == window->window();
         }},
        {"website", [&] { opened.clear(); }, [&] { return opened == std::vector<std::string>{server.url("/")}; }},
        // Last: they close the window, through its close so that the frame is saved.
        {"close", [&] { closed = false; }, [&] { return closed && fs::exists(state / "window.ini"); }},
        {"quit", [&] { closed = false; }, [&] { return closed && fs::exists(state / "window.ini"); }},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.action);
        row.before();
        g_action_group_activate_action(G_ACTION_GROUP(app), row.action, nullptr);
        EXPECT_TRUE(spinUntil(row.done)) << "from the action";
        for (const AppCommand& command : appCommands()) {
            if (std::string_view(command.action) != row.action) continue;
            for (const char* key : command.keys) {
                closeAll(ADW_TYPE_ABOUT_WINDOW);
                closeAll(GTK_TYPE_SHORTCUTS_WINDOW);
                window->show();
                row.before();
                press(key);
                EXPECT_TRUE(spinUntil(row.done)) << "from " << key;
            }
        }
    }
}

// Every key the app answers to is in the shortcuts window.
TEST_F(AppCommandsTest, TheShortcutsWindowListsEveryKey) {
    g_action_group_activate_action(G_ACTION_GROUP(app), "shortcuts", nullptr);
    GtkWindow* shortcuts = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (shortcuts = shownWindowOf(GTK_TYPE_SHORTCUTS_WINDOW)) != nullptr; }));
    std::set<std::string> listed;
    std::function<void(GtkWidget*)> collect = [&](GtkWidget* widget) {
        if (GTK_IS_SHORTCUTS_SHORTCUT(widget)) {
            char* keys = nullptr;
            g_object_get(widget, "accelerator", &keys, nullptr);
            char** parts = g_strsplit(keys ? keys : "", " ", -1);
            for (char** part = parts; *part; ++part) listed.insert(*part);
            g_strfreev(parts);
            g_free(keys);
        }
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
            collect(child);
    };
    collect(GTK_WIDGET(shortcuts));
    for (const AppCommand& command : appCommands()) {
        for (const std::string_view key : command.keys) {
            // The keypad's keys are the same keys to the user.
            if (key.find("KP_") != std::string_view::npos) continue;
            EXPECT_TRUE(listed.contains(std::string(key))) << key;
        }
    }
    for (const char* key : {"F10", "Tab", "<Shift>Tab", "<Control>z", "<Control>a"})
        EXPECT_TRUE(listed.contains(key)) << key;
}

TEST_F(AppCommandsTest, TheAppsKeysWorkInItsOwnWindowsToo) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST (libXtst) to press keys with";
    g_action_group_activate_action(G_ACTION_GROUP(app), "about", nullptr);
    GtkWindow* about = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (about = shownWindowOf(ADW_TYPE_ABOUT_WINDOW)) != nullptr; }));
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(about)); }));
    test::pointAt(GTK_WIDGET(about));
    test::pressKeys("<Control>question");
    EXPECT_TRUE(spinUntil([&] { return shownWindowOf(GTK_TYPE_SHORTCUTS_WINDOW) != nullptr; }));
    test::pointAt(GTK_WIDGET(about));
    test::pressKeys("<Control>q");
    EXPECT_TRUE(spinUntil([&] { return closed; })) << "Ctrl+Q in the About window quits";
}

constexpr const char* kGuardedPage = R"(<!doctype html><title>Guarded</title><script>
  addEventListener("beforeunload", (e) => { e.preventDefault(); e.returnValue = ""; });
</script>)";

// Quit skipped the page's question that a reload asked.
TEST_F(AppCommandsTest, QuitAsksAPageThatWantsToBeWarnedAndStayingKeepsTheWindow) {
    server.serve("/guarded", {kGuardedPage});
    webkit_web_view_load_uri(window->webView(), server.url("/guarded").c_str());
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/guarded")));
    // Pages are only allowed to ask after the user has done something on them.
    evaluate(window->webView(), "document.body.click()");
    for (const std::string_view response : {kSheetCancel, kSheetOk}) {
        g_action_group_activate_action(G_ACTION_GROUP(app), "quit", nullptr);
        ASSERT_TRUE(spinUntil([&] { return window->dialogs().current() != nullptr; }));
        auto* dialog = ADW_MESSAGE_DIALOG(window->dialogs().current());
        EXPECT_STREQ(adw_message_dialog_get_heading(dialog), "Leave this page?");
        adw_message_dialog_response(dialog, response.data());
        if (response == kSheetOk) break;
        ASSERT_TRUE(spinUntil([&] { return window->dialogs().current() == nullptr; }));
        EXPECT_FALSE(closed) << "staying keeps the window";
        EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window->window())));
    }
    EXPECT_TRUE(spinUntil([&] { return closed; })) << "leaving closes it";
}

TEST_F(AppCommandsTest, ASignalsQuitDoesNotAskThePage) {
    server.serve("/guarded", {kGuardedPage});
    webkit_web_view_load_uri(window->webView(), server.url("/guarded").c_str());
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/guarded")));
    evaluate(window->webView(), "document.body.click()");
    g_action_group_activate_action(G_ACTION_GROUP(app), "quit-now", nullptr);
    EXPECT_TRUE(closed);
    EXPECT_EQ(window->dialogs().current(), nullptr);
}

// The title bar's button that closes the window.
GtkWidget* closeButtonIn(GtkWidget* root) {
    if (GTK_IS_BUTTON(root) && gtk_widget_has_css_class(root, "close")) return root;
    for (GtkWidget* child = gtk_widget_get_first_child(root); child; child = gtk_widget_get_next_sibling(child))
        if (GtkWidget* found = closeButtonIn(child)) return found;
    return nullptr;
}

// A page that loops alerts left the user no way out: its dialog held the
// whole window, and the app's keys did not work in the dialog.
class QuitDuringDialogs : public AppCommandsTest, public testing::WithParamInterface<std::string> {};

TEST_P(QuitDuringDialogs, TheUserCanAlwaysQuit) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST (libXtst) to press keys with";
    evaluate(window->webView(), "setTimeout(() => { for (;;) alert('again'); }, 0)");
    ASSERT_TRUE(spinUntil([&] { return window->dialogs().current() != nullptr; }));
    GtkWindow* dialog = window->dialogs().current();
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(dialog)); }));
    const std::string& way = GetParam();
    if (way == "KeysInTheDialog") {
        test::pointAt(GTK_WIDGET(dialog));
        test::pressKeys("<Control>q");
    } else if (way == "KeysInTheWindow") {
        test::pointAt(window->headerBar().widget());
        test::pressKeys("<Control>q");
    } else {
        GtkWidget* button = closeButtonIn(window->headerBar().widget());
        ASSERT_NE(button, nullptr);
        test::pointAt(button);
        test::clickPrimary();
    }
    EXPECT_TRUE(spinUntil([&] { return closed; }));
}

INSTANTIATE_TEST_SUITE_P(Ways, QuitDuringDialogs, testing::Values("KeysInTheDialog", "KeysInTheWindow", "CloseButton"),
                         [](const auto& row) { return row.param; });

TEST_F(AppCommandsTest, FullScreenTogglesFromItsActionAndF11) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST (libXtst) to press keys with";
    // Without a window manager a shown window never becomes full screen: the
    // key is seen reaching the action, the toggle on the hidden window.
    int activated = 0;
    g_signal_connect(g_action_map_lookup_action(G_ACTION_MAP(app), "fullscreen"), "activate",
                     G_CALLBACK(+[](GAction*, GVariant*, int* count) { ++*count; }), &activated);
    press("F11");
    ASSERT_TRUE(spinUntil([&] { return activated == 1; }));
    gtk_widget_set_visible(GTK_WIDGET(window->window()), FALSE);
    const bool before = gtk_window_is_fullscreen(window->window());
    g_action_group_activate_action(G_ACTION_GROUP(app), "fullscreen", nullptr);
    EXPECT_NE(gtk_window_is_fullscreen(window->window()), before);
    g_action_group_activate_action(G_ACTION_GROUP(app), "fullscreen", nullptr);
    EXPECT_EQ(gtk_window_is_fullscreen(window->window()), before);
}

// In full screen the title bar hides; the pointer at the top edge brings
// it back, and F10 brings it with its menu open.
TEST_F(AppCommandsTest, InFullScreenTheTopEdgeAndF10BringTheTitleBar) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST (libXtst) to move the pointer with";
    GtkWidget* shown = GTK_WIDGET(window->window());
    FullScreenBar& bar = window->fullScreenBar();
    // Without a window manager only a window that is not showing yet can
    // become full screen.
    gtk_widget_set_visible(shown, FALSE);
    gtk_window_fullscreen(window->window());
    gtk_widget_set_visible(shown, TRUE);
    ASSERT_TRUE(spinUntil([&] { return gtk_window_is_fullscreen(window->window()) && gtk_widget_get_mapped(shown); }));
    test::pointAt(GTK_WIDGET(window->webView()));
    EXPECT_TRUE(spinUntil([&] { return !bar.showing(); })) << "hidden in full screen";
    test::pointAt(shown, gtk_widget_get_width(shown) / 2.0, 0);
    EXPECT_TRUE(spinUntil([&] { return bar.showing(); })) << "the top edge brings it";
    test::pointAt(GTK_WIDGET(window->webView()));
    EXPECT_TRUE(spinUntil([&] { return !bar.showing(); })) << "and it goes with the pointer";
    GtkWidget* menu = GTK_WIDGET(gtk_menu_button_get_popover(window->headerBar().menuButton()));
    test::pressKeys("F10");
    EXPECT_TRUE(spinUntil([&] { return bar.showing() && gtk_widget_get_visible(menu); })) << "F10 opens its menu";
    test::pressKeys("Escape");
    EXPECT_TRUE(spinUntil([&] { return !gtk_widget_get_visible(menu); }));
    EXPECT_TRUE(spinUntil([&] { return !bar.showing(); })) << "it goes with the menu, the focus back in the page";
    gtk_widget_set_visible(shown, FALSE);
    gtk_window_unfullscreen(window->window());
    EXPECT_TRUE(spinUntil([&] { return bar.showing(); })) << "always there out of full screen";
}

TEST_F(AppCommandsTest, EditingKeysWorkInThePageAndInItsTextFields) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST (libXtst) to press keys with";
    const auto holds = [&](const std::string& condition) {
        return spinUntil([&] { return evaluate(window->webView(), "!!(" + condition + ")") == "true"; });
    };
    // Each combination ends with Control let go: once the page has seen
    // that, it has handled the keys before it, and a script that follows
    // cannot overtake them.
    evaluate(window->webView(),
             "window.controlUps = 0; addEventListener('keyup', (e) => {"
             " if (e.key === 'Control') ++controlUps; }, true)");
    int ups = 0;
    const auto press = [&](const char* key) {
        this->press(key);
        ASSERT_TRUE(holds("controlUps === " + std::to_string(++ups))) << key;
    };
    // In the page: all of it is selected and copied.
    press("<Control>a");
    ASSERT_TRUE(holds("getSelection().toString().includes('Lamp')"));
    press("<Control>c");
    evaluate(window->webView(), "field.focus()");
    press("<Control>v");
    ASSERT_TRUE(holds("field.value.includes('Lamp')")) << "copy in the page, paste in a field";
    // In the field: only the field's text is taken.
    evaluate(window->webView(), "field.value = 'glow'; field.focus()");
    press("<Control>a");
    ASSERT_TRUE(holds("field.selectionStart === 0 && field.selectionEnd === 4"));
    press("<Control>x");
    ASSERT_TRUE(holds("field.value === ''"));
    press("<Control>v");
    ASSERT_TRUE(holds("field.value === 'glow'"));
    press("<Control>z");
    ASSERT_TRUE(holds("field.value === ''"));
    press("<Control><Shift>z");
    ASSERT_TRUE(holds("field.value === 'glow'"));
    // A page with its own undo keeps it: the app's undo is for keys the page let go.
    evaluate(window->webView(),
             "window.ownUndos = 0; addEventListener('keydown', (e) => {"
             " if (e.ctrlKey && e.key.toLowerCase() === 'z') { e.preventDefault(); ++ownUndos; } })");
    press("<Control>z");
    EXPECT_TRUE(holds("ownUndos === 1 && field.value === 'glow'"));
}

// Tab goes on past the page's last control to the title bar's buttons, and
// on from its last button back into the page: the focus is never lost.
TEST_F(AppCommandsTest, TabGoesFromThePageToTheTitleBarAndBack) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST (libXtst) to press keys with";
    GtkWindow* shown = window->window();
    GtkWidget* view = GTK_WIDGET(window->webView());
    GtkWidget* bar = window->headerBar().widget();
    const auto focusIn = [&](GtkWidget* area) {
        GtkWidget* focus = gtk_window_get_focus(shown);
        return focus && (focus == area || gtk_widget_is_ancestor(focus, area));
    };
    evaluate(window->webView(), "field.focus()");
    test::pointAt(view);
    ASSERT_TRUE(spinUntil([&] { return focusIn(view); }));
    test::pressKeys("Tab");
    ASSERT_TRUE(spinUntil([&] { return focusIn(bar); })) << "past the page's last control";
    for (int i = 0; i < 8 && focusIn(bar); ++i) {
        // One key at a time: a second Tab sent before the first has moved
        // the focus would move it on again.
        GtkWidget* before = gtk_window_get_focus(shown);
        test::pressKeys("Tab");
        ASSERT_TRUE(spinUntil([&] { return gtk_window_get_focus(shown) != before; }));
    }
    ASSERT_TRUE(spinUntil([&] { return focusIn(view); })) << "past the title bar's last button";
    EXPECT_TRUE(spinUntil([&] { return evaluate(window->webView(), "document.activeElement === field") == "true"; }))
        << evaluate(window->webView(), "document.activeElement.tagName").value_or("?");
    test::pressKeys("<Shift>Tab");
    EXPECT_TRUE(spinUntil([&] { return focusIn(bar); })) << "back before the page's first control";
}

TEST_F(AppCommandsTest, ControlScrollZoomsAndAPlainScrollScrollsThePage) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST (libXtst) to press the wheel with";
    test::pointAt(GTK_WIDGET(window->webView()));
    test::scrollWheel(false, GDK_CONTROL_MASK);
    ASSERT_TRUE(spinUntil([&] { return zoomLevel() == 0.9; }));
    test::scrollWheel(true, GDK_CONTROL_MASK);
    test::scrollWheel(true, GDK_CONTROL_MASK);
    ASSERT_TRUE(spinUntil([&] { return zoomLevel() == 1.1; }));
    EXPECT_EQ(evaluate(window->webView(), "scrollY"), "0") << "a zoom must not scroll the page too";
    test::scrollWheel(false, GdkModifierType(0));
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "scrollY > 0") == "true"; }));
    EXPECT_EQ(zoomLevel(), 1.1);
}

TEST_F(AppCommandsTest, HeaderBarIsAtTheTopAndItsZoomRowFollowsAndResetsTheZoom) {
    graphene_rect_t bar{}, view{};
    ASSERT_TRUE(gtk_widget_compute_bounds(window->headerBar().widget(), GTK_WIDGET(window->window()), &bar));
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(window->webView()), GTK_WIDGET(window->window()), &view));
    EXPECT_LE(bar.origin.y + bar.size.height, view.origin.y);
    GtkButton* zoom = window->headerBar().zoomButton();
    EXPECT_STREQ(gtk_button_get_label(zoom), "100%");
    window->zoom(+1);
    window->zoom(+1);
    EXPECT_STREQ(gtk_button_get_label(zoom), "125%");
    // The row lives in the popover: open it so its buttons are live.
    gtk_menu_button_popup(window->headerBar().menuButton());
    gtk_widget_activate(GTK_WIDGET(zoom));
    ASSERT_TRUE(spinUntil([&] { return zoomLevel() == 1.0; }));
    EXPECT_STREQ(gtk_button_get_label(zoom), "100%");
    // Room for another control, left of the menu.
    GtkWidget* extra = gtk_button_new_with_label("extra");
    window->headerBar().packEnd(extra);
    EXPECT_EQ(gtk_widget_get_ancestor(extra, ADW_TYPE_HEADER_BAR), window->headerBar().widget());
}

// The menu's items as "label -> action", the zoom row as "[zoom]".
std::vector<std::string> itemsOf(GMenuModel* menu) {
    std::vector<std::string> items;
    for (int i = 0; i < g_menu_model_get_n_items(menu); ++i) {
        if (GPtr<GMenuModel> section = adopt(g_menu_model_get_item_link(menu, i, G_MENU_LINK_SECTION))) {
            for (const std::string& item : itemsOf(section.get())) items.push_back(item);
            continue;
        }
        char* label = nullptr;
        char* action = nullptr;
        char* custom = nullptr;
        g_menu_model_get_item_attribute(menu, i, G_MENU_ATTRIBUTE_LABEL, "s", &label);
        g_menu_model_get_item_attribute(menu, i, G_MENU_ATTRIBUTE_ACTION, "s", &action);
        g_menu_model_get_item_attribute(menu, i, "custom", "s", &custom);
        items.push_back(custom ? "[" + std::string(custom) + "]"
                               : std::string(label ? label : "") + " -> " + (action ? action : ""));
        g_free(label);
        g_free(action);
        g_free(custom);
    }
    return items;
}

TEST(PrimaryMenu, HoldsTheCommandsUnderTheAppsNameOrOrvane) {
    struct Case {
        nlohmann::json info;
        std::string name;
    };
    for (const Case& row : {Case{{{"CFBundleName", "Lights"}}, "Lights"}, Case{nlohmann::json::object(), "Orvane"},
                            Case{{{"CFBundleName", 7}}, "Orvane"}}) {
        GPtr<GMenu> menu = primaryMenu(appNameFrom(row.info));
        EXPECT_EQ(
            itemsOf(G_MENU_MODEL(menu.get())),
            (std::vector<std::string>{"Reload -> app.reload", "[zoom]", "Full Screen -> app.fullscreen",
                                      "Keyboard Shortcuts -> app.shortcuts", "About " + row.name + " -> app.about",
                                      row.name + " Website -> app.website", "Quit " + row.name + " -> app.quit"}))
            << row.info.dump();
    }
}

TEST(AboutWindow, CreditsNameTheSiteOfThePageAddressWhichIsTheWebsite) {
    startDisplayAndGtk();
    adw_init();
    const std::string text = "Controls the Govee H617C light strip over Bluetooth";
    struct Case {
        const char* address;
        std::string comments;
        const char* website;
    };
    for (const Case& row :
         {Case{"https://lights.example.org:8443/app/?x=1", text + ", from its page on lights.example.org.",
               "https://lights.example.org:8443/app/?x=1"},
          Case{"about:blank", text + ".", ""}, Case{"mailto:someone@example.org", text + ".", ""}}) {
        auto* about = ADW_ABOUT_WINDOW(
            showAbout(nullptr, {"Orvane", "2.0", *Url::parse(row.address),
                                fs::path(ORVANE_TEST_BUNDLE) / "Contents" / "Resources" / "orvane.svg"}));
        EXPECT_EQ(adw_about_window_get_comments(about), row.comments) << row.address;
        EXPECT_STREQ(adw_about_window_get_website(about), row.website);
        EXPECT_STREQ(adw_about_window_get_developer_name(about), "The Orvane developers");
        // The bundle's icon, found by its name.
        EXPECT_STREQ(adw_about_window_get_application_icon(about), "orvane");
        GtkIconTheme* theme = gtk_icon_theme_get_for_display(gdk_display_get_default());
        GPtr<GtkIconPaintable> icon = adopt(
            gtk_icon_theme_lookup_icon(theme, "orvane", nullptr, 128, 1, GTK_TEXT_DIR_NONE, GtkIconLookupFlags(0)));
        GPtr<GFile> file = adopt(gtk_icon_paintable_get_file(icon.get()));
        const GCharPtr path(file ? g_file_get_path(file.get()) : nullptr);
        EXPECT_STREQ(path.get(), (fs::path(ORVANE_TEST_BUNDLE) / "Contents/Resources/orvane.svg").c_str());
        gtk_window_destroy(GTK_WINDOW(about));
    }
    // Without the icon file the window still shows, without one.
    auto* about =
        ADW_ABOUT_WINDOW(showAbout(nullptr, {"Orvane", "2.0", *Url::parse("https://a.example/"), "/nowhere.svg"}));
    EXPECT_STREQ(adw_about_window_get_application_icon(about), "");
    gtk_window_destroy(GTK_WINDOW(about));
}

// The menu's items: stock actions by name, separators as "-".
std::vector<std::string> entriesOf(WebKitContextMenu* menu) {
    std::vector<std::string> entries;
    for (GList* node = webkit_context_menu_get_items(menu); node; node = node->next) {
        auto* item = WEBKIT_CONTEXT_MENU_ITEM(node->data);
        if (webkit_context_menu_item_is_separator(item)) {
            entries.emplace_back("-");
            continue;
        }
        GAction* action = webkit_context_menu_item_get_gaction(item);
        const auto stock = webkit_context_menu_item_get_stock_action(item);
        GEnumClass* names = G_ENUM_CLASS(g_type_class_ref(WEBKIT_TYPE_CONTEXT_MENU_ACTION));
        GEnumValue* value = g_enum_get_value(names, stock);
        entries.emplace_back(stock == WEBKIT_CONTEXT_MENU_ACTION_CUSTOM
                                 ? std::string("custom:") + g_action_get_name(action)
                                 : value->value_nick);
        g_type_class_unref(names);
    }
    return entries;
}

GPtr<WebKitContextMenu> menuOf(const std::vector<int>& actions) {
    GPtr<WebKitContextMenu> menu = adopt(webkit_context_menu_new());
    for (int action : actions) {
        webkit_context_menu_append(menu.get(), action < 0 ? webkit_context_menu_item_new_separator()
                                                          : webkit_context_menu_item_new_from_stock_action(
                                                                static_cast<WebKitContextMenuAction>(action)));
    }
    return menu;
}

TEST(PageContextMenuTidy, KeepsEditingDropsNavigationAndNewWindowsAndAddsReload) {
    startDisplayAndGtk();
    GPtr<GSimpleAction> reload = adopt(g_simple_action_new("reload", nullptr));
    constexpr int sep = -1;
    struct Case {
        const char* what;
        std::vector<int> given;
        bool inspectable;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"a plain spot of the page",
         {WEBKIT_CONTEXT_MENU_ACTION_GO_BACK, WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD, WEBKIT_CONTEXT_MENU_ACTION_STOP,
          WEBKIT_CONTEXT_MENU_ACTION_RELOAD, sep, WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT},
         false,
         {"custom:reload"}},
        {"the same, inspectable",
         {WEBKIT_CONTEXT_MENU_ACTION_GO_BACK, WEBKIT_CONTEXT_MENU_ACTION_RELOAD, sep,
          WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT},
         true,
         {"custom:reload", "-", "inspect-element"}},
        {"a text field with a misspelling",
         {WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS, sep, WEBKIT_CONTEXT_MENU_ACTION_IGNORE_SPELLING,
          WEBKIT_CONTEXT_MENU_ACTION_LEARN_SPELLING, sep, WEBKIT_CONTEXT_MENU_ACTION_CUT,
          WEBKIT_CONTEXT_MENU_ACTION_COPY, WEBKIT_CONTEXT_MENU_ACTION_PASTE, WEBKIT_CONTEXT_MENU_ACTION_DELETE, sep,
          WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL, sep, WEBKIT_CONTEXT_MENU_ACTION_INSERT_EMOJI},
         false,
         {"spelling-guess", "-", "ignore-spelling", "learn-spelling", "-", "cut", "copy", "paste", "delete", "-",
          "select-all", "-", "insert-emoji", "-", "custom:reload"}},
        {"a link around an image",
         {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK, WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
          WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK, WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD, sep,
          WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
          WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD, WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD},
         false,
         {"open-link", "copy-link-to-clipboard", "-", "copy-image-to-clipboard", "copy-image-url-to-clipboard", "-",
          "custom:reload"}},
        {"media and a frame",
         {WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW, sep, WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
          WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK,
          WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK, WEBKIT_CONTEXT_MENU_ACTION_MEDIA_PLAY, sep},
         true,
         {"media-play", "-", "custom:reload"}},
    };
    for (const Case& row : cases) {
        GPtr<WebKitContextMenu> menu = menuOf(row.given);
        tidyContextMenu(menu.get(), row.inspectable, G_ACTION(reload.get()));
        EXPECT_EQ(entriesOf(menu.get()), row.expected) << row.what;
    }
}

TEST_F(AppCommandsTest, ThePagesMenuIsTidiedAndItsReloadReloads) {
    GPtr<WebKitContextMenu> menu = menuOf(
        {WEBKIT_CONTEXT_MENU_ACTION_GO_BACK, WEBKIT_CONTEXT_MENU_ACTION_RELOAD, WEBKIT_CONTEXT_MENU_ACTION_COPY});
    gboolean handled = FALSE;
    g_signal_emit_by_name(window->webView(), "context-menu", menu.get(), nullptr, &handled);
    EXPECT_FALSE(handled) << "the menu must still show";
    ASSERT_EQ(entriesOf(menu.get()), (std::vector<std::string>{"copy", "-", "custom:reload"}));
    const std::size_t loads = server.count("/");
    auto* reload = WEBKIT_CONTEXT_MENU_ITEM(g_list_last(webkit_context_menu_get_items(menu.get()))->data);
    g_action_activate(webkit_context_menu_item_get_gaction(reload), nullptr);
    EXPECT_TRUE(spinUntil([&] { return server.count("/") > loads; }));
}

TEST_F(AppCommandsTest, MenuPicture) {
    const char* file = std::getenv("ORVANE_MENU_SCREENSHOT");
    if (!file || !*file) GTEST_SKIP() << "set ORVANE_MENU_SCREENSHOT=FILE.png to save the window with its menu open";
    evaluate(window->webView(),
             "document.body.style.cssText = 'margin:0;height:100vh;background:rgb(22,25,32);color:#ccd;"
             "font:16px sans-serif'");
    window->zoom(+1);
    gtk_menu_button_popup(window->headerBar().menuButton());
    GtkPopover* popover = gtk_menu_button_get_popover(window->headerBar().menuButton());
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(popover)); }));
    // Two frames of the popover painted: what it shows is on the screen.
    int painted = 0;
    GdkFrameClock* clock = gdk_surface_get_frame_clock(gtk_native_get_surface(GTK_NATIVE(popover)));
    const gulong watch =
        g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, int* count) { ++*count; }), &painted);
    gtk_widget_queue_draw(GTK_WIDGET(popover));
    ASSERT_TRUE(spinUntil([&] {
        if (painted < 2) gtk_widget_queue_draw(GTK_WIDGET(popover));
        return painted >= 2;
    }));
    g_signal_handler_disconnect(clock, watch);
    const std::string command = "import -window root " + std::string(file);
    int status = -1;
    ASSERT_TRUE(g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, &status, nullptr));
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace orvane
