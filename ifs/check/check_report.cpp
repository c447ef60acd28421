// lumivex-render --check, the report: each definition's verdict as text or as a line of JSON,
// and the lines that open and close the whole.
#include "ifs/check/check_report.h"

#include <cmath>
#include <cstdio>

std::string ReportText(const DefinitionReport& report, const CheckSettings& settings) {
    std::string text;
    const FileLine* header = report.lines.empty() ? nullptr : &report.lines.front();
    text += "IFS # " + std::to_string(report.number);
    if (report.number == 1) text += " (the status line also shows 0)";
    if (header != nullptr) text += ", line " + std::to_string(header->number);
    text += ": " + std::to_string(report.maps.size()) + (report.maps.size() == 1 ? " map\n" : " maps\n");

    std::string weights;
    for (const MapReport& map : report.maps) weights += std::to_string(map.map.weight) + " ";
    text += "  weights    " + weights + "(sum " + std::to_string(report.weightSum) + ")\n";
    for (std::size_t i = 0; i < report.maps.size(); ++i) {
        const MapReport& map = report.maps[i];
        char line[160];
        std::snprintf(line, sizeof line, "  map %-6zu stretch %.4f  area %.4f  draws %d of 101\n", i + 1, map.stretch,
                      map.area, map.draws);
        text += line;
    }
    text += "  average    stretch " + FormatNumber("%.4f", report.averageStretch) + " (weighted by the draws)\n";
    if (report.attractorFound)
        text += "  attractor  " + BoxLineText(report.attractor) + "\n";
    else
        text += "  attractor  none: the points run off\n";
    text += "  points     " + Percent(report.shares.inBox) + " in the box, " + Percent(report.shares.inImage) +
            " in the image (" + std::to_string(report.shares.points) + " points, " +
            std::to_string(settings.screenWidth) + "x" + std::to_string(settings.screenHeight) + ")\n";
    text += "  box        " + BoxLineText(report.box) + "\n";
    if (report.attractorFound) text += "  suggested  " + BoxLineText(report.suggested) + "\n";
    std::string suggestedWeights;
    for (const MapReport& map : report.maps) suggestedWeights += " " + std::to_string(map.suggestedWeight);
    text += "  by area    weights" + suggestedWeights + "\n";
    bool first = true;
    for (const FileLine& line : report.lines) {
        text += first ? "  lines      " : "             ";
        first = false;
        if (line.missing > 0)
            text += "(" + std::to_string(line.missing) + " " + UseName(line.use) + " line(s) missing at the end)\n";
        else
            text += std::to_string(line.number) + ": " + line.text + "\n";
    }
    for (const std::string& note : report.notes) text += "  note: " + note + "\n";
    for (const std::string& warning : report.warnings) text += "  warning: " + warning + "\n";
    return text;
}

namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string JsonBox(const PlaneBox& box) {
    return "[" + JsonNumber(box.xMin) + "," + JsonNumber(box.yMin) + "," + JsonNumber(box.xMax) + "," +
           JsonNumber(box.yMax) + "]";
}

template <typename T, typename F>
std::string JsonList(const std::vector<T>& items, F each) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i > 0 ? "," : "") + each(items[i]);
    return out + "]";
}

}  // namespace

std::string ReportJson(const DefinitionReport& report, const CheckSettings& settings) {
    std::string out = "{\"ifs\":" + std::to_string(report.number);
    out += ",\"line\":" + std::to_string(report.lines.empty() ? 0 : report.lines.front().number);
    out += ",\"maps\":" + JsonList(report.maps, [](const MapReport& m) {
        const IfsTransform& t = m.map;
        return "{\"abcdef\":[" + JsonNumber(t.a) + "," + JsonNumber(t.b) + "," + JsonNumber(t.c) + "," +
               JsonNumber(t.d) + "," + JsonNumber(t.e) + "," + JsonNumber(t.f) + "],\"weight\":" +
               std::to_string(t.weight) + ",\"stretch\":" + JsonNumber(m.stretch) + ",\"area\":" + JsonNumber(m.area) +
               ",\"draws\":" + std::to_string(m.draws) + ",\"suggested_weight\":" +
               std::to_string(m.suggestedWeight) + "}";
    });
    out += ",\"weight_sum\":" + std::to_string(report.weightSum);
    out += ",\"average_stretch\":" + JsonNumber(report.averageStretch);
    out += ",\"attractor\":" + (report.attractorFound ? JsonBox(report.attractor) : std::string("null"));
    out += ",\"points\":" + std::to_string(report.shares.points);
    out += ",\"in_box\":" + JsonNumber(report.shares.inBox);
    out += ",\"in_image\":" + JsonNumber(report.shares.inImage);
    out += ",\"screen\":[" + std::to_string(settings.screenWidth) + "," + std::to_string(settings.screenHeight) + "]";
    out += ",\"box\":" + JsonBox(report.box);
    out += ",\"suggested_box\":" + (report.attractorFound ? JsonBox(report.suggested) : std::string("null"));
    out += ",\"suggested_box_line\":" + (report.attractorFound ? JsonString(BoxLineText(report.suggested)) : std::string("null"));
    out += ",\"lines\":" + JsonList(report.lines, [](const FileLine& l) {
        return "{\"line\":" + std::to_string(l.number) + ",\"use\":\"" + UseName(l.use) + "\"" +
               (l.missing > 0 ? ",\"missing\":" + std::to_string(l.missing) : ",\"text\":" + JsonString(l.text)) + "}";
    });
    out += ",\"notes\":" + JsonList(report.notes, JsonString);
    out += ",\"warnings\":" + JsonList(report.warnings, JsonString);
    return out + "}";
}

std::string ReadingText(const FileReading& reading, std::size_t definitions, const CheckSettings& settings) {
    return reading.path + ": " + std::to_string(reading.pointCount) + " points" +
           (reading.showStatus ? " (status line on)" : "") + ", " + std::to_string(definitions) + " definition" +
           (definitions == 1 ? "" : "s") + ", checked for " + std::to_string(settings.screenWidth) + "x" +
           std::to_string(settings.screenHeight) + "\n\n";
}

std::string SummaryText(const std::vector<DefinitionReport>& reports, const std::vector<std::string>& fileWarnings) {
    const std::size_t warnings = WarningCount(reports, fileWarnings);
    std::string flagged;
    for (const DefinitionReport& report : reports) {
        if (!report.warnings.empty()) flagged += (flagged.empty() ? "" : ", ") + std::to_string(report.number);
    }
    std::string summary = std::to_string(reports.size()) + (reports.size() == 1 ? " definition, " : " definitions, ") +
                          std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
    if (!flagged.empty()) summary += " (IFS # " + flagged + ")";
    return summary + (warnings == 0 ? ": ready for the saver" : "");
}

std::string SummaryJson(const FileReading& reading, const std::vector<DefinitionReport>& reports,
                        const std::vector<std::string>& fileWarnings) {
    return "{\"summary\":" + JsonString(SummaryText(reports, fileWarnings)) + ",\"file\":" + JsonString(reading.path) +
           ",\"point_count\":" + std::to_string(reading.pointCount) + ",\"definitions\":" +
           std::to_string(reports.size()) + ",\"warnings\":" + std::to_string(WarningCount(reports, fileWarnings)) +
           ",\"file_warnings\":" + JsonList(fileWarnings, JsonString) + "}";
}
