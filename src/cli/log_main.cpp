#include "LogTool.h"

int main(int argc, char* argv[])
{
    return RunLogTool(argc, argv);
}
