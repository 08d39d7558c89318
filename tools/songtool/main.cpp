// songtool: assembles, disassembles, checks and describes song data.
#include <iostream>

#include "songtool.h"

int main(int argc, char** argv)
{
    return songtool_main(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
