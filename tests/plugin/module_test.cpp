// The built module as a host loads it: its exports and its entry point.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pixman.h>
#include <stdlib.h>

#include <cstdio>
#include <set>
#include <string>

#include "allocation_counter.h"
#include "vst/aeffect.h"

namespace {

using Entry = vst::AEffect* (*)(vst::AudioMasterCallback);

intptr_t gVersionAnswer = 2400;
intptr_t host(vst::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst::audioMasterVersion ? gVersionAnswer : 0;
}

struct Module {
    Module() {
        // Keeps pixman in the process (see CMakeLists.txt) even where the linker drops
        // libraries nothing names.
        [[maybe_unused]] static const int kPixman = pixman_version();
        // The instances made here must not touch the user's settings.
        setenv("KESTRAFONE_SETTINGS_DIR", "/tmp/kf-module-test-settings", 1);
        setenv("XDG_DATA_HOME", "/tmp/kf-module-test-settings/data", 1);
        handle = dlopen(KF_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    }
    ~Module() {
        if (handle) dlclose(handle);
    }
    Entry entry(const char* name) const { return reinterpret_cast<Entry>(dlsym(handle, name)); }
    void* handle = nullptr;
};

TEST(Module, ExportsOnlyTheEntryPoint) {
    FILE* p = popen("nm -D --defined-only " KF_PLUGIN_PATH " 2>&1", "r");
    ASSERT_NE(p, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        const auto space = s.find_last_of(' ');
        names.insert(s.substr(space + 1, s.find_last_not_of("\n") - space));
    }
    pclose(p);
    EXPECT_EQ(names, (std::set<std::string>{"VSTPluginMain", "main"}));
}

// Both entry names give an instance, but not to a host of version 0 or without a callback.
TEST(Module, BothEntryNamesCreateAnInstance) {
    Module m;
    ASSERT_NE(m.handle, nullptr) << dlerror();
    for (const char* name : {"VSTPluginMain", "main"}) {
        Entry entry = m.entry(name);
        ASSERT_NE(entry, nullptr) << name;
        vst::AEffect* e = entry(host);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_EQ(e->magic, vst::kEffectMagic);
        EXPECT_EQ(e->dispatcher(e, vst::effClose, 0, 0, nullptr, 0.0f), 1);
        EXPECT_EQ(entry(nullptr), nullptr);
        gVersionAnswer = 0;
        EXPECT_EQ(entry(host), nullptr);
        gVersionAnswer = 2400;
    }
}

// Whichever of its allocations fails while the instance is built, the host gets no instance
// (or, where the instance copes, a whole one) and no exception.
TEST(Module, FailedAllocationDuringConstructionGivesNoInstance) {
    Module m;
    ASSERT_NE(m.handle, nullptr) << dlerror();
    const Entry entry = m.entry("VSTPluginMain");
    auto close = [](vst::AEffect* e) { e->dispatcher(e, vst::effClose, 0, 0, nullptr, 0.0f); };
    kf::test::AllocationCounter counter;
    close(entry(host));
    const long allocations = counter.count();
    int refused = 0;
    for (long n = 1; n < allocations; n += 1 + n / 8) {
        kf::test::failNthAllocation(n);
        vst::AEffect* e = nullptr;
        EXPECT_NO_THROW(e = entry(host)) << "allocation " << n;
        kf::test::failNthAllocation(0);
        e ? close(e) : void(++refused);
    }
    EXPECT_GT(refused, 0);
}

}  // namespace
