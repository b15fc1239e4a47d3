#include "audiofile/LabelFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace ZQ {

namespace {

// Decimals enough for half a frame at `rate` to stay far above the last
// digit's step, and never fewer than the six other editors write.
int decimalsFor(double rate) {
    const int needed = static_cast<int>(std::ceil(std::log10(std::max(rate, 1.0)))) + 3;
    return std::max(6, needed);
}

std::string seconds(std::uint64_t frame, double rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimalsFor(rate), double(frame) / rate);
    return text;
}

// A number of seconds, with either decimal mark (some editors write the
// locale's comma in the tab form), to the nearest frame.
bool frameOf(std::string_view field, double rate, std::uint64_t* frame) {
    while (!field.empty() && (field.front() == ' ' || field.front() == '"'))
        field.remove_prefix(1);
    while (!field.empty() && (field.back() == ' ' || field.back() == '"'))
        field.remove_suffix(1);
    std::string s(field);
    for (char& c : s)
        if (c == ',') c = '.';
    double value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(value) || value < 0 || s.empty())
        return false;
    const double f = std::round(value * rate);
    if (f >= 1.8e19) return false;
    *frame = static_cast<std::uint64_t>(f);
    return true;
}

// The fields of one CSV line: commas outside quotes split, "" is a quote.
std::vector<std::string> csvFields(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string csvQuoted(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos && (text.empty() || text.front() != ' ')) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

} // namespace

LabelFormat labelFormatFor(std::string_view path) {
    if (path.size() < 4) return LabelFormat::Tabs;
    std::string tail(path.substr(path.size() - 4));
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".csv" ? LabelFormat::Csv : LabelFormat::Tabs;
}

std::string labelText(const MarkerList& markers, double rate, LabelFormat format) {
    std::string out;
    if (format == LabelFormat::Csv) out = "start,end,label\n";
    for (const Marker& m : markers.items()) {
        const std::string start = seconds(m.frame, rate), end = seconds(m.end(), rate);
        if (format == LabelFormat::Csv) {
            // A name with a line break stays one field; CSV quotes it.
            out += start + ',' + end + ',' + csvQuoted(m.name) + '\n';
        } else {
            // The tab form has no quoting: a tab or line break in a name
            // becomes a space.
            std::string name = m.name;
            for (char& c : name)
                if (c == '\t' || c == '\n' || c == '\r') c = ' ';
            out += start + '\t' + end + '\t' + name + '\n';
        }
    }
    return out;
}

bool parseLabels(std::string_view text, double rate, LabelFormat format, MarkerList* out, std::string* reason) {
    if (!(rate > 0)) {
        if (reason) *reason = "The document has no sample rate.";
        return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3); // a byte-order mark
    std::vector<Marker> items;
    std::size_t lineNumber = 0;
    bool first = true;
    while (!text.empty()) {
        ++lineNumber;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A CSV field may hold a line break inside quotes: the line goes on.
        std::string joined;
        if (format == LabelFormat::Csv) {
            joined = std::string(line);
            while (std::count(joined.begin(), joined.end(), '"') % 2 != 0 && !text.empty()) {
                end = text.find('\n');
                joined += '\n';
                joined += text.substr(0, end);
                text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
                ++lineNumber;
            }
            line = joined;
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        std::vector<std::string> fields;
        if (format == LabelFormat::Csv) {
            fields = csvFields(line);
        } else {
            if (line.front() == '\\') continue; // a label's frequency range
            // Start, end, and the rest of the line as the label.
            std::string_view rest = line;
            for (int k = 0; k < 2 && !rest.empty(); ++k) {
                const std::size_t tab = rest.find('\t');
                fields.emplace_back(rest.substr(0, tab));
                rest = tab == std::string_view::npos ? std::string_view() : rest.substr(tab + 1);
            }
            fields.emplace_back(rest);
        }
        std::uint64_t a = 0, b = 0;
        const bool numbers = fields.size() >= 2 && frameOf(fields[0], rate, &a) && frameOf(fields[1], rate, &b);
        if (!numbers) {
            if (format == LabelFormat::Csv && first) { // the header
                first = false;
                continue;
            }
            if (reason)
                *reason = "Line " + std::to_string(lineNumber) +
                          " is not a label: it needs a start and an end in seconds, then the label.";
            return false;
        }
        first = false;
        if (b < a) b = a;
        items.push_back({a, b - a, fields.size() >= 3 ? fields[2] : std::string()});
    }
    *out = MarkerList(std::move(items));
    return true;
}

bool readLabelFile(const std::string& path, double rate, MarkerList* out, std::string* reason) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (reason) *reason = "The file \u201c" + path + "\u201d could not be read: " + std::strerror(errno) + ".";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseLabels(text.str(), rate, labelFormatFor(path), out, reason);
}

bool writeLabelFile(const std::string& path, const MarkerList& markers, double rate, std::string* reason) {
    const std::string text = labelText(markers, rate, labelFormatFor(path));
    const std::string temporary = path + ".zq-" + std::to_string(::getpid()) + ".tmp";
    auto fail = [&](int error) {
        std::remove(temporary.c_str());
        if (reason) *reason = "The file \u201c" + path + "\u201d could not be written: " + std::strerror(error) + ".";
        return false;
    };
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return fail(errno);
    const bool wrote = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int error = errno;
    if (std::fclose(f) != 0 || !wrote) return fail(wrote ? errno : error);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
    return true;
}

} // namespace ZQ
