#include "CTerminalApp.h"

int main(int argc, char* argv[])
{
    return CTerminalApp::Run(argc, argv);
}
