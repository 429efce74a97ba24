// kestrafone-render as a user runs it: arguments, exit codes, messages and rendered files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <tuple>

#include "host/sound_file.h"
#include "smf_builder.h"
#include "test_support.h"

namespace kf::host {
namespace {

using test::CommandResult;
using test::contains;
using test::shellQuote;

CommandResult runTool(const std::string& arguments) {
    return test::runCommand(shellQuote(KF_RENDER_PATH) + " " + arguments);
}

// A file of constant channels, so every output frame can be checked exactly.
std::string writeConstant(const test::TempDir& dir, const std::string& name, std::vector<float> levels,
                          int frames, int rate = 48000, SampleFormat format = SampleFormat::Float32) {
    SoundData data;
    data.sampleRate = rate;
    for (const float level : levels) data.channels.emplace_back(static_cast<std::size_t>(frames), level);
    std::string error;
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeSoundFile(path, data, Container::Wav, format, error)) << error;
    return path;
}

SoundData readBack(const std::string& path) {
    SoundData data;
    std::string error;
    EXPECT_TRUE(readSoundFile(path, data, error)) << error;
    return data;
}

const std::string kFake = shellQuote(FAKE_VSTMAIN_PATH);

// 96 ticks per quarter: notes at ticks 0 and 48, the tempo doubles at tick 96, a
// controller there and a note off at tick 192.
test::Bytes midiFixture() {
    test::TrackBuilder t;
    t.tempo(0, 500000)
        .event(0, {0x90, 60, 100})
        .event(48, {0x90, 64, 90})
        .tempo(48, 250000)
        .event(0, {0xB0, 1, 127})
        .event(96, {0x80, 60, 0})
        .end();
    return test::smfFile(0, 96, {t});
}

// Usage errors end with 1 and point to --help, file problems with 2, a plug-in that cannot be
// used or refuses the state with 3.
TEST(RenderTool, FailuresExitWithTheirCodesAndSayWhy) {
    test::TempDir dir;
    const std::string stereo = writeConstant(dir, "stereo.wav", {0.5f, 0.5f}, 100);
    const std::string at44 = writeConstant(dir, "at44.wav", {0.5f}, 100, 44100);
    const std::string at48 = writeConstant(dir, "at48.wav", {0.5f}, 100, 48000);
    const std::string at8 = writeConstant(dir, "at8.wav", {0.5f}, 100, 8000);
    std::filesystem::create_symlink(at48, dir.file("link.wav"));
    const std::string link = dir.file("link.wav"),
                      respelt = dir.path().string() + "/./../" + dir.path().filename().string() + "/at48.wav";
    const std::string out = "--output " + shellQuote(dir.file("out.wav")) + " ";
    test::Bytes truncated = midiFixture();
    truncated.erase(truncated.end() - 5, truncated.end());
    const std::string cut = dir.file("cut.mid"), wrong = dir.file("wrong.bin"), empty = dir.file("empty.bin");
    test::writeBytes(cut, truncated);
    test::writeBytes(wrong, test::Bytes(5, 1));  // the fake takes only its own 12-byte state
    test::writeBytes(empty, {});
    const std::string fake = " " + kFake, out48 = out + "--input " + shellQuote(at48);
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"", 1, "no plug-in given"},
        {"--info --block-size 0 " + kFake, 1, "--block-size must be a whole number from 1 to 8192, not '0'"},
        {"--info --block-size=9000 " + kFake, 1, "not '9000'"},
        {"--info --tempo nan " + kFake, 1, "--tempo must be"},
        {"--info --sample-rate 44100.5 " + kFake, 1, "--sample-rate must be a whole number"},
        {"--info --sample-rate 8000 " + kFake, 1,
         "--sample-rate must be a whole number of Hz from 11050 to 196000"},
        {"--info --output a.wav --output b.wav " + kFake, 1, "--output is given twice"},
        {"--info --state a --preset b " + kFake, 1, "--state and --preset are given together"},
        {"--input-a " + shellQuote(at48) + " --output " + shellQuote(at48) + fake, 1,
         "--output " + at48 + " is the same file as --input-a " + at48},
        {"--input " + shellQuote(link) + " --output " + shellQuote(respelt) + fake, 1,
         "is the same file as --input " + link},
        {out48 + " --save-preset " + shellQuote(link) + fake, 1,
         "--save-preset " + link + " is the same file as --input"},
        {out + "--length 1 --save-preset " + shellQuote(dir.file("out.wav")) + fake, 1,
         "--output and --save-preset name the same file"},
        {out + "--length 1x " + kFake, 1, "--length must be"},
        {"--info --format pcm16 " + kFake, 1, "--format must be float or pcm24"},
        {"--length 1 --output x.mp3 " + kFake, 1, "cannot tell the type of --output x.mp3"},
        {"--frobnicate " + kFake, 1, "unknown option --frobnicate"},
        {"--info --block-size", 1, "option --block-size needs a value"},
        {"--info " + kFake + " " + kFake, 1, "give exactly one plug-in"},
        {out + "--input a.wav --input-a b.wav " + kFake, 1, "--input cannot be combined"},
        {kFake, 1, "no --output file given"},
        {out + kFake, 1, "no input, no --midi and no --length: nothing to render"},
        {"--info --output x.wav " + kFake, 1, "--info cannot be combined with --output"},
        {"--info --set Level=0.5 " + kFake, 1,
         "the parameter name 'Level' is ambiguous; it names indices 1, 2; use the index instead (e.g. --set "
         "1=0.5)"},
        {"--info --set Loudness=0.5 " + kFake, 1, "no parameter named 'Loudness'"},
        {"--info --set Gain=1.5 " + kFake, 1, "normalised number from 0 to 1, not '1.5'"},
        {"--info --set Gain " + kFake, 1, "--set needs NAME=VALUE"},
        {"--info --set 3=0.5 " + kFake, 1, "index 3 is outside 0..2"},
        {out + "--input " + shellQuote(dir.file("none.wav")) + fake, 2,
         "cannot read audio file: cannot open " + dir.file("none.wav")},
        {out + "--input-a " + shellQuote(stereo) + fake, 2, "has 2 channels; --input-a takes a mono file"},
        {out + "--input-a " + shellQuote(at44) + " --input-b " + shellQuote(at48) + fake, 2,
         "resampling is not supported"},
        {out + "--input " + shellQuote(at44) + " --sample-rate 48000" + fake, 2,
         "the input is at 44100 Hz but --sample-rate is 48000 Hz"},
        {out + "--input-a " + shellQuote(at8) + fake, 2,
         "the input is at 8000 Hz; Kestrafone runs at 11050 to 196000 Hz and would play it off pitch"},
        {"--input " + shellQuote(at48) + " --output " + shellQuote(dir.file("no/such/dir/out.wav")) + fake, 2,
         "cannot write audio file"},
        {out + "--midi " + shellQuote(at48) + fake, 2,
         "invalid MIDI file " + at48 + ": not a Standard MIDI File"},
        {out + "--midi " + shellQuote(cut) + fake, 2, "the file is cut short"},
        {out48 + " --state " + shellQuote(empty) + fake, 2, "the state file " + empty + " is empty"},
        {out48 + " --state " + shellQuote(dir.file("none.bin")) + fake, 2,
         "cannot open " + dir.file("none.bin")},
        {out48 + " --state " + shellQuote(wrong) + fake, 3, "did not accept the state in " + wrong},
        {out48 + " " + shellQuote(FAKE_BADMAGIC_PATH), 3, "bad magic number"},
    };
    for (const auto& [args, code, message] : cases) {
        const CommandResult r = runTool(args);
        EXPECT_EQ(r.exitCode, code) << args << "\n" << r.output;
        EXPECT_TRUE(contains(r.output, message))
            << args << "\nexpected: " << message << "\ngot: " << r.output;
        EXPECT_EQ(contains(r.output, "Try 'kestrafone-render --help'."), code == 1) << args;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.wav"))) << "no output is left behind after a failure";
    EXPECT_EQ(readBack(at48).channels, std::vector<std::vector<float>>{std::vector<float>(100, 0.5f)})
        << "an input named as an output is left as it was";
}

// Folders, endless devices and FIFOs given for any file the tool reads end it at once.
TEST(RenderTool, OnlyRegularFilesAreRead) {
    test::TempDir dir;
    const std::string fifo = dir.file("pipe"), folder = dir.file("folder");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(folder);
    const std::string out = " --output " + shellQuote(dir.file("out.wav")) + " ";
    for (const char* option : {"--preset", "--midi", "--input", "--sample"})
        for (const std::string& path : {folder, std::string("/dev/zero"), fifo}) {
            // A tool that blocked on the pipe or streamed the device would be stopped by the
            // timeout (exit 124), not answer 2; no clock, so a busy machine cannot fail it.
            const CommandResult r =
                test::runCommand("timeout 30 " + shellQuote(KF_RENDER_PATH) + " " + option + " " +
                                 shellQuote(path) + out + "--length 1 " + kFake);
            EXPECT_EQ(r.exitCode, 2) << option << " " << path << "\n" << r.output;
            EXPECT_TRUE(contains(r.output, path)) << r.output;
        }
}

// Saved files (state and audio) replace only regular files, through links, and only once
// complete.
TEST(RenderTool, SavesReplaceOnlyRegularFiles) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const std::string fifo = dir.file("pipe.wav"), node = dir.file("null"), kept = dir.file("kept.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A device node of our own (the null device's numbers) needs root; a FIFO stands in.
    const bool device = ::mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    if (!device) {
        ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
    }
    fs::create_symlink(node, dir.file("device.wav"));
    fs::create_directory(dir.file("folder.wav"));
    for (const char* name : {"pipe.wav", "device.wav", "folder.wav"})
        for (const char* option : {"--save-preset", "--output"}) {
            const CommandResult r =
                runTool(std::string(option) + " " + shellQuote(dir.file(name)) + " --length 0.01 " + kFake);
            EXPECT_EQ(r.exitCode, 2) << option << " " << name << "\n" << r.output;
            EXPECT_TRUE(contains(r.output, "only a regular file is replaced")) << r.output;
        }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(device ? fs::is_character_file(node) : fs::is_fifo(node));
    EXPECT_TRUE(fs::is_symlink(dir.file("device.wav")));

    // Through a link, the file it names is written and the link stays.
    writeConstant(dir, "kept.wav", {0.5f}, 10);
    fs::create_symlink(kept, dir.file("link.wav"));
    test::writeBytes(dir.file("state.bin"), {});
    fs::create_symlink(dir.file("state.bin"), dir.file("state-link.bin"));
    const CommandResult r =
        runTool("--quiet --save-preset " + shellQuote(dir.file("state-link.bin")) +
                " --length 0.01 --output " + shellQuote(dir.file("link.wav")) + " " + kFake);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(fs::is_symlink(dir.file("link.wav")) && fs::is_symlink(dir.file("state-link.bin")));
    EXPECT_EQ(readBack(kept).frames(), 441);
    EXPECT_EQ(fs::file_size(dir.file("state.bin")), 12u);
    // A preset named without an extension gets the preset files' own.
    ASSERT_EQ(runTool("--save-preset " + shellQuote(dir.file("My Choir")) + " " + kFake).exitCode, 0);
    EXPECT_EQ(fs::file_size(dir.file("My Choir.kfn")), 12u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 9)
        << "no temporary file is left";
}

// The tool as a process of its own, as a shell starts it: default signal handling, output
// and errors into `log`, and a limit on the size of the files it writes when given.
pid_t startTool(const std::vector<std::string>& args, const std::string& log,
                rlim_t fileSizeLimit = RLIM_INFINITY) {
    std::vector<std::string> words = {KF_RENDER_PATH};
    words.insert(words.end(), args.begin(), args.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) std::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

struct Ended {
    int status = 0;
    long maxRssKiB = 0;
};

Ended waitForTool(pid_t pid) {
    Ended ended;
    rusage usage{};
    while (::wait4(pid, &ended.status, 0, &usage) < 0 && errno == EINTR) {
    }
    ended.maxRssKiB = usage.ru_maxrss;
    return ended;
}

std::string textOf(const std::string& path) {
    const test::Bytes bytes = test::readBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> entries(const test::TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Stopped by a signal or by a file-size limit, a render removes what it had written so far and
// leaves the existing output as it was; a signal ends it within a second, as that signal would.
TEST(RenderTool, AnInterruptedRenderLeavesNothingBehind) {
    test::TempDir dir;
    const std::string output = dir.file("out.wav"), log = dir.file("log.txt");
    const test::Bytes before = {'k', 'e', 'p', 't'};
    const std::vector<std::string> render = {"--quiet",  "--length", "3600",
                                             "--output", output,     FAKE_VSTMAIN_PATH};
    const auto partialFile = [&] {
        for (const std::string& name : entries(dir))
            if (name.ends_with(".tmp") && std::filesystem::file_size(dir.file(name)) > 0) return true;
        return false;
    };
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        test::writeBytes(output, before);
        const pid_t pid = startTool(render, log);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!partialFile() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(partialFile()) << "the render did not start writing";
        const auto sent = std::chrono::steady_clock::now();
        ::kill(pid, signal);
        const Ended ended = waitForTool(pid);
        // Generous, so a loaded machine cannot fail it; a tool that ignored the signal fails
        // the checks below (it would end normally, with the output replaced).
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(15));
        EXPECT_TRUE(WIFSIGNALED(ended.status) && WTERMSIG(ended.status) == signal) << ended.status;
        EXPECT_EQ(entries(dir), (std::vector<std::string>{"log.txt", "out.wav"}));
        EXPECT_EQ(test::readBytes(output), before);
        const std::string said = textOf(log);
        EXPECT_TRUE(contains(said, std::string("stopped by SIG") + sigabbrev_np(signal) +
                                       "; nothing was written to " + output))
            << said;
    }

    const Ended limited = waitForTool(startTool(render, log, 1 << 20));
    EXPECT_TRUE(WIFEXITED(limited.status) && WEXITSTATUS(limited.status) == 2) << limited.status;
    EXPECT_TRUE(contains(textOf(log), "File too large")) << textOf(log);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"log.txt", "out.wav"}));
    EXPECT_EQ(test::readBytes(output), before);
}

// An input is read as the render goes: rendering a long file takes no more memory than a
// short one.
TEST(RenderTool, MemoryDoesNotGrowWithTheInput) {
    test::TempDir dir;
    const std::string shortInput = writeConstant(dir, "short.wav", {0.5f, 0.25f}, 4800);
    const std::string longInput = writeConstant(dir, "long.wav", {0.5f, 0.25f}, 48000 * 120);  // 46 MB
    long peakKiB[2] = {};
    for (const int i : {0, 1}) {
        const std::string output = dir.file("out.wav");
        const Ended ended = waitForTool(startTool(
            {"--quiet", "--input", i == 0 ? shortInput : longInput, "--output", output, FAKE_VSTMAIN_PATH},
            dir.file("log.txt")));
        ASSERT_TRUE(WIFEXITED(ended.status) && WEXITSTATUS(ended.status) == 0) << textOf(dir.file("log.txt"));
        EXPECT_EQ(readBack(output).frames(), i == 0 ? 4800 : 48000 * 120);
        peakKiB[i] = ended.maxRssKiB;
    }
    EXPECT_LT(peakKiB[1] - peakKiB[0], 8 * 1024)
        << "peak memory: " << peakKiB[0] << " KiB for a short input, " << peakKiB[1]
        << " KiB for a 46 MB one";
}

TEST(RenderTool, OutputTypeFollowsTheExtension) {
    test::TempDir dir;
    const std::string input = writeConstant(dir, "in.wav", {0.5f, -0.25f}, 4800);
    const std::vector<std::tuple<std::string, std::string, int>> cases = {
        {"a.wav", "pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"a.AIFF", "float", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"a.aif", "pcm24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {"a.flac", "float", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"a.ogg", "pcm24", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    };
    for (const auto& [name, format, expected] : cases) {
        const std::string output = dir.file(name);
        const CommandResult r = runTool("--quiet --input " + shellQuote(input) + " --format " + format +
                                        " --output " + shellQuote(output) + " " + kFake);
        ASSERT_EQ(r.exitCode, 0) << name << "\n" << r.output;
        SF_INFO info{};
        SNDFILE* f = sf_open(output.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr) << name;
        sf_close(f);
        EXPECT_EQ(info.format, expected) << name;
        EXPECT_EQ(info.frames, 4800) << name;
        EXPECT_EQ(info.channels, 2) << name;
    }
}

TEST(RenderTool, AnInputCutShortRendersWhatItHolds) {
    test::TempDir dir;
    SoundData data;
    data.sampleRate = 48000;
    data.channels.assign(1, std::vector<float>(20000));
    for (std::size_t i = 0; i < 20000; ++i)
        data.channels[0][i] = static_cast<float>(i * 7919 % 1000) / 2000.0f;
    // An AIFF whose sound data chunk claims 500 frames more than it holds; a FLAC cut short.
    for (const auto& [name, container, cut] :
         {std::tuple{"cut.aif", Container::Aiff, 1500}, std::tuple{"cut.flac", Container::Flac, 2000}}) {
        const std::string input = dir.file(name), output = dir.file("out.wav");
        std::string error;
        ASSERT_TRUE(writeSoundFile(input, data, container, SampleFormat::Pcm24, error)) << error;
        std::filesystem::resize_file(input, std::filesystem::file_size(input) - static_cast<uintmax_t>(cut));
        const CommandResult r =
            runTool("--input " + shellQuote(input) + " --output " + shellQuote(output) + " " + kFake);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const int64_t frames = readBack(output).frames();
        EXPECT_TRUE(frames > 0 && frames < 20000) << frames;
        if (container == Container::Aiff) {
            EXPECT_EQ(frames, 19500);  // what the sound data chunk really holds
        }
        EXPECT_TRUE(contains(r.output, "warning: the audio file " + input + " ends early")) << r.output;
    }
}

#ifdef KF_PLUGIN_PATH
// With the real plug-in: a damaged settings file survives a run byte for byte, a sample it
// cannot load is an error, and a state whose sample is gone renders with a warning.
TEST(RenderTool, KestrafoneSettingsAndSamples) {
    test::TempDir dir;
    const std::string cfg = dir.file("cfg");
    std::filesystem::create_directory(cfg);
    const std::string settings = "# Kestrafone settings 1\r\ntext\tcontentpath\t" + dir.file("c") + "/\r\n";
    test::writeBytes(cfg + "/settings.conf", test::Bytes(settings.begin(), settings.end()));
    const std::string tool = "KESTRAFONE_SETTINGS_DIR=" + shellQuote(cfg) + " " + shellQuote(KF_RENDER_PATH);
    const std::string plugin = " " + shellQuote(KF_PLUGIN_PATH);
    CommandResult r = test::runCommand(tool + " --info" + plugin);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(test::readBytes(cfg + "/settings.conf"), test::Bytes(settings.begin(), settings.end()));
    EXPECT_TRUE(contains(r.output, "settings are not saved to " + cfg + "/settings.conf")) << r.output;

    const std::string notAudio = dir.file("notes.wav"), sample = dir.file("loop.wav"),
                      preset = dir.file("p.kfn");
    test::writeBytes(notAudio, {'h', 'e', 'l', 'l', 'o'});
    r = test::runCommand(tool + " --sample " + shellQuote(notAudio) + " --save-preset " + shellQuote(preset) +
                         plugin);
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_TRUE(contains(r.output, "could not load " + notAudio)) << r.output;
    EXPECT_FALSE(std::filesystem::exists(preset));

    writeConstant(dir, "loop.wav", {0.25f, 0.25f}, 100, 44100, SampleFormat::Pcm24);
    r = test::runCommand(tool + " --sample " + shellQuote(sample) + " --save-preset " + shellQuote(preset) +
                         plugin);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::filesystem::remove(sample);
    r = test::runCommand(tool + " --preset " + shellQuote(preset) + " --info" + plugin);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "warning: the state's sample file is not there (cannot open " + sample))
        << r.output;
}
#endif

// --info shows what the plug-in answers, after the state and then each --set are applied.
TEST(RenderTool, InfoShowsThePluginAfterStateAndSettings) {
    test::TempDir dir;
    const float values[3] = {0.25f, 0.5f, 0.75f};
    const std::string state = dir.file("state.bin");
    test::writeBytes(state, test::Bytes(reinterpret_cast<const uint8_t*>(values),
                                        reinterpret_cast<const uint8_t*>(values) + sizeof values));
    const CommandResult r = runTool("--info --state " + shellQuote(state) + " --set 2=0.125 " + kFake);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    for (const char* line :
         {"Vendor version: 42", "Unique ID:      'fkgn' (0x666b676e)", "Flags:          0x30",
          "receiveVstMidiEvent    yes", "bypass                 no", "offline                don't know",
          "     0  Gain                 0.500 x", "     1  Level                0.500 x",
          "     2  Level                0.125 x"})
        EXPECT_TRUE(contains(r.output, line)) << "missing: " << line << "\n" << r.output;
}

// Rendered frames, checked exactly: --set, block size, inputs padded with silence and
// extended or cut by --length, a mono --input feeding both plug-in inputs.
TEST(RenderTool, RendersInputsThroughThePlugin) {
    test::TempDir dir;
    const std::string stereo = shellQuote(writeConstant(dir, "in.wav", {0.5f, -0.25f}, 1000));
    const std::string a = shellQuote(writeConstant(dir, "a.wav", {0.5f}, 300));
    const std::string b = shellQuote(writeConstant(dir, "b.wav", {0.25f}, 200));
    const std::string mono = shellQuote(writeConstant(dir, "mono.wav", {0.75f}, 100));
    struct Case {
        std::string args;
        int64_t frames;
        float left;
        int64_t leftUntil;
        float right;
        int64_t rightUntil;
        std::string warning;  // what --quiet still says
    };
    for (const Case& c :
         {Case{"--block-size 100 --set Gain=0.25 --set 2=0.5 --input " + stereo, 1000, 0.25f, 1000, -0.0625f,
               1000, ""},
          Case{"--input-a " + a + " --input-b " + b + " --length 0.01", 480, 0.5f, 300, 0.25f, 200,
               "input B (" + dir.file("b.wav") + ", 0.004 s) is shorter than input A (" + dir.file("a.wav") +
                   ", 0.006 s); input B is silence for the last 0.002 s"},
          Case{"--input " + mono + " --length 0.001", 48, 0.75f, 48, 0.75f, 48, ""},
          Case{"--set Gain=0 --input " + mono, 100, 0.0f, 0, 0.0f, 0,
               "the output " + dir.file("out.wav") + " is silent (no sample above -90 dBFS)"}}) {
        const std::string output = dir.file("out.wav");
        const CommandResult r =
            runTool("--quiet " + c.args + " --output " + shellQuote(output) + " " + kFake);
        ASSERT_EQ(r.exitCode, 0) << c.args << "\n" << r.output;
        EXPECT_EQ(r.output, c.warning.empty() ? "" : "kestrafone-render: warning: " + c.warning + "\n");
        const SoundData out = readBack(output);
        EXPECT_EQ(out.sampleRate, 48000);
        ASSERT_EQ(out.channels.size(), 2u);
        ASSERT_EQ(out.frames(), c.frames) << c.args;
        for (int64_t i = 0; i < c.frames; ++i) {
            ASSERT_EQ(out.channels[0][static_cast<std::size_t>(i)], i < c.leftUntil ? c.left : 0.0f) << i;
            ASSERT_EQ(out.channels[1][static_cast<std::size_t>(i)], i < c.rightUntil ? c.right : 0.0f) << i;
        }
    }
}

// What the fake plug-in wrote to FAKE_EVENT_LOG: its "event" and "tempo" lines.
std::vector<std::string> readLines(const std::string& path, const std::string& kind) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(kind + " ")) lines.push_back(line);
    return lines;
}

TEST(RenderTool, MidiFileEventsReachThePluginAtTheirFrames) {
    test::TempDir dir;
    const std::string midi = dir.file("chords.mid");
    test::writeBytes(midi, midiFixture());
    const std::string eventLog = dir.file("events.txt");
    const std::string output = dir.file("out.wav");
    const std::vector<std::string> expected = {"event 0 90 3c 64", "event 11025 90 40 5a",
                                               "event 22050 b0 01 7f", "event 33075 80 3c 00"};
    for (const int blockSize : {1, 64, 512}) {
        SCOPED_TRACE(blockSize);
        const CommandResult r =
            test::runCommand("FAKE_EVENT_LOG=" + shellQuote(eventLog) + " " + shellQuote(KF_RENDER_PATH) +
                             " --block-size " + std::to_string(blockSize) + " --midi " + shellQuote(midi) +
                             " --output " + shellQuote(output) + " " + kFake);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(contains(r.output, "Sent 4 MIDI events from " + midi)) << r.output;
        EXPECT_EQ(readLines(eventLog, "event"), expected);
        // The host reports 120 BPM, then 240 BPM from the first block at or after 22050.
        const std::vector<std::string> tempos = readLines(eventLog, "tempo");
        ASSERT_EQ(tempos.size(), 2u);
        EXPECT_EQ(tempos[0], "tempo 0 120.000000 0.000000");
        const int64_t changeBlock = (22050 + blockSize - 1) / blockSize * blockSize;
        char line[80];
        std::snprintf(line, sizeof line, "tempo %lld 240.000000 %.6f", static_cast<long long>(changeBlock),
                      1.0 + static_cast<double>(changeBlock - 22050) * 4.0 / 44100.0);
        EXPECT_EQ(tempos[1], line);
        // No input: the last event plus a 2 s tail.
        EXPECT_EQ(readBack(output).frames(), 33075 + 1 + 88200);
    }

    // --tempo replaces the file's tempos, in timing and in what the host reports.
    CommandResult r = test::runCommand("FAKE_EVENT_LOG=" + shellQuote(eventLog) + " " +
                                       shellQuote(KF_RENDER_PATH) + " --quiet --tempo 60 --midi " +
                                       shellQuote(midi) + " --output " + shellQuote(output) + " " + kFake);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::vector<std::string> slow = {"event 0 90 3c 64", "event 22050 90 40 5a", "event 44100 b0 01 7f",
                                           "event 88200 80 3c 00"};
    EXPECT_EQ(readLines(eventLog, "event"), slow);
    EXPECT_EQ(readLines(eventLog, "tempo"), std::vector<std::string>{"tempo 0 60.000000 0.000000"});

    // The longest of input and MIDI file plus its 2 s tail sets the length, unless --length is given.
    const std::string longInput = shellQuote(writeConstant(dir, "long.wav", {0.5f}, 150000, 44100));
    const std::string shortInput = shellQuote(writeConstant(dir, "short.wav", {0.5f}, 1000, 44100));
    for (const auto& [args, frames] :
         {std::pair{"--input " + longInput, 150000}, std::pair{"--input " + shortInput, 33075 + 1 + 88200},
          std::pair{std::string("--length 0.6"), 26460}}) {
        r = runTool(args + " --midi " + shellQuote(midi) + " --output " + shellQuote(output) + " " + kFake);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(readBack(output).frames(), frames) << args;
    }
    EXPECT_TRUE(contains(r.output, "1 MIDI events after the end of the render were not sent")) << r.output;
}

}  // namespace
}  // namespace kf::host
