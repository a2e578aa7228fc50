// The executable of test bundles: a real program for this machine (the
// installer refuses anything else) that hands over to the bundle's
// Contents/Resources/run.sh, run by /bin/sh with the path it was started as
// and its arguments: $1 is that path, $# counts it too.

#include <limits.h>
#include <unistd.h>

#include <string>
#include <vector>

int main(int argc, char** argv) {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 127;
    std::string script(self, static_cast<std::size_t>(length));
    script = script.substr(0, script.rfind('/')) + "/../Resources/run.sh";
    std::vector<char*> args{const_cast<char*>("/bin/sh"), script.data()};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv("/bin/sh", args.data());
    return 127;
}
