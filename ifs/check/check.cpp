// --check, the driver: reads the file as the saver does, judges it, writes the report.
#include "ifs/check/check.h"

#include "core/saver_state.h"
#include "ifs/check/check_report.h"

bool ScreenFits(const CheckSettings& settings, std::FILE* err) {
    if (settings.screenHeight > StatusStripHeight && settings.screenWidth > 0) return true;
    std::fprintf(err, "lumivex-render: --check and --fit need a screen taller than the %d-row status strip\n",
                 StatusStripHeight);
    return false;
}

int RunCheck(const std::string& path, const CheckSettings& given, bool json, std::FILE* out, std::FILE* err) {
    if (!ScreenFits(given, err)) return 2;
    FileReading reading;
    if (!ReadForCheck(path, &reading, err)) return 2;
    CheckSettings settings = given;
    settings.pointCount = reading.pointCount;
    std::vector<std::string> fileWarnings;
    const std::vector<DefinitionReport> reports = CheckReading(reading, settings, &fileWarnings);

    if (!json) std::fputs(ReadingText(reading, reports.size(), settings).c_str(), out);
    for (const DefinitionReport& report : reports) {
        if (json) std::fprintf(out, "%s\n", ReportJson(report, settings).c_str());
        else std::fprintf(out, "%s\n", ReportText(report, settings).c_str());
    }
    if (json) {
        std::fprintf(out, "%s\n", SummaryJson(reading, reports, fileWarnings).c_str());
    } else {
        for (const std::string& warning : fileWarnings) std::fprintf(out, "warning: %s\n", warning.c_str());
        std::fprintf(out, "%s\n", SummaryText(reports, fileWarnings).c_str());
    }
    if (std::fflush(out) != 0) return 2;
    return WarningCount(reports, fileWarnings) == 0 ? 0 : 1;
}
