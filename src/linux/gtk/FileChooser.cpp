#include "FileChooser.h"

#include <memory>
#include <utility>

#include "GRef.h"
#include "PageDialogTexts.h"

namespace orvane {
namespace {

// Lives from show to response; the native dialog is only kept alive by it.
struct Asking {
    GPtr<GtkFileChooserNative> native;
    FileAnswer answer;
};

std::vector<std::string> chosenPaths(GtkFileChooser* chooser) {
    std::vector<std::string> paths;
    GListModel* files = gtk_file_chooser_get_files(chooser);
    for (guint i = 0; i < g_list_model_get_n_items(files); ++i) {
        GPtr<GFile> file = adopt(G_FILE(g_list_model_get_item(files, i)));
        GCharPtr path(g_file_get_path(file.get()));
        if (path) paths.emplace_back(path.get());
    }
    g_object_unref(files);
    return paths;
}

}  // namespace

void askDesktop(GtkWindow* parent, const FileQuestion& question, FileAnswer answer) {
    namespace texts = pageDialogTexts;
    const bool save = question.kind == FileQuestion::Kind::save;
    const char* title = save                                            ? texts::saveDownload
                        : question.kind == FileQuestion::Kind::openMany ? texts::chooseFiles
                                                                        : texts::chooseFile;
    auto asking = std::make_unique<Asking>();
    asking->native = adopt(
        gtk_file_chooser_native_new(title, parent, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
                                    save ? texts::save : texts::open, texts::cancel));
    asking->answer = std::move(answer);
    GtkNativeDialog* dialog = GTK_NATIVE_DIALOG(asking->native.get());
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(asking->native.get());
    gtk_native_dialog_set_modal(dialog, TRUE);
    if (save) {
        gtk_file_chooser_set_create_folders(chooser, TRUE);
        // The user's downloads folder, else home: never wherever the app
        // happened to be started from.
        const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
        GPtr<GFile> folder = adopt(g_file_new_for_path(
            downloads && g_file_test(downloads, G_FILE_TEST_IS_DIR) ? downloads : g_get_home_dir()));
        gtk_file_chooser_set_current_folder(chooser, folder.get(), nullptr);
        gtk_file_chooser_set_current_name(chooser, question.suggestedName.c_str());
    } else {
        gtk_file_chooser_set_select_multiple(chooser, question.kind == FileQuestion::Kind::openMany);
        if (question.filter) {
            gtk_file_chooser_add_filter(chooser, question.filter);
            gtk_file_chooser_set_filter(chooser, question.filter);
        }
    }
    g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkNativeDialog* native, int response, gpointer data) {
                         // Taken back first: the native dialog answers once.
                         std::unique_ptr<Asking> done(static_cast<Asking*>(data));
                         g_signal_handlers_disconnect_by_data(native, data);
                         std::vector<std::string> paths;
                         if (response == GTK_RESPONSE_ACCEPT) paths = chosenPaths(GTK_FILE_CHOOSER(native));
                         done->answer(std::move(paths));
                     }),
                     asking.get());
    gtk_native_dialog_show(dialog);
    (void)asking.release();  // owned by the response handler from here on
}

}  // namespace orvane
