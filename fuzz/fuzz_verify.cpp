// Fuzz target: the archive verifier on any bytes. The input, written to an anonymous in-memory
// file, is verified whole and again in two stretches cut where the input says, handed over in
// reverse; both reports must be the same. An archive that DatDatabase::open refuses must give at
// least one error; one that verifies without an error must open, list as many files as the
// verifier walked, and every file (within a work bound) must read, decompress to its declared
// size and, for the hook-carrying types, decode.
#include "fuzz_support.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/file_type.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/verifier.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

using quillmere::dat::DatDatabase;
using quillmere::dat::Severity;
using quillmere::dat::Verifier;
using quillmere::dat::VerifyPart;
using quillmere::dat::VerifyReport;
namespace file_type = quillmere::dat::file_type;

namespace {

// Problems a report keeps: few, so that the bound on kept records is exercised too.
constexpr std::size_t kKept = 16;
// Work bound for the files fetched after a clean verification, as in the archive target.
constexpr std::size_t kMaxFiles = 32;
constexpr std::uint64_t kMaxBytesFetched = 4U << 20;

bool same(const VerifyReport& a, const VerifyReport& b) {
    return a.problems == b.problems && a.summary == b.summary && a.error_count == b.error_count &&
           a.warning_count == b.warning_count;
}

void check_shape(const VerifyReport& report, std::size_t size) {
    FUZZ_CHECK(report.summary.archive_length == size);
    FUZZ_CHECK(report.problems.size() <= kKept);
    FUZZ_CHECK(report.problems.size() <= report.error_count + report.warning_count);
    FUZZ_CHECK(report.summary.files_read <= report.summary.entries);
    FUZZ_CHECK(report.summary.unread_bytes <= size);
    for (const auto& problem : report.problems) {
        FUZZ_CHECK(problem.severity == quillmere::dat::severity_of(problem.kind));
        FUZZ_CHECK(!problem.message.empty());
        FUZZ_CHECK(problem.message.find('\n') == std::string::npos);
    }
    FUZZ_CHECK(
        std::is_sorted(report.problems.begin(), report.problems.end(),
                       [](const auto& a, const auto& b) { return a.severity < b.severity; }));
}

bool decodes(file_type::FileType type, std::span<const std::uint8_t> bytes) {
    quillmere::common::ByteCursor cursor(bytes);
    switch (type) {
    case file_type::FileType::Animation:
        return file_type::animation::Animation::read(cursor).has_value();
    case file_type::FileType::SetupModel:
        return file_type::setup_model::SetupModel::read(cursor).has_value();
    case file_type::FileType::PhysicsScript:
        return file_type::physics_script::PhysicsScript::unpack(bytes).has_value();
    }
    return false;
}

// A clean report promises that the archive opens and every file reads as a reader expects.
void check_clean(const DatDatabase& db, const VerifyReport& report) {
    FUZZ_CHECK(db.files().size() == report.summary.entries);
    std::vector<std::uint32_t> ids;
    for (const auto& [id, entry] : db.files()) {
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    std::uint64_t fetched = 0;
    for (std::size_t i = 0; i < ids.size() && i < kMaxFiles; ++i) {
        const auto& entry = db.files().at(ids[i]);
        if (fetched + entry.size > kMaxBytesFetched) {
            continue;
        }
        fetched += entry.size;
        const auto stored = db.read_file_data(entry.offset, entry.size);
        const auto bytes = db.get_file(entry.id);
        FUZZ_CHECK_MSG(stored && bytes, "a file of a clean archive does not read");
        if (entry.is_compressed() && stored->size() >= 4) {
            FUZZ_CHECK(bytes->size() == quillmere::common::load_le<std::uint32_t>(stored->data()));
        }
        if (const auto type = file_type::of(entry.id)) {
            FUZZ_CHECK_MSG(decodes(*type, *bytes), "a file of a clean archive does not decode");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = quillmere::fuzz::input_bytes(data, size);
    const std::string path = quillmere::fuzz::as_memory_file(bytes);
    auto verifier = Verifier::open(path, {.max_stored_problems = kKept});
    FUZZ_CHECK_MSG(verifier.has_value(), "a file that opens gives no report");
    const VerifyReport whole = verifier->finish({});
    check_shape(whole, size);

    const std::size_t files = verifier->file_count();
    const std::size_t cut = size == 0 ? 0 : (size * 31 + data[size / 2]) % (files + 1);
    std::vector<VerifyPart> parts;
    parts.push_back(verifier->check_files(cut, files));
    parts.push_back(verifier->check_files(0, cut));
    FUZZ_CHECK_MSG(same(verifier->finish(std::move(parts)), whole),
                   "the report depends on how the file list is cut");

    const auto db = DatDatabase::open(path);
    if (!db) {
        FUZZ_CHECK_MSG(whole.has_errors(), "open refuses an archive that verifies without error: " +
                                               db.error().message());
        return 0;
    }
    if (!whole.has_errors()) {
        check_clean(*db, whole);
    }
    return 0;
}
