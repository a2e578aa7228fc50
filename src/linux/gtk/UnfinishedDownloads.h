#pragma once
// A list, kept on disk, of the hidden files that downloads are written to
// until whole: a download cut off by a kill or a crash leaves its file
// behind wherever the user chose to save, and the next start removes it.
// Only names of the form the downloads give their files are ever removed,
// so a damaged list cannot cost the user a file.

#include <filesystem>
#include <string>
#include <vector>

namespace orvane {

class UnfinishedDownloads {
public:
    // `list` is the file the list is kept in; empty keeps none.
    explicit UnfinishedDownloads(std::filesystem::path list) : list_(std::move(list)) {}

    // Removes the files a former run left listed, with what WebKit wrote
    // beside them, and starts an empty list.
    void removeLeftovers();
    void add(const std::string& part);
    void forget(const std::string& part);

    // A hidden download file's name for `name`: ".NAME.TAG.part", TAG six
    // lower-case letters or digits.
    static std::string partName(const std::string& name, const std::string& tag);
    static bool isPartName(const std::string& fileName);

private:
    void save() const;

    std::filesystem::path list_;
    std::vector<std::string> parts_;
};

}  // namespace orvane
