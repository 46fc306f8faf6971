#include <iostream>

#include "tools/cepack/cepack.h"

int main(int argc, char** argv) {
    return cepack::RunCommandLine(argc, argv, cepack::Streams{std::cout, std::cerr});
}
