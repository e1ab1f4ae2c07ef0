// The running case's streams: capture buffers, whole-line console sinks and the per-thread choice.
#include "detail/streams.hpp"

#include "quillmere/case_runner/case_runner.hpp"

#include <iostream>

namespace quillmere::case_runner {

namespace {

// The streams of the case running on this thread; null outside a case.
thread_local std::ostream* current_out = nullptr;
thread_local std::ostream* current_err = nullptr;

} // namespace

std::ostream& out() noexcept {
    return current_out != nullptr ? *current_out : std::cout;
}

std::ostream& err() noexcept {
    return current_err != nullptr ? *current_err : std::cerr;
}

namespace detail {

std::string CaptureBuffer::take() noexcept {
    std::string text;
    text.swap(text_);
    return text;
}

CaptureBuffer::int_type CaptureBuffer::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) {
        return traits_type::not_eof(ch);
    }
    text_.push_back(traits_type::to_char_type(ch));
    return ch;
}

std::streamsize CaptureBuffer::xsputn(const char* text, std::streamsize count) {
    if (count > 0) {
        text_.append(text, static_cast<std::size_t>(count));
    }
    return count;
}

LineSink::int_type LineSink::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) {
        return traits_type::not_eof(ch);
    }
    const char c = traits_type::to_char_type(ch);
    xsputn(&c, 1);
    return ch;
}

std::streamsize LineSink::xsputn(const char* text, std::streamsize count) {
    if (count <= 0) {
        return 0;
    }
    pending_.append(text, static_cast<std::size_t>(count));
    const auto last_line_end = pending_.rfind('\n');
    if (last_line_end != std::string::npos) {
        emit(last_line_end + 1);
    } else if (pending_.size() >= kMaxPending) {
        emit(pending_.size());
    }
    return count;
}

void LineSink::finish() {
    if (!pending_.empty()) {
        emit(pending_.size());
    }
}

void LineSink::emit(std::size_t count) {
    {
        std::lock_guard guard(lock_);
        target_.write(pending_.data(), static_cast<std::streamsize>(count));
        target_.flush();
    }
    pending_.erase(0, count);
}

CaseOutput::CaseOutput() : out_(&capture_), err_(&capture_) {}

CaseOutput::CaseOutput(std::ostream& console_out, std::ostream& console_err, std::mutex& lock)
    : out_sink_(std::in_place, console_out, lock), err_sink_(std::in_place, console_err, lock),
      out_(&*out_sink_), err_(&*err_sink_) {}

std::string CaseOutput::finish() {
    if (out_sink_) {
        out_sink_->finish();
    }
    if (err_sink_) {
        err_sink_->finish();
    }
    return capture_.take();
}

StreamScope::StreamScope(std::ostream& out, std::ostream& err) noexcept
    : previous_out_(current_out), previous_err_(current_err) {
    current_out = &out;
    current_err = &err;
}

StreamScope::~StreamScope() {
    current_out = previous_out_;
    current_err = previous_err_;
}

} // namespace detail

} // namespace quillmere::case_runner
