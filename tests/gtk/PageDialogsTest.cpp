// The page's alert, confirm, prompt and file inputs with the real window and
// web view: each dialog answered as the user would.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "CaseName.h"
#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PageServer.h"
#include "Sheet.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// The page asks from a timer, so that the test's own script call returns at
// once; what the dialog answered lands in window.answer as [type, value].
constexpr const char* kPage = R"(<!doctype html><title>Dialogs</title>
<input type="file" id="one"><input type="file" id="many" multiple><input type="file" id="png" accept="image/png">
<script>
  window.answer = null;
  window.ask = (call) => setTimeout(() => {
    const r = call();
    window.answer = [typeof r, r === undefined ? null : r];
  }, 0);
  window.changes = 0;
  for (const input of document.querySelectorAll("input")) input.addEventListener("change", () => window.changes++);
  window.names = (id) => Array.from(document.getElementById(id).files).map((f) => f.name);
</script>)";

class PageDialogsTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        server.serve("/", {kPage});
        dir = fs::temp_directory_path() / ("orvane-dialogs-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::shared_ptr<MainWindow> shown(FileChooser chooser = {}, const std::string& appName = "Orvane") {
        MainWindowSettings settings;
        settings.appName = appName;
        settings.pageUrl = *Url::parse(server.url("/"));
        settings.version = "1.0";
        settings.bundle = Bundle(ORVANE_TEST_BUNDLE);
        settings.windowState = dir / "window.ini";
        settings.chooseFiles = std::move(chooser);
        auto window = MainWindow::create(queue, std::move(settings));
        window->show();
        EXPECT_TRUE(waitForLoad(window->webView(), server.url("/")));
        return window;
    }

    // Starts `call` in the page and waits for its dialog.
    GtkWindow* ask(MainWindow& window, const std::string& call) {
        evaluate(window.webView(), "window.answer = null; ask(() => " + call + ")");
        EXPECT_TRUE(spinUntil([&] { return window.dialogs().current() != nullptr; }));
        return window.dialogs().current();
    }

    std::string answer(MainWindow& window) {
        std::optional<std::string> got;
        spinUntil([&] {
            got = evaluate(window.webView(), "window.answer");
            return got && *got != "null";
        });
        return got.value_or("");
    }

    fs::path file(const std::string& name) {
        std::ofstream(dir / name) << name;
        return dir / name;
    }

    MainQueueGlib queue;
    PageServer server;
    fs::path dir;
};

// The entry the dialog's focus is in, if any.
GtkEntry* focusedEntry(GtkWindow* dialog) {
    GtkWidget* focus = gtk_window_get_focus(dialog);
    GtkWidget* entry = focus ? gtk_widget_get_ancestor(focus, GTK_TYPE_ENTRY) : nullptr;
    return entry ? GTK_ENTRY(entry) : nullptr;
}

int buttonCount(GtkWindow* dialog) {
    int count = 0;
    for (const char* response : {kSheetOk, kSheetCancel})
        count += adw_message_dialog_has_response(ADW_MESSAGE_DIALOG(dialog), response);
    return count;
}

// The button that gives `response`, found as the user finds it: by its label.
GtkWidget* responseButton(GtkWindow* dialog, const char* response) {
    if (!adw_message_dialog_has_response(ADW_MESSAGE_DIALOG(dialog), response)) return nullptr;
    const std::string label = adw_message_dialog_get_response_label(ADW_MESSAGE_DIALOG(dialog), response);
    const std::function<GtkWidget*(GtkWidget*)> find = [&](GtkWidget* widget) -> GtkWidget* {
        const char* text = GTK_IS_BUTTON(widget) ? gtk_button_get_label(GTK_BUTTON(widget)) : nullptr;
        if (text && label == text) return widget;
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
            if (GtkWidget* found = find(child)) return found;
        return nullptr;
    };
    return find(GTK_WIDGET(dialog));
}

// What the dialog shows of the page's message: the text of its label.
std::string messageOf(GtkWindow* dialog) {
    const std::function<GtkLabel*(GtkWidget*)> find = [&](GtkWidget* widget) -> GtkLabel* {
        if (GTK_IS_LABEL(widget)) return GTK_LABEL(widget);
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
            if (GtkLabel* found = find(child)) return found;
        return nullptr;
    };
    GtkWidget* below = adw_message_dialog_get_extra_child(ADW_MESSAGE_DIALOG(dialog));
    GtkLabel* label = below ? find(below) : nullptr;
    return label ? gtk_label_get_text(label) : "";
}

enum class End { ok, cancel, escape, enter };

void end(GtkWindow* dialog, End how) {
    switch (how) {
    case End::ok:
    case End::cancel: {
        GtkWidget* button = responseButton(dialog, how == End::ok ? kSheetOk : kSheetCancel);
        ASSERT_NE(button, nullptr);
        gtk_widget_activate(button);
        break;
    }
    case End::escape:
        // What the dialog's Escape key binding activates.
        gtk_widget_activate_action(GTK_WIDGET(dialog), "window.close", nullptr);
        break;
    case End::enter: {
        // Enter in the entry: its text's key binding.
        ASSERT_NE(focusedEntry(dialog), nullptr);
        g_signal_emit_by_name(gtk_window_get_focus(dialog), "activate");
        break;
    }
    }
}

struct DialogCase {
    std::string name;
    std::string call;                  // what the page runs
    int buttons;                       // how many the dialog shows
    std::optional<std::string> entry;  // the prompt's entry text at first; none without an entry
    std::optional<std::string> typed;  // typed into the entry before ending
    End how;
    std::string answer;  // [type, value] as the page saw it
};

class DialogTable : public PageDialogsTest, public testing::WithParamInterface<DialogCase> {};

TEST_P(DialogTable, AnswersThePageAsTheUserEndedIt) {
    const DialogCase& row = GetParam();
    auto window = shown();
    GtkWindow* dialog = ask(*window, row.call);
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(dialog), "Orvane");
    EXPECT_EQ(gtk_window_get_transient_for(dialog), window->window());
    // It holds the page, not the window: the title bar's menu and close stay in reach.
    EXPECT_FALSE(gtk_window_get_modal(dialog));
    EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(window->webView())));
    EXPECT_EQ(buttonCount(dialog), row.buttons);
    EXPECT_EQ(gtk_window_get_default_widget(dialog), responseButton(dialog, kSheetOk));
    GtkEntry* entry = focusedEntry(dialog);
    if (row.entry) {
        ASSERT_NE(entry, nullptr) << "the prompt's entry has the focus";
        EXPECT_EQ(gtk_editable_get_text(GTK_EDITABLE(entry)), *row.entry);
        if (row.typed) gtk_editable_set_text(GTK_EDITABLE(entry), row.typed->c_str());
    } else {
        EXPECT_EQ(entry, nullptr);
    }
    end(dialog, row.how);
    EXPECT_EQ(answer(*window), row.answer);
    EXPECT_EQ(window->dialogs().current(), nullptr);
    EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(window->webView())));
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, DialogTable,
    testing::Values(
        DialogCase{"AlertOk", "alert('Hello')", 1, {}, {}, End::ok, R"(["undefined",null])"},
        DialogCase{"AlertEscape", "alert('Hello')", 1, {}, {}, End::escape, R"(["undefined",null])"},
        DialogCase{"ConfirmOk", "confirm('Sure?')", 2, {}, {}, End::ok, R"(["boolean",true])"},
        DialogCase{"ConfirmCancel", "confirm('Sure?')", 2, {}, {}, End::cancel, R"(["boolean",false])"},
        DialogCase{"ConfirmEscape", "confirm('Sure?')", 2, {}, {}, End::escape, R"(["boolean",false])"},
        DialogCase{
            "PromptDefaultOk", "prompt('Name?', 'Strip 1')", 2, "Strip 1", {}, End::ok, R"(["string","Strip 1"])"},
        DialogCase{"PromptTypedEnter", "prompt('Name?', 'Strip 1')", 2, "Strip 1", "Desk", End::enter,
                   R"(["string","Desk"])"},
        DialogCase{"PromptEmptyOk", "prompt('Name?')", 2, "", {}, End::ok, R"(["string",""])"},
        DialogCase{"PromptTypedCancel", "prompt('Name?', 'x')", 2, "x", "Desk", End::cancel, R"(["object",null])"},
        DialogCase{"PromptEscape", "prompt('Name?')", 2, "", {}, End::escape, R"(["object",null])"}),
    CaseName());

TEST_F(PageDialogsTest, DialogsAreTitledWithTheAppsNameAsTheBundleGivesIt) {
    auto window = shown({}, "Strip Remote");
    GtkWindow* dialog = ask(*window, "confirm('Sure?')");
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(dialog), "Strip Remote");
    end(dialog, End::ok);
    answer(*window);
}

TEST_F(PageDialogsTest, ThePageAddressIsNeverTheTitleAndTheMessageIsPlainText) {
    auto window = shown();
    GtkWindow* dialog = ask(*window, "alert('<b>' + location.href + '</b>')");
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(dialog), "Orvane");
    EXPECT_EQ(messageOf(dialog), "<b>" + server.url("/") + "</b>");

    end(dialog, End::ok);
    answer(*window);
}

// Laid out whole, 10 MB held the main loop for minutes; 1,000 lines made a
// window taller than the screen, its buttons off it.
TEST_F(PageDialogsTest, AHugeMessageIsCutForDisplay) {
    auto window = shown();
    for (const auto& [call, shown] : {std::pair<std::string, std::string>{"alert('é'.repeat(10 * 1024 * 1024))", ""},
                                      {"alert(Array.from({length: 1000}, (_, i) => 'line ' + i).join('\\n'))", ""},
                                      {"alert('a'.repeat(3000))", std::string(3000, 'a')}}) {
        GtkWindow* dialog = ask(*window, call);
        ASSERT_NE(dialog, nullptr) << call;
        const std::string got = messageOf(dialog);
        if (!shown.empty()) {
            EXPECT_EQ(got, shown) << "a message that fits shows whole";
        } else {
            EXPECT_TRUE(g_utf8_validate(got.c_str(), -1, nullptr));
            EXPECT_TRUE(got.ends_with("…")) << got.substr(got.size() - 20);
            EXPECT_LE(g_utf8_strlen(got.c_str(), -1), 3001);
            EXPECT_LE(std::count(got.begin(), got.end(), '\n'), 39);
        }
        end(dialog, End::ok);
        answer(*window);
    }
}

// The choice to stop the page's dialogs, if the dialog offers it.
GtkCheckButton* stopChoice(GtkWindow* dialog) {
    GtkWidget* below = adw_message_dialog_get_extra_child(ADW_MESSAGE_DIALOG(dialog));
    for (GtkWidget* child = below ? gtk_widget_get_first_child(below) : nullptr; child;
         child = gtk_widget_get_next_sibling(child))
        if (GTK_IS_CHECK_BUTTON(child)) return GTK_CHECK_BUTTON(child);
    return nullptr;
}

// A page that loops alerts left the user only the dialog's OK, which brought
// the next one.
TEST_F(PageDialogsTest, ThePagesDialogsCanBeStoppedFromItsSecondOnUntilItLoadsAgain) {
    auto window = shown();
    const std::string loop = "(() => { let n = 0; for (let i = 0; i < 50; ++i) { alert(i); ++n; } return n; })()";
    GtkWindow* first = ask(*window, loop);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(stopChoice(first), nullptr) << "one dialog is no pattern yet";
    end(first, End::ok);
    ASSERT_TRUE(spinUntil([&] {
        GtkWindow* now = window->dialogs().current();
        return now && now != first;
    }));
    GtkCheckButton* stop = stopChoice(window->dialogs().current());
    ASSERT_NE(stop, nullptr);
    gtk_check_button_set_active(stop, TRUE);
    end(window->dialogs().current(), End::ok);
    EXPECT_EQ(answer(*window), R"(["number",50])") << "the rest ran without a dialog";
    EXPECT_EQ(window->dialogs().current(), nullptr);
    // Stopped dialogs answer as dismissed ones do.
    evaluate(window->webView(), "window.answer = null; ask(() => [confirm('Sure?'), prompt('Name?', 'x')])");
    EXPECT_EQ(answer(*window), R"(["object",[false,null]])");

    window->reload();
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    GtkWindow* again = ask(*window, "alert('a new document')");
    ASSERT_NE(again, nullptr) << "the next document's dialogs show";
    EXPECT_EQ(stopChoice(again), nullptr);
    end(again, End::ok);
    answer(*window);
}

// A dead page's alert once stayed over the reloaded page, blocking it.
TEST_F(PageDialogsTest, APagesDialogGoesWhenItsProcessEndsOrANewLoadStarts) {
    auto window = shown();
    ASSERT_NE(ask(*window, "alert('from the old page')"), nullptr);
    webkit_web_view_terminate_web_process(window->webView());
    EXPECT_TRUE(spinUntil([&] { return window->dialogs().current() == nullptr; }));
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));

    ASSERT_NE(ask(*window, "alert('before the reload')"), nullptr);
    window->reload();
    EXPECT_TRUE(spinUntil([&] { return window->dialogs().current() == nullptr; }));
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    EXPECT_EQ(evaluate(window->webView(), "1 + 1"), "2") << "the page runs";
}

TEST_F(PageDialogsTest, ClosingTheWindowWithADialogOpenEndsItOnce) {
    auto window = shown();
    GPtr<GtkWindow> dialog = retain(ask(*window, "prompt('Name?')"));
    ASSERT_TRUE(dialog);
    window.reset();
    // The dialog went with the window; the page's call was answered by the
    // window's teardown, and nothing reaches the freed window afterwards.
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(dialog.get())));
    // Whatever the teardown left queued runs now, with the window gone.
    while (g_main_context_iteration(nullptr, FALSE)) {}
}

TEST_F(PageDialogsTest, LeavingAPageThatAsksToBeWarnedAsksFirst) {
    server.serve("/guarded", {R"(<!doctype html><title>Guarded</title><script>
      addEventListener("beforeunload", (e) => { e.preventDefault(); e.returnValue = ""; });
    </script>)"});
    auto window = shown();
    webkit_web_view_load_uri(window->webView(), server.url("/guarded").c_str());
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/guarded")));
    // Pages are only allowed to ask after the user has done something on them.
    evaluate(window->webView(), "document.body.click()");

    const std::size_t loads = server.count("/");
    webkit_web_view_load_uri(window->webView(), server.url("/").c_str());
    ASSERT_TRUE(spinUntil([&] { return window->dialogs().current() != nullptr; }));
    GtkWindow* dialog = window->dialogs().current();
    EXPECT_STREQ(adw_message_dialog_get_heading(ADW_MESSAGE_DIALOG(dialog)), "Leave this page?");
    EXPECT_EQ(buttonCount(dialog), 2);
    end(dialog, End::escape);

    // Staying: the page is still there to ask again the next time, and the
    // other page was never asked for.
    webkit_web_view_load_uri(window->webView(), server.url("/").c_str());
    ASSERT_TRUE(spinUntil([&] { return window->dialogs().current() != nullptr; }));
    EXPECT_EQ(server.count("/"), loads);
    end(window->dialogs().current(), End::ok);
    EXPECT_TRUE(waitForLoad(window->webView(), server.url("/")));
    EXPECT_EQ(server.count("/"), loads + 1);
}

struct ChooserCase {
    std::string name;
    std::string input;
    FileQuestion::Kind kind;
    std::vector<std::string> chosen;  // file names in the test's folder
    bool filter;                      // the page named the types it takes
};

class ChooserTable : public PageDialogsTest, public testing::WithParamInterface<ChooserCase> {};

TEST_P(ChooserTable, TheInputGetsTheChosenFiles) {
    const ChooserCase& row = GetParam();
    std::optional<FileQuestion> asked;
    std::vector<std::string> answer;
    for (const auto& name : row.chosen) answer.push_back(file(name).string());
    auto window = shown([&](GtkWindow* parent, const FileQuestion& question, const FileAnswer& done) {
        EXPECT_NE(parent, nullptr);
        asked = question;
        done(answer);
    });
    evaluate(window->webView(), "document.getElementById('" + row.input + "').click()");
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "window.changes") == "1"; }));
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->kind, row.kind);
    EXPECT_EQ(asked->filter != nullptr, row.filter);
    EXPECT_EQ(evaluate(window->webView(), "JSON.stringify(names('" + row.input + "'))"),
              nlohmann::json(nlohmann::json(row.chosen).dump()).dump());
}

INSTANTIATE_TEST_SUITE_P(
    Choosers, ChooserTable,
    testing::Values(ChooserCase{"Single", "one", FileQuestion::Kind::openOne, {"a.txt"}, false},
                    ChooserCase{"Multiple", "many", FileQuestion::Kind::openMany, {"a.txt", "b.txt"}, false},
                    ChooserCase{"Typed", "png", FileQuestion::Kind::openOne, {"c.png"}, true}),
    CaseName());

TEST_F(PageDialogsTest, CancellingTheChooserLeavesTheInputAsItWas) {
    std::vector<std::string> next = {file("a.txt").string()};
    int asked = 0;
    auto window = shown([&](GtkWindow*, const FileQuestion&, const FileAnswer& done) {
        ++asked;
        done(next);
    });
    evaluate(window->webView(), "document.getElementById('one').click()");
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "window.changes") == "1"; }));
    next.clear();
    evaluate(window->webView(), "document.getElementById('one').click()");
    ASSERT_TRUE(spinUntil([&] { return asked == 2; }));
    // The next chooser proves the cancelled one has been answered.
    next = {file("b.txt").string()};
    evaluate(window->webView(), "document.getElementById('many').click()");
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "window.changes") == "2"; }));
    EXPECT_EQ(evaluate(window->webView(), "JSON.stringify(names('one'))"), R"("[\"a.txt\"]")");
}

}  // namespace
}  // namespace orvane
