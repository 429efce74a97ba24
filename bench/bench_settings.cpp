// The settings start-up every new instance runs (read, parse and check the whole file under
// its lock), on a file that has grown large: 50,000 entries, and as many as fit in the 4 MiB
// the store reads at most. Entries are ones the program does not know, which it must keep.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/settings_store.h"
#include "state/settings_startup.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxFileBytes = 4u << 20;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "kf-bench-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

// state.range(0): entries to add (0: fill the file to 4 MiB).
void BM_SettingsStartup(benchmark::State& state) {
    ScratchFolder scratch;
    const std::string bundle = scratch.file("bundle") + "/", user = scratch.file("user") + "/";
    fs::create_directories(bundle + "Presets/User");
    fs::create_directories(bundle + "Samples/Factory");
    kf::platform::SettingsStore store(scratch.file("cfg"));
    kf::runSettingsStartup(store, bundle, user);  // the first run writes the program's own values

    std::string text;
    {
        std::ifstream in(store.filePath(), std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto wanted = static_cast<std::size_t>(state.range(0));
    char line[64];
    for (std::size_t i = 0; wanted ? i < wanted : text.size() < kMaxFileBytes; ++i) {
        const int n = std::snprintf(line, sizeof line, "number\tother %zu\t%zu\n", i, i % 1000);
        if (!wanted && text.size() + static_cast<std::size_t>(n) > kMaxFileBytes) break;
        text.append(line, static_cast<std::size_t>(n));
    }
    std::ofstream(store.filePath(), std::ios::binary | std::ios::trunc) << text;

    kf::platform::SettingsStore again(store.folder());
    for (auto _ : state) benchmark::DoNotOptimize(kf::runSettingsStartup(again, bundle, user));
    if (again.fileWrites() != 0 || again.readOnly())
        state.SkipWithError("the start-up wrote or refused the file");
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_SettingsStartup)->ArgName("entries")->Arg(50000)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
