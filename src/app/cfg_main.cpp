#include "CfgTool.h"

int main(int argc, char* argv[])
{
    return RunCfgTool(argc, argv);
}
