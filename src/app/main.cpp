#include "privileges.h"
#include "trace_app.h"

#include <cstdio>

CTraceApp theApp;

int main(int argc, char** argv)
{
    if (RunningAsRoot()) {
        // Said on the terminal that started it: a box at every start would nag.
        std::fputs("hoplantern: running as root is not needed. Grant the program the one privilege it uses\n"
                   "instead, once: sudo setcap cap_net_raw+ep /path/to/hoplantern (scripts/run.sh does this);\n"
                   "without it, it still traces, reading the answers from its own probe sockets.\n",
            stderr);
    }
    return theApp.Run(argc, argv);
}
