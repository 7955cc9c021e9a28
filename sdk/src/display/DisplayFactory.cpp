#include "display/DisplayFactory.h"

#include <atomic>

namespace {

CDisplayFactory g_ownFactory;
std::atomic<CDisplayFactory*> g_factory{&g_ownFactory};

}  // namespace

std::unique_ptr<Display> CDisplayFactory::CreateDisplay() {
    return std::make_unique<Display>();
}

std::unique_ptr<CMakeFont> CDisplayFactory::CreateFont() {
    return std::make_unique<CMakeFont>();
}

CDisplayFactory& CDisplayFactory::Current() {
    return *g_factory.load();
}

void CDisplayFactory::Install(CDisplayFactory* factory) {
    g_factory.store(factory != nullptr ? factory : &g_ownFactory);
}
