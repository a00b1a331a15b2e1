#include "inspect/disk_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/i18n.h"
#include "image/image_tracks.h"
#include "inspect/track_layout.h"

namespace
{

// Page layout, in SVG user units.
constexpr int kWidth = 880;
constexpr int kHeight = 560;
constexpr double kOuterRadius = 200;
constexpr double kHubRadius = 44; // the floppy's hub: no tracks inside it
constexpr double kDiskY = 270;
constexpr double kDiskX[2] = {220, 660};
// A sector alone on its track still leaves the index visible.
constexpr double kMaxSweep = 359.5;
constexpr const char* kUnformatted = "#dcdcdc";
constexpr double kPi = 3.14159265358979323846;

struct KindStyle {
    SectorKind kind;
    const char* cssClass;
    const char* colour;
    const char* label;
};

constexpr KindStyle kStyles[] = {
    {SectorKind::Good, "ok", "#7fb77e", N_("正常")},
    {SectorKind::Deleted, "deleted", "#5b8fd6", N_("削除マーク")},
    {SectorKind::DataCrc, "crc-data", "#d9453d", N_("データ CRC エラー")},
    {SectorKind::IdCrc, "crc-id", "#f0a030", N_("ID CRC エラー")},
    {SectorKind::NoAddressMark, "no-am", "#8e5cc2", N_("アドレスマークなし")},
    {SectorKind::Other, "other", "#c9c23a", N_("その他の状態")},
};

const KindStyle& styleFor(SectorKind kind)
{
    for (const KindStyle& s : kStyles)
        if (s.kind == kind)
            return s;
    return kStyles[sizeof kStyles / sizeof kStyles[0] - 1];
}

// Two decimals, always with a point: the C library's %f follows LC_NUMERIC.
std::string num(double v)
{
    long long hundredths = std::llround(v * 100);
    std::string sign = hundredths < 0 ? "-" : "";
    hundredths = std::llabs(hundredths);
    std::string frac = std::to_string(hundredths % 100);
    if (frac.size() < 2)
        frac = "0" + frac;
    return sign + std::to_string(hundredths / 100) + "." + frac;
}

std::string escapeXml(const std::string& text)
{
    std::string out;
    for (char ch : text) {
        switch (ch) {
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
        default:
            // XML 1.0 admits no control characters but tab, CR and LF.
            out += static_cast<unsigned char>(ch) < 0x20 ? ' ' : ch;
        }
    }
    return out;
}

// The space a sector takes on its track: its size code's bytes; an ID CRC error
// or a missing mark leaves no data behind, so the data length cannot be used.
double sectorWeight(const d88::SectorRecord& s)
{
    if (s.n <= 8)
        return 128 << s.n;
    return s.data.empty() ? 128 : static_cast<double>(s.data.size());
}

// Japanese fonts by name first: a viewer whose generic sans-serif has no kana
// or kanji (a CJK font installed under another name) still finds one.
constexpr const char* kFontFamily =
    "'Noto Sans CJK JP', 'Noto Sans JP', 'Source Han Sans JP', 'IPAexGothic', 'IPAGothic', "
    "'Hiragino Sans', 'Hiragino Kaku Gothic ProN', 'Yu Gothic', Meiryo, 'MS PGothic', "
    "sans-serif";

// Roughly how wide a label is drawn: full-width characters one em, others 0.6.
double textWidth(const std::string& utf8, double fontSize)
{
    double ems = 0;
    for (unsigned char ch : utf8) {
        if (ch < 0x80)
            ems += 0.6;
        else if (ch >= 0xC0)
            ems += 1;
    }
    return ems * fontSize;
}

std::string point(double cx, double cy, double radius, double degrees)
{
    const double a = degrees * kPi / 180;
    return num(cx + radius * std::cos(a)) + " " + num(cy + radius * std::sin(a));
}

// An annular sector between two radii, clockwise from `from` degrees (0 is
// 3 o'clock, y grows downwards).
std::string arcPath(double cx, double cy, double inner, double outer, double from, double sweep)
{
    const double to = from + sweep;
    const char* large = sweep > 180 ? "1" : "0";
    return "M" + point(cx, cy, outer, from) + " A" + num(outer) + " " + num(outer) + " 0 " + large +
           " 1 " + point(cx, cy, outer, to) + " L" + point(cx, cy, inner, to) + " A" + num(inner) +
           " " + num(inner) + " 0 " + large + " 0 " + point(cx, cy, inner, from) + " Z";
}

} // namespace

std::string diskSvg(const ImageTracks& image, const std::string& title)
{
    const int cylinders = image.trackCount / 2;
    const double ring = (kOuterRadius - kHubRadius) / (cylinders > 0 ? cylinders : 1);
    const double gap = std::min(0.5, ring * 0.15);

    int formatted = 0;
    for (const d88::TrackRecords& track : image.tracks)
        formatted += !track.empty();

    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) +
           "\" height=\"" + std::to_string(kHeight) + "\" viewBox=\"0 0 " + std::to_string(kWidth) +
           " " + std::to_string(kHeight) + "\" font-family=\"" + kFontFamily + "\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += "<text x=\"" + std::to_string(kWidth / 2) +
           "\" y=\"34\" font-size=\"20\" text-anchor=\"middle\">" + escapeXml(title) + " (" +
           d88::mediumName(image.medium) + tr(", フォーマット済みトラック ") +
           std::to_string(formatted) + ")</text>\n";

    for (int head = 0; head < 2; ++head) {
        const double cx = kDiskX[head];
        svg += "<g class=\"side\" id=\"side" + std::to_string(head) + "\">\n";
        svg += "<circle cx=\"" + num(cx) + "\" cy=\"" + num(kDiskY) + "\" r=\"" +
               num(kOuterRadius + 6) + "\" fill=\"#f4f4f4\" stroke=\"#a0a0a0\"/>\n";
        svg += "<circle cx=\"" + num(cx) + "\" cy=\"" + num(kDiskY) + "\" r=\"" +
               num(kHubRadius - 6) + "\" fill=\"#ffffff\" stroke=\"#a0a0a0\"/>\n";
        for (int cylinder = 0; cylinder < cylinders; ++cylinder) {
            const int t = cylinder * 2 + head;
            const double outer = kOuterRadius - cylinder * ring;
            const double inner = outer - ring + gap;
            const d88::TrackRecords& track = image.tracks[static_cast<size_t>(t)];
            if (track.empty()) {
                svg += "<circle class=\"unformatted\" cx=\"" + num(cx) + "\" cy=\"" + num(kDiskY) +
                       "\" r=\"" + num((outer + inner) / 2) + "\" fill=\"none\" stroke=\"" +
                       kUnformatted + "\" stroke-width=\"" + num(outer - inner) + "\"/>\n";
                continue;
            }
            double total = 0;
            for (const d88::SectorRecord& s : track)
                total += sectorWeight(s);
            // The first sector recorded starts at 12 o'clock, the rest follow clockwise.
            double angle = -90;
            for (const d88::SectorRecord& s : track) {
                const double sweep = std::min(kMaxSweep, 360 * sectorWeight(s) / total);
                const KindStyle& style = styleFor(sectorKind(s));
                svg += "<path class=\"sector " + std::string(style.cssClass) + "\" fill=\"" +
                       style.colour + "\" stroke=\"#ffffff\" stroke-width=\"" + num(gap) +
                       "\" d=\"" + arcPath(cx, kDiskY, inner, outer, angle, sweep) +
                       "\"><title>" + tr("トラック ") + std::to_string(t) + " C" + std::to_string(s.c) +
                       " H" + std::to_string(s.h) + " R" + std::to_string(s.r) + " N" +
                       std::to_string(s.n) + " " + tr(style.label) + "</title></path>\n";
                angle += 360 * sectorWeight(s) / total;
            }
        }
        svg += "<text x=\"" + num(cx) + "\" y=\"" + num(kDiskY + kOuterRadius + 32) +
               "\" font-size=\"16\" text-anchor=\"middle\">" + tr("サイド ") + std::to_string(head) +
               (head == 0 ? tr(" (偶数トラック)") : tr(" (奇数トラック)")) + "</text>\n";
        svg += "</g>\n";
    }

    // The legend: one swatch per status, then the empty ring.
    svg += "<g class=\"legend\" font-size=\"13\">\n";
    double x = 30;
    const double y = kHeight - 24;
    for (const KindStyle& s : kStyles) {
        svg += "<rect x=\"" + num(x) + "\" y=\"" + num(y - 11) + "\" width=\"14\" height=\"14\"" +
               " fill=\"" + s.colour + "\"/><text x=\"" + num(x + 19) + "\" y=\"" + num(y) + "\">" +
               tr(s.label) + "</text>\n";
        x += 34 + textWidth(tr(s.label), 13);
    }
    svg += "<rect x=\"" + num(x) + "\" y=\"" + num(y - 11) +
           "\" width=\"14\" height=\"14\" fill=\"" + kUnformatted + "\"/><text x=\"" + num(x + 19) +
           "\" y=\"" + num(y) + "\">" + tr("未フォーマット") + "</text>\n";
    svg += "</g>\n</svg>\n";
    return svg;
}
