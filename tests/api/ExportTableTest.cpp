// The shared library's dynamic symbol table holds exactly the listed exports, each bound to the
// version node "libQVCameraSDK", plus the node's own absolute symbol; no shared-object name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "InterfaceFunctions.h"

namespace {

using apitest::kInterfaceFunctions;

std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// readelf's output for the library; the options and the path are joined with append, which
// g++ 12 does not misread as an out-of-bounds copy the way it does operator+ on a literal.
std::string Readelf(const char* options) {
    std::string command = "readelf ";
    command.append(options).append(" ").append(QVSDK_LIBRARY_PATH);
    return RunCommand(command);
}

std::set<std::string> ListedExports() {
    std::set<std::string> names;
    std::ifstream list(QVSDK_EXPORTS_LIST);
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        names.insert(line);
    }
    return names;
}

struct DynSym {
    int index = -1;
    std::string name;     // without version
    std::string version;  // after "@@" (default) or "@" (hidden); empty when unversioned
    bool isDefault = false;
    std::string ndx;
    std::string type;
};

// Defined symbols of the dynamic symbol table, from readelf's wide listing.
std::vector<DynSym> DefinedDynamicSymbols() {
    std::vector<DynSym> symbols;
    std::istringstream lines(Readelf("--dyn-syms -W"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string num, value, size, type, bind, vis, ndx, name;
        if (!(fields >> num >> value >> size >> type >> bind >> vis >> ndx)) continue;
        if (num == "Num:" || num.empty() || num.back() != ':' || ndx == "UND") continue;
        if (!(fields >> name)) continue;
        DynSym s;
        s.index = std::stoi(num.substr(0, num.size() - 1));
        s.ndx = ndx;
        s.type = type;
        if (auto at = name.find("@@"); at != std::string::npos) {
            s.name = name.substr(0, at);
            s.version = name.substr(at + 2);
            s.isDefault = true;
        } else if (auto at1 = name.find('@'); at1 != std::string::npos) {
            s.name = name.substr(0, at1);
            s.version = name.substr(at1 + 1);
        } else {
            s.name = name;
        }
        symbols.push_back(s);
    }
    return symbols;
}

// The symbol version table (.gnu.version): the version name of each dynamic symbol by index.
std::vector<std::string> SymbolVersions() {
    std::vector<std::string> versions;
    const std::string out = Readelf("-V -W");
    const auto begin = out.find(".gnu.version'");
    const auto end = out.find(".gnu.version_d");
    std::istringstream lines(out.substr(begin, end - begin));
    std::string line;
    while (std::getline(lines, line)) {
        // "  02c:   1 (*global*)      2 (libQVCameraSDK)    2 (libQVCameraSDK)"
        const auto colon = line.find(':');
        if (colon == std::string::npos || line.find("Addr") != std::string::npos) continue;
        for (size_t open = line.find('(', colon); open != std::string::npos;
             open = line.find('(', open + 1)) {
            versions.push_back(line.substr(open + 1, line.find(')', open) - open - 1));
        }
    }
    return versions;
}

TEST(ExportTable, OnlyListedExportsWithTheirVersion) {
    const std::set<std::string> listed = ListedExports();
    ASSERT_FALSE(listed.empty());
    const std::vector<DynSym> symbols = DefinedDynamicSymbols();
    ASSERT_FALSE(symbols.empty()) << "readelf printed nothing for " << QVSDK_LIBRARY_PATH;

    const std::vector<std::string> versions = SymbolVersions();
    std::set<std::string> exported;
    bool nodeSymbol = false;
    for (const DynSym& s : symbols) {
        ASSERT_LT(static_cast<size_t>(s.index), versions.size());
        EXPECT_EQ(versions[static_cast<size_t>(s.index)], "libQVCameraSDK") << s.name;
        if (s.name == "libQVCameraSDK") {
            EXPECT_EQ(s.ndx, "ABS");
            nodeSymbol = true;
            continue;
        }
        EXPECT_TRUE(listed.count(s.name)) << "exported but not listed: " << s.name;
        EXPECT_EQ(s.version, "libQVCameraSDK") << s.name;
        EXPECT_TRUE(s.isDefault) << s.name << " is not the default version";
        EXPECT_EQ(s.type, "FUNC") << s.name;
        exported.insert(s.name);
    }
    EXPECT_TRUE(nodeSymbol) << "the version node's absolute symbol is missing";
    for (const std::string& name : listed)
        EXPECT_TRUE(exported.count(name)) << "listed but not exported: " << name;
}

// The names of a that b lacks, separated by spaces.
std::string Difference(const std::set<std::string>& a, const std::set<std::string>& b) {
    std::string names;
    for (const std::string& name : a)
        if (!b.count(name)) names.append(names.empty() ? "" : " ").append(name);
    return names;
}

// The whole interface, not only what the list holds: each name once, in the list and in the
// library's symbol table, resolvable with its version as a host program binds it.
TEST(ExportTable, EveryInterfaceFunctionIsExported) {
    const std::set<std::string> interface(kInterfaceFunctions.begin(), kInterfaceFunctions.end());
    ASSERT_EQ(interface.size(), 185u) << "a name is listed twice";
    EXPECT_EQ(Difference(interface, ListedExports()), "") << "missing from sdk/exports.list";
    EXPECT_EQ(Difference(ListedExports(), interface), "") << "listed but not in the interface";

    std::set<std::string> exported;
    for (const DynSym& s : DefinedDynamicSymbols())
        if (s.type == "FUNC") exported.insert(s.name);
    EXPECT_EQ(Difference(interface, exported), "") << "not exported";
    EXPECT_EQ(Difference(exported, interface), "") << "exported but not in the interface";

    void* library = dlopen(QVSDK_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr) << "the test links the library, so it is loaded already";
    for (std::string_view name : kInterfaceFunctions) {
        const std::string symbol(name);
        EXPECT_NE(dlvsym(library, symbol.c_str(), "libQVCameraSDK"), nullptr) << symbol;
    }
    dlclose(library);
}

TEST(ExportTable, NoSharedObjectNameAndBaseVersionNamedAfterFile) {
    const std::string dynamic = Readelf("-d -W");
    ASSERT_FALSE(dynamic.empty());
    EXPECT_EQ(dynamic.find("(SONAME)"), std::string::npos);

    const std::string versions = Readelf("-V -W");
    const auto defs = versions.find(".gnu.version_d");
    ASSERT_NE(defs, std::string::npos);
    const std::string defSection = versions.substr(defs, versions.find(".gnu.version_r") - defs);
    EXPECT_NE(defSection.find("Flags: BASE"), std::string::npos);
    EXPECT_NE(defSection.find("Name: libQVCameraSDK.so"), std::string::npos);
    EXPECT_NE(defSection.find("Name: libQVCameraSDK\n"), std::string::npos);
}

}  // namespace
