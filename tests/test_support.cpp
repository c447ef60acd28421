// The shared helpers of the unit tests.
#include "test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/arrays.h"
#include "ifs/loader.h"
#include "saver/saver_run.h"
#include "saver/win32_saver.h"

namespace {
std::atomic<std::uint64_t> Blocks{0};
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer owns malloc: it reports each block to a hook instead.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
namespace {
void CountBlock(const volatile void*, std::size_t) { Blocks.fetch_add(1, std::memory_order_relaxed); }
void IgnoreFree(const volatile void*) {}
const int HooksInstalled = __sanitizer_install_malloc_and_free_hooks(CountBlock, IgnoreFree);
}  // namespace
#elif defined(__GLIBC__)
// Every block of this program is counted on its way to the C library's allocator.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void __libc_free(void*);
extern "C" void* malloc(std::size_t n) {
    Blocks.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
    Blocks.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, std::size_t n) {
    Blocks.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
extern "C" void free(void* p) { __libc_free(p); }
#endif

std::uint64_t AllocationsSoFar() { return Blocks.load(std::memory_order_relaxed); }

void ResetAll() {
    ResetSaverState();
    ResetHost();
    ForgetStartPlan();
    SetAllocationLimit(DefaultAllocationLimit());
    SetMemoryBound(0);
    FailAllocationsAfter(-1);
    SeedRandom(0);
}

std::string WriteTempFile(const std::string& text) {
    char path[] = "/tmp/lumivex-test-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "";
    close(fd);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string SourcePath(const std::string& relative) { return std::string(LUMIVEX_SOURCE_DIR) + "/" + relative; }

int LoadText(const std::string& text, RunMode mode) {
    State.Mode = mode;
    Host().useDefinitionFile = true;
    Host().definitionFile = WriteTempFile(text);
    const int result = LoadDefinitions();
    std::remove(Host().definitionFile.c_str());
    return result;
}

const IfsTransform FernMaps[4] = {
    {0, 0, 0, 0.16, 0, 0, 1},
    {0.85, 0.04, -0.04, 0.85, 0, 1.6, 85},
    {0.2, -0.26, 0.23, 0.22, 0, 1.6, 7},
    {-0.15, 0.28, 0.26, 0.24, 0, 0.44, 7},
};

std::string FernDefinition() {
    std::string text = "4\n";
    for (const IfsTransform& t : FernMaps) {
        char line[128];
        std::snprintf(line, sizeof line, "%g %g %g %g %g %g %d\n", t.a, t.b, t.c, t.d, t.e, t.f, t.weight);
        text += line;
    }
    return text + "-2.7 -0.2 2.8 10.2\n";
}

std::string TriangleDefinition(const std::string& box) {
    return "3\n0.5 0 0 0.5 0 0 33\n0.5 0 0 0.5 0.5 0 33\n0.5 0 0 0.5 0.25 0.5 34\n" + box + "\n";
}

std::string FixedPointFile(int pointCount, int fractals) {
    std::string text = std::to_string(pointCount) + "\n";
    for (int i = 0; i < fractals; ++i) {
        text += "1\n0 0 0 0 " + std::to_string(0.1 + 0.1 * i) + " 0.5 100\n0 0 1 1\n";
    }
    return text;
}

std::int32_t EdgyCoordinate(std::mt19937& random, std::int32_t size) {
    static const std::int32_t edges[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX, INT32_MAX - 1, 1 << 30};
    switch (random() % 4) {
        case 0: return edges[random() % 8];
        case 1: return static_cast<std::int32_t>(random());
        case 2: return size + static_cast<std::int32_t>(random() % 5) - 2;
        default: return static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(size + 1));
    }
}

int StartSaver(const StartOptions& options) {
    HeadlessHost& host = Host();
    host.useDefinitionFile = true;
    host.definitionFile = WriteTempFile(options.ini);
    host.calendarSeconds = options.seed;
    const PlatformHandle parent = host.UseScreen(options.width, options.height, options.parent);
    State.Mode = options.mode;
    const int code = RunSaver(reinterpret_cast<PlatformHandle>(std::intptr_t{1}), parent);
    std::remove(host.definitionFile.c_str());
    return code;
}

void TickAt(std::uint32_t now) {
    Host().now = now;
    HandleSaverMessage(State.Window, SaverMessage::Timer);
}

std::string ImageBytes() {
    std::string bytes;
    for (std::int32_t row = 0; row < State.ImageHeight; ++row) {
        bytes.append(reinterpret_cast<const char*>(State.VScreen) + static_cast<std::size_t>(row) * State.VScreenStride,
                     static_cast<std::size_t>(State.ScreenWidth));
    }
    return bytes;
}

std::string Quote(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

RenderRun RenderArgs(const std::vector<std::string>& arguments, const RenderLaunch& launch) {
    const std::string outPath = launch.outTo.empty() ? WriteTempFile("") : launch.outTo;
    const std::string errPath = WriteTempFile("");
    std::vector<std::string> words = {LUMIVEX_RENDER};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    RenderRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | (launch.outTo.empty() ? O_TRUNC : 0));
        const int err = open(errPath.c_str(), O_WRONLY | O_TRUNC);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
        if (launch.fileSizeLimit >= 0) {
            // A write past the limit fails as on a full disk instead of ending the program.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(launch.fileSizeLimit), static_cast<rlim_t>(launch.fileSizeLimit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
        }
        if (launch.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(127);
        execv(LUMIVEX_RENDER, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.maxRssKb = usage.ru_maxrss;
    }
    if (launch.outTo.empty()) {
        run.out = ReadFileText(outPath);
        std::remove(outPath.c_str());
    }
    run.err = ReadFileText(errPath);
    std::remove(errPath.c_str());
    return run;
}

int StartRender(const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {LUMIVEX_RENDER};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) _exit(127);
        execv(LUMIVEX_RENDER, argv.data());
        _exit(127);
    }
    return static_cast<int>(pid);
}

int EndRender(int pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

RenderRun Render(const std::string& arguments, const RenderLaunch& launch) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false, escaped = false;
    for (const char c : arguments) {
        if (escaped) {
            word += c;
            escaped = false;
        } else if (quoted) {
            if (c == '\'') quoted = false;
            else word += c;
        } else if (c == '\'' || c == '\\') {
            (c == '\'' ? quoted : escaped) = true;
            inWord = true;
        } else if (c == ' ') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return RenderArgs(words, launch);
}

std::vector<DumpLine> ParseDump(const std::string& text) {
    std::vector<DumpLine> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        DumpLine fields;
        // A flat object: "key":value pairs, the values numbers, null or strings with \" and \\.
        for (std::size_t at = line.find('"'); at != std::string::npos; at = line.find('"', at)) {
            const std::size_t keyEnd = line.find('"', at + 1);
            if (keyEnd == std::string::npos || keyEnd + 2 >= line.size()) break;
            std::string& value = fields[line.substr(at + 1, keyEnd - at - 1)];
            std::size_t from = keyEnd + 2;  // past the colon
            if (line[from] == '"') {
                for (++from; from < line.size() && line[from] != '"'; ++from) {
                    if (line[from] == '\\') ++from;
                    value += line[from];
                }
                at = from + 1;
            } else {
                at = line.find_first_of(",}", from);
                value = line.substr(from, at - from);
            }
        }
        lines.push_back(fields);
    }
    return lines;
}

long long Number(const DumpLine& line, const std::string& key) {
    const auto it = line.find(key);
    return it == line.end() ? -999999 : std::stoll(it->second);
}

Parsed Parse(std::vector<const char*> args, const char* screensaverWindow) {
    args.insert(args.begin(), "lumivex");
    Parsed p{false, {}, {}};
    p.ok = ParseLinuxOptions(static_cast<int>(args.size()), args.data(), screensaverWindow, &p.options, &p.error);
    return p;
}

int RunLinux(LinuxOptions options, const std::string& ini, std::function<bool(std::uint32_t)> onTick,
             LinuxEnvironment env) {
    const std::string path = WriteTempFile(ini);
    options.ini = path;
    HeadlessHost& host = Host();
    host.nextTick = [](std::uint32_t* now) {
        *now += 10;
        return true;
    };
    host.afterTick = [&](std::uint32_t tick) {
        if (!onTick || !onTick(tick)) host.quitPosted = true;
    };
    const int code = RunLinuxSaver(options, env);
    std::remove(path.c_str());
    return code;
}
