// The record-reading rule, written once: fields in order, field context on failure, and the
// cursor put back at the record's start.
#pragma once

#include "quillmere/common/byte_cursor.hpp"

#include <functional>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>

namespace quillmere::common {

/// A scope opened by a record reader. Each field is read through `field`, which on failure wraps
/// the error with "While parsing field '{field}' in {record}" (appended as the outermost context),
/// sets the cursor back to where the record started and returns the error:
///
///     RecordReader r(cursor, "Frame");
///     QM_TRY(auto origin, r.field("origin", Vector3::read_le));
///     QM_TRY(auto orientation, r.field("orientation", Quaternion::read_le));
///     return Frame{origin, orientation};
class RecordReader {
  public:
    RecordReader(ByteCursor& cursor, std::string_view record) noexcept
        : cursor_(cursor), record_(record), start_(cursor.position()) {}

    /// Reads one field with `reader`, a callable taking the cursor (a function or a member
    /// pointer of ByteCursor such as `&ByteCursor::read_f32`).
    template <class Reader>
    [[nodiscard]] auto field(std::string_view name, Reader&& reader,
                             std::source_location location = std::source_location::current())
        -> std::invoke_result_t<Reader, ByteCursor&> {
        auto result = std::invoke(std::forward<Reader>(reader), cursor_);
        if (!result) {
            fail(result.error(), name, location);
        }
        return result;
    }

    /// The cursor the record is read from.
    [[nodiscard]] ByteCursor& cursor() noexcept { return cursor_; }

  private:
    void fail(DecodeError& error, std::string_view name, std::source_location location) {
        std::string message = "While parsing field '";
        message.append(name).append("' in ").append(record_);
        error.add_context(std::move(message), location);
        cursor_.set_position(start_);
    }

    ByteCursor& cursor_;
    std::string_view record_;
    std::uint64_t start_;
};

} // namespace quillmere::common
