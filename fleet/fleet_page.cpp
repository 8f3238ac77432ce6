#include "fleet/fleet_page.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// Light colours, one sheet inside the page: nothing is fetched when it is opened.
constexpr const char kStyle[] =
    "body{font:14px/1.45 system-ui,sans-serif;color:#1f2933;background:#f7f9fb;margin:24px}"
    "h1{font-size:20px;margin:0 0 2px}h2{font-size:16px;margin:24px 0 8px}"
    ".meta{color:#52606d;margin:0 0 14px}"
    ".banner{padding:12px 16px;border-radius:6px;font-size:17px;font-weight:600;margin:0 0 12px}"
    ".ok{background:#e3f9e5;color:#1f6f3b;border:1px solid #a3e4b0}"
    ".bad{background:#fde8e8;color:#9b1c1c;border:1px solid #f5b5b5}"
    ".warn{background:#fff6dc;color:#8a5a00;border:1px solid #f3d48a}"
    ".counts{margin:0 0 14px}.counts span{display:inline-block;background:#fff;"
    "border:1px solid #d9e2ec;border-radius:6px;padding:4px 12px;margin:0 8px 6px 0;color:#52606d}"
    ".counts b{display:block;font-size:18px;color:#1f2933}"
    "table{border-collapse:collapse;background:#fff;width:100%;border:1px solid #d9e2ec}"
    "th,td{padding:6px 10px;text-align:left;border-bottom:1px solid #e4e7eb;vertical-align:top}"
    "th{background:#eef2f6;font-weight:600}td.num{text-align:right;"
    "font-variant-numeric:tabular-nums}tr.failed td{background:#fff7f7}"
    ".host{color:#7b8794;font-size:12px}.none{color:#9aa5b1}"
    ".badge{display:inline-block;padding:0 8px;border-radius:9px;font-size:12px;font-weight:600;"
    "margin-right:4px}.b-failed{background:#fbd5d5;color:#9b1c1c}"
    ".b-stored{background:#dceefb;color:#0b4f8a}.b-unchanged{background:#e4e7eb;color:#3e4c59}"
    ".b-stale{background:#fde9b6;color:#8a5a00}.stale{color:#8a5a00;font-weight:600}"
    "a{color:#0b6bcb}details{background:#fff;border:1px solid #d9e2ec;border-radius:6px;"
    "margin:0 0 10px}summary{padding:8px 12px;cursor:pointer;font-weight:600}"
    "pre{margin:0;padding:6px 0;overflow-x:auto;border-top:1px solid #e4e7eb;"
    "font:12px/1.4 ui-monospace,monospace}pre span{display:block;padding:0 12px}"
    ".add{background:#e6ffec;color:#116329}.del{background:#ffebe9;color:#82071e}"
    ".hunk{background:#f1f8ff;color:#57606a}.file{color:#57606a;font-weight:600}"
    ".plus{color:#116329}.minus{color:#82071e}";

// Failed devices first (an operator looks for them), then stale ones, changed, unchanged.
int Rank(const FleetDeviceResult& result) {
    if (result.status == FleetDeviceStatus::Failed) return 0;
    if (result.stale) return 1;
    return result.status == FleetDeviceStatus::Stored ? 2 : 3;
}

std::string Plural(int count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

struct Headline {
    std::string text;
    const char* tone;
};

Headline Judge(const FleetPageRun& run, const FleetTally& tally) {
    if (run.interrupted)
        return {"Interrupted after " + std::to_string(tally.Done()) + " of " +
                    Plural(tally.devices, "device") +
                    (tally.failed > 0 ? ", " + std::to_string(tally.failed) + " failed" : ""),
                "warn"};
    if (tally.failed > 0)
        return {std::to_string(tally.failed) + " of " + Plural(tally.devices, "device") + " failed",
                "bad"};
    if (tally.stale > 0)
        return {"All " + Plural(tally.devices, "device") + " backed up, " +
                    std::to_string(tally.stale) + " stale",
                "warn"};
    return {tally.devices == 1 ? std::string("The device was backed up")
                               : "All " + Plural(tally.devices, "device") + " backed up",
            "ok"};
}

std::string Count(int value, const char* label) {
    return "<span><b>" + std::to_string(value) + "</b>" + label + "</span>";
}

bool IsNewFile(const FleetDeviceResult& result) {
    return result.diff.empty() && result.linesRemoved == 0 && result.linesAdded > 0;
}

std::string LineCounts(const FleetDeviceResult& result) {
    return "<span class=\"plus\">+" + std::to_string(result.linesAdded) +
           "</span> <span class=\"minus\">\xE2\x88\x92" + std::to_string(result.linesRemoved) +
           "</span>";
}

std::string StatusBadge(FleetDeviceStatus status) {
    const std::string word = FleetStatusWord(status);
    return "<span class=\"badge b-" + word + "\">" + word + "</span>";
}

std::string DeviceCell(const FleetDeviceResult& result) {
    std::string cell = HtmlEscaped(result.device.name);
    if (result.device.host != result.device.name)
        cell += "<br><span class=\"host\">" + HtmlEscaped(result.device.host) + "</span>";
    return cell;
}

// `diffId`: the anchor of the device's diff below, 0 when it has none.
std::string Row(const FleetPageRun& run, const FleetDeviceResult& result, int diffId) {
    const bool failed = result.status == FleetDeviceStatus::Failed;
    std::string row = failed ? "<tr class=\"failed\">" : "<tr>";
    row += "<td>" + DeviceCell(result) + "</td><td>" + StatusBadge(result.status);
    if (result.stale) row += "<span class=\"badge b-stale\">stale</span>";
    row += "</td>";
    if (result.lastGoodTime == 0) {
        row += "<td class=\"none\">never</td><td></td>";
    } else {
        row += "<td>" + UtcTimeText(result.lastGoodTime) + "</td><td" +
               (result.stale ? " class=\"stale\"" : "") + ">" +
               AgeText(run.madeAt - result.lastGoodTime) + "</td>";
    }
    row += "<td class=\"num\">" + (failed ? std::string() : std::to_string(result.bytes)) + "</td>";
    if (failed)
        row += "<td></td>";
    else if (result.status == FleetDeviceStatus::Unchanged)
        row += "<td class=\"none\">no</td>";
    else if (diffId > 0)
        row += "<td><a href=\"#diff-" + std::to_string(diffId) + "\">" + LineCounts(result) +
               "</a></td>";
    else if (IsNewFile(result))
        row += "<td>new file, " + Plural(static_cast<int>(result.linesAdded), "line") + "</td>";
    else
        row += "<td>yes</td>";
    row += "<td>";
    if (failed)
        row += HtmlEscaped(result.cause) + " <span class=\"none\">(exit code " +
               std::to_string(result.exitCode) + ")</span>";
    return row + "</td></tr>\n";
}

const char* DiffLineClass(std::string_view line) {
    if (line.starts_with("+++") || line.starts_with("---")) return "file";
    if (line.starts_with("@@")) return "hunk";
    if (line.starts_with("+")) return "add";
    if (line.starts_with("-")) return "del";
    return nullptr;
}

// A unified diff, a block per line (CR LF or LF line ends).
std::string DiffBlock(std::string_view diff) {
    std::string pre = "<pre>";
    while (!diff.empty()) {
        const std::size_t end = diff.find('\n');
        std::string_view line = diff.substr(0, end);
        diff = end == std::string_view::npos ? std::string_view() : diff.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        const char* kind = DiffLineClass(line);
        pre += kind ? "<span class=\"" + std::string(kind) + "\">" : std::string("<span>");
        pre += line.empty() ? std::string(" ") : HtmlEscaped(line);
        pre += "</span>";
    }
    return pre + "</pre>";
}

}  // namespace

std::string HtmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if ((byte < 0x20 && c != '\t' && c != '\n') || byte == 0x7f) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string UtcTimeText(std::int64_t secondsSince1970) {
    using namespace std::chrono;
    const sys_seconds when{seconds{secondsSince1970}};
    const sys_days day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{when - day};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d UTC", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()));
    return text;
}

std::string AgeText(std::int64_t seconds) {
    if (seconds < 60) return "under a minute";
    const std::int64_t minutes = seconds / 60, hours = minutes / 60, days = hours / 24;
    if (hours == 0) return std::to_string(minutes) + " min";
    if (days == 0)
        return std::to_string(hours) + " h" +
               (minutes % 60 ? " " + std::to_string(minutes % 60) + " min" : "");
    return std::to_string(days) + " d" +
           (hours % 24 ? " " + std::to_string(hours % 24) + " h" : "");
}

std::string FleetPage(const FleetPageRun& run, const FleetTally& tally,
                      std::span<const FleetDeviceResult> results) {
    std::vector<const FleetDeviceResult*> rows;
    for (const FleetDeviceResult& result : results) rows.push_back(&result);
    std::stable_sort(rows.begin(), rows.end(), [](const auto* a, const auto* b) {
        const int rankA = Rank(*a), rankB = Rank(*b);
        return rankA != rankB ? rankA < rankB : a->device.line < b->device.line;
    });

    const Headline headline = Judge(run, tally);
    const std::string when = UtcTimeText(run.madeAt);
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width\">"
        "<title>Fleet backup " +
        when + ": " + HtmlEscaped(headline.text) +
        "</title>"
        "<style>" +
        kStyle +
        "</style></head>\n<body>\n"
        "<h1>Fleet backup</h1><p class=\"meta\">" +
        HtmlEscaped(run.store) + " \xC2\xB7 " + when + " \xC2\xB7 took " + Seconds(tally.seconds) +
        " s</p>\n"
        "<div class=\"banner " +
        headline.tone + "\">" + HtmlEscaped(headline.text) +
        "</div>\n"
        "<div class=\"counts\">" +
        Count(tally.devices, "devices") + Count(tally.stored, "stored") +
        Count(tally.unchanged, "unchanged") + Count(tally.failed, "failed") +
        Count(tally.stale, "stale") +
        "</div>\n"
        "<table><thead><tr><th>Device</th><th>Result</th><th>Last good backup</th><th>Age</th>"
        "<th>Bytes</th><th>Changed</th><th>Cause of the failure</th></tr></thead><tbody>\n";

    std::string diffs;
    int diffId = 0;
    for (const FleetDeviceResult* result : rows) {
        const bool hasDiff = result->status == FleetDeviceStatus::Stored && !result->diff.empty();
        page += Row(run, *result, hasDiff ? ++diffId : 0);
        if (!hasDiff) continue;
        diffs += "<details open id=\"diff-" + std::to_string(diffId) + "\"><summary>" +
                 HtmlEscaped(result->device.name) + " " + LineCounts(*result) + "</summary>" +
                 DiffBlock(result->diff) + "</details>\n";
    }
    page += "</tbody></table>\n";
    if (!diffs.empty()) page += "<h2>What changed (secrets masked)</h2>\n" + diffs;
    return page + "</body></html>\n";
}
