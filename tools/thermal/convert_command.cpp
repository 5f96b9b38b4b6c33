#include <cstdio>

#include "commands.h"

int RunConvert(int, char**) {
    std::fprintf(stderr, "thermal convert: not available yet\n");
    return 1;
}
