// Shared helpers of the unit tests.
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <unistd.h>

#include "ifs/loader.h"
#include "core/arrays.h"

namespace {
std::uint64_t News = 0;
}

// Counts every allocation through operator new, so a test can show that a tick makes none.
void* operator new(std::size_t size) {
    ++News;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++News;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

std::uint64_t NewCount() { return News; }

void ResetAll() {
    ResetSaverState();
    ResetHost();
    SetAllocationLimit(DefaultAllocationLimit());
    FailAllocationsAfter(-1);
    SeedRandom(0);
}

std::string WriteTempFile(const std::string& text) {
    char path[] = "/tmp/lumivex-test-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "";
    close(fd);
    std::ofstream out(path, std::ios::binary);
    out << text;
    return path;
}

int LoadText(const std::string& text, RunMode mode) {
    State.Mode = mode;
    Host().useDefinitionFile = true;
    Host().definitionFile = WriteTempFile(text);
    const int result = LoadDefinitions();
    std::remove(Host().definitionFile.c_str());
    return result;
}

#include "saver/saver_main.h"

int StartSaver(const StartOptions& options) {
    HeadlessHost& host = Host();
    host.useDefinitionFile = true;
    host.definitionFile = WriteTempFile(options.ini);
    host.calendarSeconds = options.seed;
    PlatformHandle parent = nullptr;
    if (options.parent) {
        parent = reinterpret_cast<PlatformHandle>(std::intptr_t{77});
        host.parentWindows.push_back({parent, {0, 0, options.width, options.height}});
    } else {
        host.metrics = {0, 0, options.width, options.height + 1, options.width + 1, options.height + 1};
    }
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

std::string FixedPointFile(int pointCount, int fractals) {
    std::string text = std::to_string(pointCount) + "\n";
    for (int i = 0; i < fractals; ++i) {
        text += "1\n0 0 0 0 " + std::to_string(0.1 + 0.1 * i) + " 0.5 100\n0 0 1 1\n";
    }
    return text;
}
