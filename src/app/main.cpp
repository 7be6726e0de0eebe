#include "privileges.h"
#include "trace_app.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

CTraceApp theApp;

int main(int argc, char** argv)
{
    if (RunningAsRoot()) {
        // Said on the terminal that started it: a box at every start would nag. The
        // command names this very program, wherever it was installed.
        std::error_code error;
        std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
        if (self.empty())
            self = "/usr/bin/hoplantern";
        std::fprintf(stderr,
            "hoplantern: running as root is not needed. Grant the program the one privilege it uses\n"
            "instead, once (the Debian package does this when it is installed):\n"
            "  sudo setcap cap_net_raw+ep %s\n"
            "Without it, it still traces, reading the answers from its own probe sockets.\n",
            self.c_str());
    }
    return theApp.Run(argc, argv);
}
