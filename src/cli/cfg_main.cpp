#include "CfgTool.h"
#include "FileSizeSignal.h"

int main(int argc, char* argv[])
{
    // Past a file-size limit the write fails and the tool says so.
    IgnoreFileSizeSignal();
    return RunCfgTool(argc, argv);
}
