#include "trace_app.h"

CTraceApp theApp;

int main(int argc, char** argv)
{
    return theApp.Run(argc, argv);
}
