// Parsing of lumivex-render's command line.
#include "tools/render/render_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/render/png_out.h"

const char* const RenderUsage =
    "usage: lumivex-render [--ini FILE] [--size WxH] [--preview] [--child] [--seed N] [--ticks N] "
    "[--dt MS] [--start MS] [--clock T1,T2,...] [--regulation HOST] [--dump FILE|-] [--png DIR] [--gif FILE] [--every K] [--help] [--version]\n"
    "       lumivex-render --check [--ini FILE] [--size WxH] [--json]\n"
    "       lumivex-render --fit [--weights] --ini FILE --out NEWFILE [--size WxH]\n"
    "       lumivex-render --import FILE.ifs [--out FILE.ini] [--points N] [--size WxH]\n"
    "       lumivex-render --export-ifs [--ini FILE] [--out FILE.ifs]";

const char* const RenderHelp =
    "lumivex-render runs the Lumivex screen saver without a window, on a simulated clock, and\n"
    "records what every tick drew: as JSON lines, as PNG pictures of the window, or as a GIF.\n"
    "\n"
    "  --ini FILE        the definition file; without it, lumivex.ini in the current directory,\n"
    "                    then the installed share/lumivex/lumivex.ini (beside this program in a\n"
    "                    build), as the saver looks in the system directory\n"
    "  --size WxH        the screen, or the preview window with --child: each side 1 to 16384\n"
    "                    (default 800x600)\n"
    "  --preview         run as a preview (/p): a tenth of the points, no status line\n"
    "  --child           the window has a parent, as a preview inside the display settings: the\n"
    "                    image is as tall as the window and its lowest 16 rows fall outside\n"
    "  --seed N          seed of the random source (default: the time in seconds)\n"
    "  --ticks N         number of timer ticks to run (default 600)\n"
    "  --dt MS           milliseconds between ticks (default 10)\n"
    "  --start MS        the tick count read at the first tick (default: the value of --dt)\n"
    "  --clock T1,T2,... the tick counts read at each tick, one per tick; replaces --ticks,\n"
    "                    --dt and --start\n"
    "  --regulation HOST how the point count comes back after slow ticks, as on HOST: windows\n"
    "                    (the default: on a tick that measured 0 ms), x11, wayland or web (after\n"
    "                    a run of fast ticks)\n"
    "  --dump FILE|-     one JSON line after start-up and one after each tick, to FILE or to\n"
    "                    standard output\n"
    "  --png DIR         each kept tick as DIR/frame-00001.png, frame-00002.png, ...: the whole\n"
    "                    window, status strip on top (DIR is made when missing)\n"
    "  --gif FILE        the kept ticks as one looping animated GIF, timed by the simulated clock\n"
    "                    (a frame lasts at least 2/100 s: shorter ones merge into the frame before)\n"
    "  --every K         keep every K-th tick (ticks K, 2K, 3K, ...) for --png and --gif\n"
    "                    (default 1: every tick)\n"
    "  --help            this text\n"
    "  --version         the version of this program\n"
    "\n"
    "Exit codes: 0 after the last tick; 1 when the saver itself stops with its message (no\n"
    "definition file, no definitions, not enough memory); 2 for a wrong option or an output\n"
    "that cannot be written, in which case no partial output is left behind.\n"
    "\n"
    "Checking a definition file:\n"
    "  --check           read the file as the saver does and report on every definition, numbered\n"
    "                    as the status line shows it: its maps (how much each shrinks, its area\n"
    "                    factor, its share of the draws), the attractor's bounding box, the share of\n"
    "                    points inside the box and the image, a suggested box for the screen of\n"
    "                    --size (default 1920x1080; the status strip left free) and weights by area,\n"
    "                    and the lines read as the definition, with a warning for anything amiss.\n"
    "                    Exit 0 without a warning, 1 with one, 2 when the file cannot be read\n"
    "  --json            with --check: one JSON object per definition per line, then a summary\n"
    "  --fit             write a copy of --ini to --out with every box line replaced by the\n"
    "                    suggested one, every other byte kept; it never writes elsewhere. Exit 0\n"
    "                    when every definition was fitted, 1 when some were left as they were\n"
    "                    (it says why), 2 when nothing could be written\n"
    "  --weights         with --fit: replace the weights by the suggested ones too\n"
    "  --out NEWFILE     the file --fit, --import or --export-ifs writes (written whole, then\n"
    "                    renamed into place)\n"
    "\n"
    "Bringing .ifs files in and out (the plain-text format of IFS collections: entries \"name {\",\n"
    "one map \"a b c d e f [p]\" a line, \"}\"; \";\" starts a comment):\n"
    "  --import FILE.ifs write its entries as a definition file, to --out or standard output: a\n"
    "                    point count, then each entry's name and comments as comment lines and\n"
    "                    its definition, weights in whole percents from the probabilities\n"
    "                    (largest remainder) or, without them, by area, the box as --fit suggests\n"
    "                    it for --size (default 1920x1080). Three-dimensional entries, lines of\n"
    "                    other than 6 or 7 numbers, numbers that do not read, entries without\n"
    "                    their closing brace, empty ones and ones of more than 100 maps are\n"
    "                    skipped, each reported with its file, line and entry. Exit 0 when every\n"
    "                    entry came in, 1 when some were skipped (with none left, nothing is\n"
    "                    written), 2 when the file cannot be read or the output not written\n"
    "  --points N        with --import: the point count line (default: the shipped file's)\n"
    "  --export-ifs      write the definitions of --ini (or of the file the saver finds) as .ifs\n"
    "                    entries, to --out or standard output, each named by the comment line\n"
    "                    above it (else lumivex-N), probabilities from the weights. Exit 0, 1\n"
    "                    with a warning (weights not summing to 100 come back scaled), 2 when the\n"
    "                    file cannot be read or the output not written";

namespace {

// A whole decimal number in [low, high], the whole text and nothing else.
bool ReadNumber(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high || text[0] == ' ') return false;
    *value = v;
    return true;
}

// Clock values are tick counts modulo 2^32: any 32-bit value, signed or unsigned.
bool ReadTick(const std::string& text, std::uint32_t* value) {
    long long v = 0;
    if (!ReadNumber(text, -2147483648LL, 4294967295LL, &v)) return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

// --check, --fit, --import and --export-ifs take only the options that concern them.
bool ValidateCheckOptions(RenderOptions* options, std::string* error) {
    if (options->help) return true;
    const bool import = !options->import.empty();
    if (int{options->check} + int{options->fit} + int{import} + int{options->exportIfs} > 1)
        return *error = "--check, --fit, --import and --export-ifs go one at a time", false;
    if (!options->check && options->json) return *error = "--json goes with --check", false;
    if (!options->fit && options->fitWeights) return *error = "--weights goes with --fit", false;
    if (!options->fit && !import && !options->exportIfs && !options->out.empty())
        return *error = "--out goes with --fit, --import or --export-ifs", false;
    if (!import && options->pointsGiven) return *error = "--points goes with --import", false;
    if (!options->check && !options->fit && !import && !options->exportIfs) return true;
    if (!options->dump.empty() || !options->png.empty() || !options->gif.empty() || options->preview ||
        options->child || !options->clock.empty() || options->regulationGiven)
        return *error = "--check, --fit, --import and --export-ifs take only --ini, --size, --json, --weights, "
                        "--out and --points", false;
    if (import && !options->ini.empty()) return *error = "--import reads its own file, not --ini", false;
    if (options->exportIfs && options->sizeGiven) return *error = "--export-ifs takes no --size", false;
    if (options->fit && (options->ini.empty() || options->out.empty()))
        return *error = "--fit needs --ini FILE and --out NEWFILE", false;
    if (!options->sizeGiven) options->width = CheckWidth, options->height = CheckHeight;
    return true;
}

bool KnownOption(const std::string& option) {
    if (option == "-h") return true;
    for (const char* name : RenderOptionNames) {
        if (option == name) return true;
    }
    return false;
}

}  // namespace

bool ParseRenderOptions(int argc, const char* const* argv, RenderOptions* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *error = option + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (!KnownOption(option)) {
            *error = "unknown option " + option;
            return false;
        }
        std::string text;
        long long number = 0;
        if (option == "--help" || option == "-h") {
            options->help = true;
        } else if (option == "--version") {
            options->version = true;
        } else if (option == "--preview") {
            options->preview = true;
        } else if (option == "--child") {
            options->child = true;
        } else if (option == "--check" || option == "--fit" || option == "--json" || option == "--weights") {
            bool* flag = option == "--check" ? &options->check : option == "--fit" ? &options->fit
                       : option == "--json"  ? &options->json  : &options->fitWeights;
            *flag = true;
        } else if (option == "--export-ifs") {
            options->exportIfs = true;
        } else if (option == "--import") {
            if (!value(&options->import)) return false;
            if (options->import.empty()) return *error = "--import needs a file name", false;
        } else if (option == "--points") {
            if (!value(&text) || !ReadNumber(text, -2147483647LL, 2147483647LL, &number)) {
                if (error->empty()) *error = "--points takes a 32-bit integer (negative: the status line on)";
                return false;
            }
            options->points = static_cast<std::int32_t>(number);
            options->pointsGiven = true;
        } else if (option == "--out") {
            if (!value(&options->out)) return false;
            if (options->out.empty()) return *error = "--out needs a file name", false;
        } else if (option == "--ini") {
            if (!value(&options->ini)) return false;
            if (options->ini.empty()) return *error = "--ini needs a file name", false;
        } else if (option == "--dump") {
            if (!value(&options->dump)) return false;
            if (options->dump.empty()) return *error = "--dump needs a file name or -", false;
        } else if (option == "--size") {
            if (!value(&text)) return false;
            const std::size_t x = text.find('x');
            long long w = 0, h = 0;
            if (x == std::string::npos || !ReadNumber(text.substr(0, x), 1, MaxRenderSide, &w) ||
                !ReadNumber(text.substr(x + 1), 1, MaxRenderSide, &h)) {
                *error = "--size takes WxH, each side from 1 to 16384";
                return false;
            }
            options->sizeGiven = true;
            options->width = static_cast<std::int32_t>(w);
            options->height = static_cast<std::int32_t>(h);
        } else if (option == "--seed") {
            if (!value(&text) || !ReadTick(text, &options->seed)) {
                if (error->empty()) *error = "--seed takes a 32-bit integer";
                return false;
            }
            options->seedGiven = true;
        } else if (option == "--ticks") {
            if (!value(&text) || !ReadNumber(text, 0, 100000000, &number)) {
                if (error->empty()) *error = "--ticks takes a number from 0 to 100000000";
                return false;
            }
            options->ticks = static_cast<std::uint32_t>(number);
        } else if (option == "--dt" || option == "--start") {
            std::uint32_t v = 0;
            if (!value(&text) || !ReadTick(text, &v)) {
                if (error->empty()) *error = option + " takes a 32-bit number of milliseconds";
                return false;
            }
            if (option == "--dt") options->dt = v;
            else options->start = v, options->startGiven = true;
        } else if (option == "--clock") {
            if (!value(&text)) return false;
            options->clock.clear();
            std::size_t from = 0;
            while (true) {
                const std::size_t comma = text.find(',', from);
                std::uint32_t v = 0;
                if (!ReadTick(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from), &v)) {
                    *error = "--clock takes a comma-separated list of 32-bit tick counts";
                    return false;
                }
                options->clock.push_back(v);
                if (comma == std::string::npos) break;
                from = comma + 1;
            }
        } else if (option == "--regulation") {
            if (!value(&text)) return false;
            if (text == "windows") options->regulation = PointRegulation::ZeroInterval;
            else if (text == "x11" || text == "wayland" || text == "web") options->regulation = PointRegulation::FastRun;
            else return *error = "--regulation takes windows, x11, wayland or web", false;
            options->regulationGiven = true;
        } else if (option == "--png" || option == "--gif") {
            if (!PicturesAvailable()) return *error = option + " is not available in this build", false;
            std::string* target = option == "--png" ? &options->png : &options->gif;
            if (!value(target)) return false;
            if (target->empty()) return *error = option + " needs a " + (option == "--png" ? "directory" : "file name"), false;
        } else if (option == "--every") {
            if (!value(&text) || !ReadNumber(text, 1, 100000000, &number)) {
                if (error->empty()) *error = "--every takes a number from 1 to 100000000";
                return false;
            }
            options->every = static_cast<std::uint32_t>(number);
        } else {
            *error = "unknown option " + option;
            return false;
        }
    }
    return ValidateCheckOptions(options, error);
}

std::uint32_t TickAt(const RenderOptions& options, std::uint32_t i) {
    if (!options.clock.empty()) return options.clock[i - 1];
    const std::uint32_t start = options.startGiven ? options.start : options.dt;
    return start + (i - 1) * options.dt;  // modulo 2^32
}

std::uint32_t TickTotal(const RenderOptions& options) {
    return options.clock.empty() ? options.ticks : static_cast<std::uint32_t>(options.clock.size());
}
