#include "platform/program_arguments.h"

const bool PROGRAM_ARGUMENTS_ARE_UTF8 = false;

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}
