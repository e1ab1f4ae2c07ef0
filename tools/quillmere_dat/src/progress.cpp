// The progress line of a long-running command.
#include "progress.hpp"

#include <algorithm>
#include <ostream>

namespace quillmere::dat_tool {
namespace {

constexpr auto kFirstDraw = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(100);

} // namespace

Progress::Progress(const Streams& streams, std::string_view command, std::size_t total)
    : streams_(streams), command_(command), total_(total), next_draw_(Clock::now() + kFirstDraw) {}

Progress::~Progress() {
    clear();
}

void Progress::update(std::size_t done) {
    if (!streams_.err_is_terminal) {
        return;
    }
    const auto now = Clock::now();
    if (now < next_draw_) {
        return;
    }
    next_draw_ = now + kRedraw;
    const std::string line =
        command_ + ": " + std::to_string(done) + "/" + std::to_string(total_) + " files";
    // Blanks over whatever a longer earlier line left.
    const std::size_t width = std::max(line.size(), drawn_width_);
    streams_.err << "\r" << line << std::string(width - line.size(), ' ') << std::flush;
    drawn_width_ = width;
}

void Progress::clear() {
    if (drawn_width_ != 0) {
        streams_.err << "\r" << std::string(drawn_width_, ' ') << "\r" << std::flush;
        drawn_width_ = 0;
    }
}

} // namespace quillmere::dat_tool
