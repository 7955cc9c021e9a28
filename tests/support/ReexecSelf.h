// Starting a test program over: the same executable with the same arguments, once the start-up
// hook that calls it has set what the new image must find (its environment, its namespace).
#pragma once

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace qvtest {

// Returns only when the execution fails; errno says why.
//
// A program run by a user-mode emulator (the image-pipeline tests on an emulated processor
// without AVX2) would leave the emulator through /proc/self/exe and go on natively, and its
// results would prove nothing about the emulated processor. Such tests name their emulator
// and its options in QV_TEST_EMULATOR, and the new image starts under it again. The variable
// only chooses how the program starts over; whatever it says, the new image checks its
// surroundings afresh.
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
    const char* emulator = std::getenv("QV_TEST_EMULATOR");
    const bool viaEmulator = emulator != nullptr && *emulator != '\0' && !args.empty();
    if (viaEmulator) {
        // Under the emulator /proc/self/exe reads as the emulated program; executing that path
        // would start the emulator's own binary instead.
        char self[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return;
        std::vector<std::string> words;
        std::istringstream split(emulator);
        for (std::string w; split >> w;) words.push_back(w);
        if (words.empty()) return;
        words.emplace_back(self, static_cast<size_t>(n));
        args.erase(args.begin());
        args.insert(args.begin(), words.begin(), words.end());
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (viaEmulator) {
        execv(argv[0], argv.data());
        return;
    }
    execv("/proc/self/exe", argv.data());
}

}  // namespace qvtest
