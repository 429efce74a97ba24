// Kestrafone.dll as a host sees it, loaded through its entry point by our host library: the
// settings its first instance leaves in the registry and the install path that follows the
// DLL, the same plug-in as on Linux (identity, parameters and their texts, states in both
// directions), MIDI through the synthesizer, every insert effect, and a sample whose name
// the ANSI code page cannot spell.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>

#include "platform/file_system.h"
#include "platform/message_service.h"
#include "plugin/uniclient.h"
#include "support/plugin_facts.h"
#include "support/recording_message_service.h"
#include "support/scripted_file_dialogs.h"
#include "support/temp_files.h"
#include "test_files.h"
#include "windows_test_support.h"

namespace kf::test {
namespace {

constexpr const char* kProductKey = "Software\\Tallow Mill\\Kestrafone";
constexpr int kRate = 44100;

// The build's bundle folder, with the DLL, its presets and its manual, as a Windows path.
const std::filesystem::path kDll = std::filesystem::path(KF_PLUGIN_PATH).make_preferred();

std::unique_ptr<host::Plugin> load(const std::filesystem::path& dll = kDll) {
    std::string error;
    auto plugin = host::Plugin::load(platform::utf8Path(dll), {}, error);
    EXPECT_TRUE(plugin) << error;
    if (plugin) plugin->start(kRate, 512);
    return plugin;
}

std::string registryText(const char* name) {
    const auto v = registryValue(kProductKey, name);
    return v && v->type == REG_SZ ? platform::narrow(v->text) : "(not a text)";
}

// The same white noise every time, as a voice on input A.
std::vector<float> noise(int frames) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    uint32_t seed = 1;
    for (float& x : out)
        x = static_cast<float>((seed = seed * 1664525u + 1013904223u) >> 8) / 8388608.0f - 1.0f;
    return out;
}

// Renders input A (input B silent) in blocks of 512 frames; the left output.
std::vector<float> render(host::Plugin& plugin, const std::vector<float>& a) {
    std::vector<float> b(a.size(), 0.0f), left(a.size()), right(a.size());
    for (std::size_t done = 0; done < a.size(); done += 512) {
        const int32_t n = static_cast<int32_t>(std::min<std::size_t>(512, a.size() - done));
        float* in[2] = {const_cast<float*>(a.data()) + done, b.data() + done};
        float* out[2] = {left.data() + done, right.data() + done};
        plugin.process(in, out, n);
    }
    return left;
}

// The power of one frequency in x (Goertzel).
double power(const std::vector<float>& x, double hz) {
    const double k = 2.0 * std::cos(2.0 * std::numbers::pi * hz / kRate);
    double s1 = 0.0, s2 = 0.0;
    for (float v : x) {
        const double s = v + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

// States authored by the plug-in's own code in this program (as a user's project would have
// been), for the DLL to load.
class Author {
  public:
    explicit Author(const std::vector<uint8_t>& start)
        : instance_(std::make_unique<TMUniClient>(&callback, PluginServices{&messages_, &dialogs_})) {
        std::vector<uint8_t> copy = start;
        instance_->setChunk(copy.data(), static_cast<int32_t>(copy.size()), false);
    }
    TMUniClient& instance() { return *instance_; }
    std::vector<uint8_t> state() {
        void* data = nullptr;
        const int32_t bytes = instance_->getChunk(&data, false);
        const auto* p = static_cast<const uint8_t*>(data);
        return std::vector<uint8_t>(p, p + bytes);
    }

  private:
    static intptr_t callback(vst::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
        return opcode == vst::audioMasterVersion ? 2400 : 0;
    }
    platform::RecordingMessageService messages_;
    platform::ScriptedFileDialogs dialogs_;
    std::unique_ptr<TMUniClient> instance_;
};

TEST(Dll, TheFirstInstanceWritesTheSettingsAndTheInstallPathFollowsTheDll) {
    RegDeleteTreeW(HKEY_CURRENT_USER, platform::widen(kProductKey).c_str());
    TempDir dir;
    _wputenv_s(L"APPDATA", platform::widen(dir.file("AppData")).c_str());
    const std::string bundle = platform::utf8Path(kDll.parent_path()) + "\\";
    load();
    EXPECT_EQ(registryText("installpath"), bundle);
    EXPECT_EQ(registryText("presetpath0"), bundle + "Presets\\");
    EXPECT_EQ(registryText("audiofilepath"), bundle + "Samples\\Factory");
    const auto firstUse = registryValue(kProductKey, "firstuse");
    ASSERT_TRUE(firstUse);
    EXPECT_EQ(firstUse->type, DWORD(REG_DWORD));
    EXPECT_EQ(firstUse->number, 1u);

    // The same DLL alone in another folder: the install path is that folder, and with no
    // presets beside it the preset folder is the user's.
    const std::string lone = dir.file("Einzelstück");
    std::filesystem::create_directories(platform::fsPath(lone));
    std::filesystem::copy_file(kDll, platform::fsPath(lone + "\\Kestrafone.dll"));
    load(platform::fsPath(lone + "\\Kestrafone.dll"));
    EXPECT_EQ(registryText("installpath"), lone + "\\");
    EXPECT_EQ(registryText("presetpath0"), dir.file("AppData") + "\\Kestrafone\\Presets\\");
    load();
    EXPECT_EQ(registryText("installpath"), bundle);
}

TEST(Dll, IsTheSamePluginAsOnLinux) {
    auto plugin = load();
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->entryName(), "VSTPluginMain");
    const Descriptions d = describeBesideCommitted(*plugin, "plugin-facts.windows.txt");
    EXPECT_EQ(d.actual, d.committed);
}

// The editor as a Windows host shows it: in a child of the window the host hands over, of
// the size the plug-in announced, gone with effEditClose; a handle that is no window is refused.
TEST(Dll, OpensItsEditorInTheHostsWindow) {
    auto plugin = load();
    ASSERT_TRUE(plugin);
    ASSERT_NE(plugin->flags() & vst::effFlagsHasEditor, 0);
    vst::ERect* rect = nullptr;
    ASSERT_EQ(plugin->dispatch(vst::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 503);
    EXPECT_EQ(rect->bottom - rect->top, 404);

    HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(plugin->dispatch(vst::effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t{0xDEAD0000})), 0);
    ASSERT_EQ(plugin->dispatch(vst::effEditOpen, 0, 0, host), 1);
    plugin->dispatch(vst::effEditIdle);
    HWND child = GetWindow(host, GW_CHILD);
    ASSERT_NE(child, nullptr);
    RECT r{};
    GetClientRect(child, &r);
    EXPECT_EQ(r.right, 503);
    EXPECT_EQ(r.bottom, 404);
    plugin->dispatch(vst::effEditClose);
    EXPECT_EQ(GetWindow(host, GW_CHILD), nullptr);
    DestroyWindow(host);
}

TEST(Dll, StatesMoveBetweenLinuxAndWindowsByteForByte) {
    // Made here by the steps: another instance takes it back unchanged. (Written to the build
    // folder, to be committed as windows.kfn for the Linux tests whenever the state's form
    // changes.)
    auto maker = load();
    applyRecipe(*maker);
    const auto made = maker->getChunk();
    writeBytes("windows.kfn", made);
    auto taker = load();
    EXPECT_EQ(taker->setChunk(made), 1);
    EXPECT_EQ(taker->getChunk(), made);

    // Made on Linux by the same steps: loads, holds the steps' values and comes back unchanged.
    auto plugin = load();
    const auto fromLinux = readBytes(crossPlatformData() / "linux.kfn");
    ASSERT_FALSE(fromLinux.empty());
    EXPECT_EQ(plugin->setChunk(fromLinux), 1);
    EXPECT_EQ(plugin->getChunk(), fromLinux);
    for (int32_t i = 0; i < plugin->numParams(); ++i) EXPECT_EQ(plugin->parameter(i), recipeValue(i)) << i;
}

TEST(Dll, ADamagedStateIsRefusedAtOnceAndItsMessageOutlivesThePlugin) {
    auto plugin = load();
    const std::vector<uint8_t> damaged(64, 0x5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(plugin->setChunk(damaged), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "the host waited";
    const HWND box = waitForWindow(L"Kestrafone");
    ASSERT_TRUE(box);
    // The host closes the plug-in and unloads the DLL while the user still reads the box;
    // the box's thread ends inside the DLL's code after the OK.
    plugin.reset();
    press(box, IDOK);
    EXPECT_TRUE(windowCloses(box));
    Sleep(200);
    EXPECT_TRUE(load()) << "the DLL loads again";
}

TEST(Dll, MidiPlaysTheSynthesizerAtTheNotesPitch) {
    // The default preset: the synthesizer, played by MIDI, shaped by the voice on input A.
    auto plugin = load();
    const std::vector<float> voice = noise(kRate / 2);
    const std::vector<float> before = render(*plugin, voice);
    const host::MidiMessage noteOn{0, {0x90, 72, 100}};  // C5, 523.25 Hz
    plugin->processEvents({&noteOn, 1});
    const std::vector<float> played = render(*plugin, voice);
    const double pitch = 440.0 * std::pow(2.0, (72 - 69) / 12.0);
    EXPECT_GT(power(played, pitch), 100.0 * power(before, pitch)) << "nothing plays before the note";
    EXPECT_GT(power(played, pitch), 10.0 * power(played, pitch * 1.5)) << "not the note's pitch";
}

TEST(Dll, EveryInsertEffectChangesTheSoundAndStaysFinite) {
    auto plugin = load();
    Author author(plugin->getChunk());
    const host::MidiMessage chord[] = {{0, {0x90, 60, 100}}, {0, {0x90, 64, 100}}};
    std::vector<std::vector<float>> outputs;
    for (float choice : {0.0f, 0.2f, 0.4f, 0.6f, 0.8f}) {  // none, reverb, delay, phaser, lo-fi
        author.instance().setParameter(tag::effects_choice, choice);
        for (int32_t t : {tag::reverb_drywet, tag::delay_drywet, tag::lofi_distortion})
            author.instance().setParameter(t, 1.0f);
        auto effected = load();
        ASSERT_EQ(effected->setChunk(author.state()), 1);
        effected->processEvents(chord);
        outputs.push_back(render(*effected, noise(kRate)));
        for (float v : outputs.back()) ASSERT_TRUE(std::isfinite(v)) << choice;
    }
    for (std::size_t e = 1; e < outputs.size(); ++e) {
        double difference = 0.0, dry = 0.0;
        for (std::size_t i = 0; i < outputs[0].size(); ++i) {
            difference += std::pow(outputs[e][i] - outputs[0][i], 2);
            dry += std::pow(outputs[0][i], 2);
        }
        EXPECT_GT(difference, 0.01 * dry) << "effect " << e << " left the sound as it was";
    }
}

TEST(Dll, ASampleNamedBeyondTheAnsiCodePageLoadsFromAState) {
    TempDir dir;
    const std::string folder = dir.file("Proben-Ωü");
    std::filesystem::create_directories(platform::fsPath(folder));
    std::vector<int32_t> sine(kRate);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<int32_t>(16000 * std::sin(2.0 * std::numbers::pi * 440.0 * double(i) / kRate));
    const std::string sample = folder + "\\Stimme-ä.wav";
    writeBytes(platform::fsPath(sample), makeWav({}, sine));

    auto plugin = load();
    Author author(plugin->getChunk());
    ASSERT_TRUE(author.instance().loadSampleFile(sample));
    const auto state = author.state();
    EXPECT_EQ(plugin->setChunk(state), 1);
    // Only a sample that loaded is written back with its name and length.
    EXPECT_EQ(plugin->getChunk(), state);
    const std::string stored(state.begin(), state.end());
    EXPECT_NE(stored.find(sample), std::string::npos) << "the path is stored as UTF-8";
}

}  // namespace
}  // namespace kf::test
