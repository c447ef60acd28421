// Shared helpers of the unit tests.
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "ifs/loader.h"
#include "shell/arrays.h"

void ResetAll() {
    ResetSaverState();
    ResetHost();
    SetAllocationLimit(DefaultAllocationLimit());
    SeedRandom(0);
}

std::string WriteTempFile(const std::string& text) {
    char path[] = "/tmp/lumivex-test-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "";
    close(fd);
    std::ofstream out(path, std::ios::binary);
    out << text;
    return path;
}

int LoadText(const std::string& text, RunMode mode) {
    State.Mode = mode;
    Host().useDefinitionFile = true;
    Host().definitionFile = WriteTempFile(text);
    const int result = LoadDefinitions();
    std::remove(Host().definitionFile.c_str());
    return result;
}
