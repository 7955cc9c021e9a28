// Starting a test program over: the same executable with the same arguments, once the start-up
// hook that calls it has set what the new image must find (its environment, its namespace).
#pragma once

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qvtest {

// Returns only when the execution fails; errno says why.
inline void ReexecSelf() {
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(cmdline)),
                          std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\0', start);
        args.push_back(all.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
}

}  // namespace qvtest
