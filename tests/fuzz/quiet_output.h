// Shared by the fuzz targets whose code under test prints as it refuses input (the security
// library's INI reader writes each syntax error to standard error, its conversions warn on
// standard output): libFuzzer is asked to close the target's standard output and error
// (-close_fd_mask=3), which keeps libFuzzer's own messages and the sanitizers' reports. A
// -close_fd_mask on the command line comes later and wins.
#pragma once

#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static char quiet[] = "-close_fd_mask=3";
    static std::vector<char*> args;
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + 1, quiet);
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size()) - 1;
    *argv = args.data();
    return 0;
}
