// ditto: unpacks a zip archive into a folder, refusing entries that would
// reach outside it.
//
//   ditto -x -k ZIP DIR
//
// DIR is made when missing (its parent must exist). Exit status: 0 success,
// 1 the archive was refused or could not be unpacked, 2 wrong arguments,
// 3 not enough free space to unpack it.

#include "Unzip.h"

#include <clocale>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

int usage() {
    std::fputs("usage: ditto -x -k ZIP DIR\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Entry names are UTF-8; a UTF-8 locale lets libarchive hand them over as they are.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");

    std::set<char> flags;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-' && operands.empty()) {
            for (char flag : arg.substr(1)) {
                if ((flag != 'x' && flag != 'k') || !flags.insert(flag).second) return usage();
            }
        } else {
            operands.emplace_back(arg);
        }
    }
    if (flags.size() != 2 || operands.size() != 2) return usage();

    bool outOfSpace = false;
    std::string why = orvane::unzip(operands[0], operands[1], {}, &outOfSpace);
    if (why.empty()) return 0;
    std::fprintf(stderr, "ditto: %s\n", why.c_str());
    return outOfSpace ? 3 : 1;
}
