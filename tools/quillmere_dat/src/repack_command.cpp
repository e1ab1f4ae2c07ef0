// quillmere-dat repack: a fresh, compacted copy of an archive, every untouched file's stored
// bytes and fields copied verbatim, with files replaced, added or deleted on the way.
#include "archive_access.hpp"
#include "commands.hpp"
#include "local_files.hpp"
#include "output_lock.hpp"
#include "progress.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/archive_copy.hpp"
#include "verification.hpp"
#include "write_summary.hpp"

#include <fcntl.h>
#include <map>
#include <ostream>
#include <set>
#include <sys/stat.h>

namespace quillmere::dat_tool {
namespace {

// One --put: the file, opened and checked before anything is written. It is streamed into the
// archive, or read whole beforehand when it is to be compressed.
struct Put {
    std::string file;
    // Stored compressed (--put-compressed, or --put with --compress).
    bool compress = false;
    std::optional<LocalFile> source;
    std::vector<std::uint8_t> contents;
};

// What the command line asks for, checked against itself.
struct Changes {
    std::map<std::uint32_t, Put> puts;
    std::set<std::uint32_t> deletes;
    bool force = false;
    bool dry_run = false;
};

// "ID=FILE" split at its first '='; nothing when it is not of that form.
std::optional<std::pair<std::uint32_t, std::string>> split_put(std::string_view value) {
    const auto equals = value.find('=');
    if (equals == std::string_view::npos || equals + 1 == value.size()) {
        return std::nullopt;
    }
    const auto id = parse_file_id(value.substr(0, equals));
    if (!id) {
        return std::nullopt;
    }
    return std::pair{*id, std::string(value.substr(equals + 1))};
}

std::optional<std::string> check_put(std::string_view value) {
    if (split_put(value)) {
        return std::nullopt;
    }
    return "invalid --put '" + std::string(value) +
           "' (expected ID=FILE, such as 0x06000001=new.bin)";
}

// The changes, or the usage error of options that contradict one another.
std::expected<Changes, std::string> changes_of(const Arguments& args) {
    Changes changes;
    const bool compress = args.has("--compress");
    changes.force = args.has("--force");
    changes.dry_run = args.has("--dry-run");
    for (const auto value : args.values("--delete")) {
        const std::uint32_t id = parse_file_id(value).value_or(0);
        if (!changes.deletes.insert(id).second) {
            return std::unexpected("file " + id_text(id) + " is given to --delete twice");
        }
    }
    bool plain_put = false;
    for (const GivenOption& option : args.options()) {
        const bool compressed = option.name == "--put-compressed";
        if (option.name != "--put" && !compressed) {
            continue;
        }
        plain_put = plain_put || !compressed;
        auto [id, file] = split_put(option.value).value_or(std::pair{0U, std::string()});
        if (changes.deletes.contains(id)) {
            return std::unexpected("file " + id_text(id) + " is given to both --put and --delete");
        }
        if (!changes.puts.emplace(id, Put{std::move(file), compressed || compress, {}, {}})
                 .second) {
            return std::unexpected("file " + id_text(id) + " is given to --put twice");
        }
    }
    if (compress && !plain_put) {
        return std::unexpected("--compress applies to the files of --put, and none is given");
    }
    return changes;
}

// Opens every --put file; those to be compressed are read whole, the others streamed.
Gathered<void> open_puts(Changes& changes) {
    for (auto& [id, put] : changes.puts) {
        QM_TRY(put.source, LocalFile::open(AT_FDCWD, put.file.c_str(), put.file, true));
        if (put.compress) {
            QM_TRY_VOID(put.source->read_into(put.contents, 0));
        }
    }
    return {};
}

// The edits for the library's copy, the put files opened.
dat::ArchiveEdits edits_of(Changes& changes) {
    dat::ArchiveEdits edits;
    edits.deletes = changes.deletes;
    for (auto& [id, put] : changes.puts) {
        dat::PutContents contents =
            put.compress ? dat::PutContents(std::move(put.contents))
                         : dat::PutContents::from_descriptor(put.source->fd(), put.source->size());
        contents.storage = put.compress ? dat::Storage::Compressed : dat::Storage::Plain;
        edits.puts.emplace(id, std::move(contents));
    }
    return edits;
}

// Whether `in` and `out` name the same file: the same path, or the same device and inode.
bool same_file(const std::string& in, const std::string& out) {
    if (in == out) {
        return true;
    }
    struct stat a {};
    struct stat b {};
    return ::stat(in.c_str(), &a) == 0 && ::stat(out.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// How the copy meets the files of IN that do not read whole: with --force each is left out and
// named; without, the first ends the copy, and it is kept to be named in the error (the check
// before writing makes that a fault of the system rather than of the archive).
struct UnreadableFiles {
    std::optional<ForcedReads> forced;
    std::optional<std::pair<dat::DatFileEntry, dat::DatError>> failure;

    dat::CopyOptions options(Progress& progress) {
        dat::CopyOptions options;
        options.check_streams = forced.has_value();
        if (forced) {
            options.admit = [this](const dat::DatFileEntry& entry) { return forced->admit(entry); };
        }
        options.leave_out = [this](const dat::DatFileEntry& entry, const dat::DatError& error) {
            if (forced) {
                forced->leave_out(entry, error);
                return true;
            }
            failure.emplace(entry, error);
            return false;
        };
        options.progress = [&progress](std::size_t done, std::size_t) { progress.update(done); };
        return options;
    }
};

// How many files the copy has: IN's, less those deleted, and those put that IN lacks.
std::size_t files_to_copy(const dat::DatDatabase& db, const Changes& changes) {
    std::size_t count = db.files().size() - changes.deletes.size();
    for (const auto& [id, put] : changes.puts) {
        count += db.files().contains(id) ? 0U : 1U;
    }
    return count;
}

// IN copied to OUT by the library (or with --dry-run, rehearsed), the changes made on the way.
Gathered<WriteSummary> copy(const dat::DatDatabase& db, const std::string& in,
                            const std::string& out, Changes& changes, const Streams& streams) {
    std::optional<dat::ArchiveWriter> writer;
    if (!changes.dry_run) {
        const auto preamble = db.read_preamble();
        if (!preamble) {
            return std::unexpected("cannot read the bytes before the header of " + in + ": " +
                                   one_line(preamble.error()));
        }
        auto created = dat::ArchiveWriter::create(out, db.header(), *preamble);
        if (!created) {
            return std::unexpected(one_line(created.error()));
        }
        writer.emplace(std::move(*created));
    }
    UnreadableFiles unreadable;
    if (changes.force) {
        unreadable.forced.emplace(db, streams);
    }
    Progress progress(streams, "repack", files_to_copy(db, changes));
    auto copied = dat::copy_files(db, writer ? &*writer : nullptr, edits_of(changes),
                                  unreadable.options(progress));
    if (copied && writer) {
        if (auto finished = writer->finish(); !finished) {
            copied = std::unexpected(std::move(finished).error());
        }
    }
    if (!copied && unreadable.failure) {
        return std::unexpected(
            read_failure(unreadable.failure->first, unreadable.failure->second, in));
    }
    if (!copied) {
        return std::unexpected("cannot write " + out + ": " + one_line(copied.error()));
    }
    WriteSummary summary{"repack",
                         out,
                         changes.dry_run,
                         copied->files,
                         copied->stored_bytes,
                         copied->compressed,
                         std::move(copied->left_out)};
    return summary;
}

Gathered<WriteSummary> repack(const std::string& in, const std::string& out, Changes& changes,
                              const Streams& streams) {
    // Taken before IN is checked and opened: an in-place repack then always reads the latest IN.
    // A dry run writes nothing, not even the lock file.
    std::optional<OutputLock> lock;
    if (!changes.dry_run) {
        auto taken = OutputLock::beside(out, out);
        if (!taken) {
            return std::unexpected(std::move(taken.error()));
        }
        lock.emplace(std::move(*taken));
    }
    QM_TRY(const GateVerdict verdict,
           check_before_writing(in, same_file(in, out), changes.force, streams));
    // Past the gate, a damaged directory is only met with --force: what can be walked is copied.
    auto db = open_archive(in, {.skip_damaged_nodes = verdict.has_errors});
    if (!db) {
        return std::unexpected(std::move(db.error()));
    }
    for (const std::uint32_t id : changes.deletes) {
        if (!db->files().contains(id)) {
            return std::unexpected("cannot delete " + id_text(id) + ": no such file in " + in);
        }
    }
    QM_TRY_VOID(open_puts(changes));
    return copy(*db, in, out, changes, streams);
}

constexpr std::string_view kSynopsis =
    "quillmere-dat repack IN OUT [--put ID=FILE]... [--put-compressed ID=FILE]... [--delete "
    "ID]... [--compress] [--force] [--dry-run] [--json]";

// Options that contradict one another are found here, past the parser, and reported as it
// reports its own usage errors.
int usage_error(const Streams& streams, std::string_view message) {
    streams.err << "error: " << message << "\nusage: " << kSynopsis << "\n";
    return kExitUsage;
}

int run_repack(const Arguments& args, const Streams& streams) {
    auto changes = changes_of(args);
    if (!changes) {
        return usage_error(streams, changes.error());
    }
    ignore_file_size_signal();
    clean_up_on_termination();
    const auto done = repack(args.positional(0), args.positional(1), *changes, streams);
    if (!done) {
        return fail(streams, done.error());
    }
    return report_written(streams, *done);
}

constexpr ArgumentSpec kArguments[] = {{"IN"}, {"OUT"}};
constexpr OptionSpec kOptions[] = {
    {.name = "--put", .takes_value = true, .repeatable = true, .check = check_put},
    {.name = "--delete", .takes_value = true, .repeatable = true, .check = check_file_id},
    {.name = "--put-compressed", .takes_value = true, .repeatable = true, .check = check_put},
    {.name = "--compress"},
    {.name = "--force"},
    {.name = "--dry-run"},
    {.name = "--json"},
};

} // namespace

constinit const Command kRepackCommand{
    .name = "repack",
    .synopsis = kSynopsis,
    .outline = "repack IN OUT [OPTIONS]",
    .summary = "a fresh, compacted copy, with files put or deleted",
    .description =
        "Writes OUT, a fresh copy of the archive IN without unused space: every file keeps its\n"
        "stored bytes (compressed or not, nothing recompressed), bit_flags, timestamp and\n"
        "version; the 320 bytes before the header are copied unchanged; the header keeps its\n"
        "fields but for file_size, root_offset and the free list, which describe the new layout.\n"
        "Files are stored in ascending id order and the directory is rebuilt as a balanced tree.\n"
        "\n"
        "IN is checked first, as 'quillmere-dat verify' checks it (but for decoding, since files\n"
        "are copied byte for byte), and nothing is written when it has an error; the problems\n"
        "found (up to 10) go to standard error. Warnings are shown and the copy goes on, except\n"
        "when OUT is IN (the same path or the same file): writing in place needs an archive with\n"
        "no problem at all.\n"
        "\n"
        "  --put ID=FILE   store FILE's bytes as file ID: a file already in IN keeps its\n"
        "                  timestamp, version and the other bits of its bit_flags; a new one\n"
        "                  gets 0 for each; repeatable\n"
        "  --delete ID     leave file ID out (it must be in IN); repeatable\n"
        "  --put-compressed ID=FILE\n"
        "                  as --put, stored compressed (bit 0 of bit_flags set); repeatable\n"
        "  --compress      store the files of the plain --put options compressed too; without\n"
        "                  it they are stored as they are (bit 0 clear)\n"
        "  --force         copy what can be read whatever the check found: each file that\n"
        "                  cannot be read whole is left out and named on standard error\n"
        "  --dry-run       check everything a real run checks and say what it would write,\n"
        "                  writing nothing\n"
        "  --json          one JSON document on standard output saying what was written (or\n"
        "                  with --dry-run, what would be): {command, output, dry_run, files,\n"
        "                  bytes, compressed, left_out}\n"
        "\n"
        "An id given to --put (or --put-compressed) twice, to --delete twice, or to both, and\n"
        "--compress without a plain --put are usage errors. Without --force, a file of IN that "
        "cannot be read ends the\n"
        "command with its error, and nothing is written.\n"
        "\n"
        "IN and each FILE must be regular files (a FIFO or a device is refused, never waited\n"
        "on); a FILE of 4 GiB or more is refused by its size. FILEs are streamed into OUT unless\n"
        "they are to be compressed.\n"
        "\n"
        "OUT is written under a temporary name beside it, flushed to the disk and put in place of\n"
        "OUT, so OUT is either its old self or the whole new archive; a failure or an\n"
        "interruption (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT) removes the temporary file. While it\n"
        "runs it holds a lock on OUT (the file .OUT.lock beside it): a second writer of OUT\n"
        "fails at once, and removes what killed runs left once it holds the lock.\n",
    .arguments = kArguments,
    .options = kOptions,
    .run = run_repack,
};

} // namespace quillmere::dat_tool
