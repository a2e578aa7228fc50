// The desktop's file chooser as the app asks it. Without a portal on the
// session bus GtkFileChooserNative shows GTK's own chooser dialog, which the
// test answers as the user would.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "FileChooser.h"
#include "PrivateBus.h"
#include "Spin.h"
#include "Xvfb.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace orvane {
namespace {

namespace fs = std::filesystem;

class FileChooserTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        startDisplayAndGtk();
        // A bus of the test's own with no portal on it: GTK falls back to
        // its dialog, and nothing reaches the machine's session.
        bus = std::make_unique<test::PrivateBus>();
        setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
    }
    static void TearDownTestSuite() { bus.reset(); }

    void SetUp() override {
        dir = fs::temp_directory_path() / ("orvane-chooser-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        parent = retain(GTK_WINDOW(gtk_window_new()));
        gtk_window_present(parent.get());
    }
    void TearDown() override {
        gtk_window_destroy(parent.get());
        if (leaksIgnored) endIgnoringToolkitLeaks();
        fs::remove_all(dir);
    }

    // Asks, and waits for the chooser to show on the parent.
    GtkFileChooser* ask(const FileQuestion& question) {
        if (!leaksIgnored) startIgnoringToolkitLeaks();
        askDesktop(parent.get(), question, [this](std::vector<std::string> paths) { answer = std::move(paths); });
        GtkWindow* shown = nullptr;
        EXPECT_TRUE(spinUntil([&] { return (shown = chooserOn(parent.get())) != nullptr; }));
        return shown ? GTK_FILE_CHOOSER(shown) : nullptr;
    }

    // GTK's own chooser dialog keeps two small buffers for good (256 bytes,
    // made in GLib without frame pointers, so no stack names them for a
    // suppression). Leak checking skips what is allocated while the dialog
    // runs; memory errors are still caught.
    void startIgnoringToolkitLeaks() {
        leaksIgnored = true;
#if defined(__SANITIZE_ADDRESS__)
        __lsan_disable();
#endif
    }
    void endIgnoringToolkitLeaks() {
        leaksIgnored = false;
#if defined(__SANITIZE_ADDRESS__)
        __lsan_enable();
#endif
    }
    bool leaksIgnored = false;

    static GtkWindow* chooserOn(GtkWindow* window) {
        GListModel* toplevels = gtk_window_get_toplevels();
        for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
            // GTK's list of toplevels keeps the window alive.
            auto* top = GTK_WINDOW(g_list_model_get_item(toplevels, i));
            g_object_unref(top);
            if (GTK_IS_FILE_CHOOSER_DIALOG(top) && gtk_window_get_transient_for(top) == window &&
                gtk_widget_get_visible(GTK_WIDGET(top)))
                return top;
        }
        return nullptr;
    }

    static void press(GtkFileChooser* chooser, int response) {
        gtk_widget_activate(gtk_dialog_get_widget_for_response(GTK_DIALOG(chooser), response));
    }

    static inline std::unique_ptr<test::PrivateBus> bus;
    fs::path dir;
    GPtr<GtkWindow> parent;
    std::optional<std::vector<std::string>> answer;
};

TEST_F(FileChooserTest, OpensFilesOnlyWithThePagesTypesAndCancelAnswersNothing) {
    const fs::path file = dir / "a.png";
    std::ofstream(file) << "png";
    GPtr<GtkFileFilter> filter = adopt(gtk_file_filter_new());
    gtk_file_filter_add_mime_type(filter.get(), "image/png");
    FileQuestion question;
    question.kind = FileQuestion::Kind::openMany;
    question.filter = filter.get();

    GtkFileChooser* chooser = ask(question);
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN) << "never a folder";
    EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(chooser)));
    EXPECT_EQ(gtk_file_chooser_get_filter(chooser), filter.get());
    GPtr<GFile> chosen = adopt(g_file_new_for_path(file.c_str()));
    gtk_file_chooser_set_file(chooser, chosen.get(), nullptr);
    ASSERT_TRUE(spinUntil([&] {
        GListModel* files = gtk_file_chooser_get_files(chooser);
        const bool selected = g_list_model_get_n_items(files) == 1;
        g_object_unref(files);
        return selected;
    }));
    press(chooser, GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(spinUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, std::vector<std::string>{file.string()});

    answer.reset();
    question.kind = FileQuestion::Kind::openOne;
    question.filter = nullptr;
    chooser = ask(question);
    ASSERT_NE(chooser, nullptr);
    EXPECT_FALSE(gtk_file_chooser_get_select_multiple(chooser));
    press(chooser, GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(spinUntil([&] { return answer.has_value(); }));
    EXPECT_TRUE(answer->empty());
}

TEST_F(FileChooserTest, SavesUnderTheSuggestedNameWhereFoldersMayBeMade) {
    FileQuestion question;
    question.kind = FileQuestion::Kind::save;
    question.suggestedName = "light log.txt";
    GtkFileChooser* chooser = ask(question);
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
    EXPECT_TRUE(gtk_file_chooser_get_create_folders(chooser));
    GCharPtr name(gtk_file_chooser_get_current_name(chooser));
    EXPECT_STREQ(name.get(), "light log.txt");
    // Saved as named, in the folder the chooser shows.
    GPtr<GFile> folder;
    ASSERT_TRUE(spinUntil([&] { return (folder = adopt(gtk_file_chooser_get_current_folder(chooser))) != nullptr; }));
    GCharPtr where(g_file_get_path(folder.get()));
    press(chooser, GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(spinUntil([&] { return answer.has_value(); }));
    const fs::path expected = fs::path(where.get()) / "light log.txt";
    EXPECT_EQ(*answer, std::vector<std::string>{expected.string()});
    EXPECT_FALSE(fs::exists(expected)) << "choosing writes nothing";
}

}  // namespace
}  // namespace orvane
