#include "perf/ber_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "modem/common/mode_table.h"

namespace kavra::perf {

namespace {

constexpr double kWidth = 800, kHeight = 540;
constexpr double kLeft = 70, kRight = 200, kTop = 40, kBottom = 50;
constexpr int kMinDecade = -7;  // lowest BER drawn: 1e-7
constexpr const char* kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b", "#e377c2"};

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char ch : s) {
        if (ch == '<') out += "&lt;";
        else if (ch == '>') out += "&gt;";
        else if (ch == '&') out += "&amp;";
        else out += ch;
    }
    return out;
}

std::string ModeLabel(int type, int mode) {
    if (mode == kMode4800) return "4800 (mode 12)";
    return std::string(modem::ModeName(mode, type)) + " (mode " + std::to_string(mode) + ")";
}

}  // namespace

std::string BerPlotSvg(const SweepResult& result, const std::string& title) {
    const SweepSettings& s = result.settings;
    double x_min = std::floor(s.snr_db.front());
    double x_max = std::ceil(s.snr_db.back());
    const bool awgn = !s.channel.fading.has_value();
    std::vector<Requirement> reqs;
    for (const Requirement& r : Requirements()) {
        if ((r.channel == "awgn") != awgn || (!awgn && s.channel.name != r.channel)) continue;
        bool applies = false;
        for (int m : r.modes) applies |= std::find(s.modes.begin(), s.modes.end(), m) != s.modes.end();
        if (applies) {
            reqs.push_back(r);
            x_max = std::max(x_max, r.snr_db + 1);
        }
    }
    if (x_max <= x_min) x_max = x_min + 1;
    const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
    auto px = [&](double snr) { return kLeft + (snr - x_min) / (x_max - x_min) * plot_w; };
    auto py = [&](double ber) {
        const double l = std::clamp(std::log10(std::max(ber, 1e-12)), double(kMinDecade), 0.0);
        return kTop + (-l) / (-kMinDecade) * plot_h;
    };

    std::string svg = Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                             "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
                             kWidth, kHeight, kWidth, kHeight);
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += Format("<text x=\"%.0f\" y=\"22\" font-size=\"15\" text-anchor=\"middle\">", kLeft + plot_w / 2) +
           Escape(title) + "</text>\n";
    // Grid: decades and SNR steps.
    for (int d = 0; d >= kMinDecade; --d) {
        const double y = py(std::pow(10.0, d));
        svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", kLeft, y, kLeft + plot_w, y);
        svg += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">1e%.0f</text>\n", kLeft - 6, y + 4, d);
    }
    const double span = x_max - x_min;
    const double step = span > 24 ? 4 : span > 12 ? 2 : 1;
    for (double x = x_min; x <= x_max + 1e-9; x += step) {
        svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", px(x), kTop, px(x), kTop + plot_h);
        svg += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%g</text>\n", px(x), kTop + plot_h + 16, x);
    }
    for (double target : {1e-3, 1e-5})
        svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#999\" stroke-dasharray=\"4 3\"/>\n",
                      kLeft, py(target), kLeft + plot_w, py(target));
    svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"black\"/>\n", kLeft,
                  kTop, plot_w, plot_h);
    svg += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">SNR in 3000 Hz (dB)</text>\n", kLeft + plot_w / 2,
                  kHeight - 12);
    svg += Format("<text x=\"16\" y=\"%.1f\" text-anchor=\"middle\" transform=\"rotate(-90 16 %.1f)\">bit error rate</text>\n",
                  kTop + plot_h / 2, kTop + plot_h / 2);

    // One curve per mode; a point without errors is drawn hollow at its 95 % bound.
    double legend_y = kTop + 10;
    for (std::size_t mi = 0; mi < s.modes.size(); ++mi) {
        const int mode = s.modes[mi];
        const char* colour = kColours[mi % std::size(kColours)];
        std::string path;
        std::string marks;
        for (const PointResult& p : result.points) {
            if (p.mode != mode || p.skipped || p.bits == 0) continue;
            const double x = px(p.snr_db), y = py(p.ber_upper());
            path += Format("%.1f,%.1f ", x, y);
            if (p.bit_errors == 0)
                marks += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"white\" stroke-width=\"1.5\"/>\n", x, y);
            else
                marks += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\"/>\n", x, y);
        }
        svg += std::string("<g stroke=\"") + colour + "\" fill=\"" + colour + "\">\n";
        if (!path.empty()) svg += "<polyline fill=\"none\" stroke-width=\"1.5\" points=\"" + path + "\"/>\n";
        svg += marks + "</g>\n";
        svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke-width=\"2\" ", kWidth - kRight + 12, legend_y,
                      kWidth - kRight + 36, legend_y) +
               "stroke=\"" + colour + "\"/>\n";
        svg += Format("<text x=\"%.1f\" y=\"%.1f\">", kWidth - kRight + 42, legend_y + 4) +
               Escape(ModeLabel(s.modem_type, mode)) + "</text>\n";
        legend_y += 18;
    }

    // Requirement points (filled diamonds) and the ideal bounds at 1e-5 (hollow squares).
    legend_y += 8;
    for (const Requirement& r : reqs) {
        const double x = px(r.snr_db), y = py(r.ber);
        svg += Format("<path d=\"M %.1f %.1f l 7 7 l -7 7 l -7 -7 z\" fill=\"black\"/>\n", x, y - 7);
        svg += Format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\">", x + 9, y - 6) + r.rate +
               (s.modem_type == 1 ? " bar (type 0)" : " required") + "</text>\n";
    }
    if (!reqs.empty()) {
        svg += Format("<path d=\"M %.1f %.1f l 6 6 l -6 6 l -6 -6 z\" fill=\"black\"/>\n", kWidth - kRight + 24, legend_y - 6);
        svg += Format("<text x=\"%.1f\" y=\"%.1f\">required minimum</text>\n", kWidth - kRight + 42, legend_y + 4);
        legend_y += 18;
    }
    if (awgn) {
        bool any = false;
        for (std::size_t mi = 0; mi < s.modes.size(); ++mi) {
            const auto bound = IdealBoundDb(s.modem_type, s.modes[mi]);
            if (!bound || *bound < x_min || *bound > x_max) continue;
            any = true;
            const char* colour = kColours[mi % std::size(kColours)];
            svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"8\" height=\"8\" fill=\"none\" stroke-width=\"1.5\" ",
                          px(*bound) - 4, py(1e-5) - 4) +
                   "stroke=\"" + colour + "\"/>\n";
        }
        if (any) {
            svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"8\" height=\"8\" fill=\"none\" stroke=\"black\"/>\n",
                          kWidth - kRight + 20, legend_y - 4);
            svg += Format("<text x=\"%.1f\" y=\"%.1f\">ideal bound at 1e-5</text>\n", kWidth - kRight + 42, legend_y + 4);
            legend_y += 18;
        }
    }
    svg += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"white\" stroke=\"black\"/>\n", kWidth - kRight + 24, legend_y);
    svg += Format("<text x=\"%.1f\" y=\"%.1f\">no errors: 95%% bound</text>\n", kWidth - kRight + 42, legend_y + 4);
    svg += "</svg>\n";
    return svg;
}

}  // namespace kavra::perf
