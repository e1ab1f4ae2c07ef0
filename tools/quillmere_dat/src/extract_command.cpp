// quillmere-dat extract: every file of an archive (or of one type) as DIR/TT/XXXXXXXX.bin, as
// get_file returns it, with manifest.json holding the header and each file's directory fields.
#include "archive_access.hpp"
#include "commands.hpp"
#include "id_lists.hpp"
#include "local_files.hpp"
#include "manifest.hpp"
#include "output_lock.hpp"
#include "progress.hpp"
#include "quillmere/common/file_system.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"
#include "text_form.hpp"
#include "verification.hpp"
#include "write_summary.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;

// Where the tree goes: the directory's absolute path, and whether it exists (an empty
// directory, written into where it is) or is to be made whole and renamed into place.
struct Destination {
    fs::path target;
    bool exists = false;
};

// The temporaries a tree is written under: beside a new directory `.{name}.tmp-XXXXXX`, inside
// an existing one `.extract.tmp-XXXXXX` (its parent may not be writable).
constexpr std::string_view kStagingPrefix = ".extract.tmp-";

std::string temporary_prefix(const Destination& destination) {
    if (destination.exists) {
        return std::string(kStagingPrefix);
    }
    std::string prefix = ".";
    prefix += destination.target.filename().string();
    return prefix + ".tmp-";
}

// The destination of `dir`, checked to be absent or a directory (a symbolic link to one is
// followed, and the link stays). Whether an existing one is empty is checked under its lock.
Gathered<Destination> extraction_target(const std::string& dir) {
    std::error_code ec;
    fs::path target = fs::absolute(dir, ec).lexically_normal();
    if (ec) {
        return std::unexpected("cannot use " + dir + ": " + ec.message());
    }
    if (!target.has_filename() && target.has_parent_path()) {
        target = target.parent_path();
    }
    const auto status = fs::status(target, ec);
    if (ec && status.type() != fs::file_type::not_found) {
        return std::unexpected("cannot use " + dir + ": " + ec.message());
    }
    if (status.type() == fs::file_type::not_found) {
        return Destination{target, false};
    }
    if (status.type() != fs::file_type::directory) {
        return std::unexpected("cannot extract into " + dir + ": it exists and is not a directory");
    }
    fs::path resolved = fs::canonical(target, ec);
    if (ec) {
        return std::unexpected("cannot use " + dir + ": " + ec.message());
    }
    return Destination{resolved, true};
}

// Locks the destination against other writers, removes what killed runs left, and checks that
// an existing directory is empty.
Gathered<OutputLock> lock_destination(const Destination& destination, const std::string& dir) {
    if (!destination.exists) {
        return OutputLock::beside(destination.target, dir);
    }
    QM_TRY(OutputLock lock,
           OutputLock::on_directory(destination.target, temporary_prefix(destination), dir));
    std::error_code ec;
    if (!fs::is_empty(destination.target, ec) || ec) {
        return std::unexpected("cannot extract into " + dir + ": " +
                               (ec ? ec.message() : "the directory is not empty"));
    }
    return lock;
}

// A new directory for the tree, with the permissions a new directory gets: beside a new
// destination, inside an existing one.
Gathered<fs::path> make_temporary_directory(const Destination& destination,
                                            const std::string& dir) {
    const fs::path parent =
        destination.exists ? destination.target : destination.target.parent_path();
    const auto [made, temporary] = common::create_temporary(
        (parent / temporary_prefix(destination)).string(),
        [](const std::string& name) { return ::mkdir(name.c_str(), 0777); });
    if (made == 0) {
        return fs::path(temporary);
    }
    if (errno == EEXIST) {
        return std::unexpected("cannot create " + dir + ": " + system_reason(EEXIST));
    }
    return std::unexpected("cannot write in directory " +
                           (destination.exists ? dir : parent_shown(dir)) + ": " +
                           system_reason(errno));
}

// Flushes everything written under `directory` to the disk; syncfs does it in one call where
// an fsync per file would take one disk flush each.
Gathered<void> flush_tree(const fs::path& directory, const std::string& dir) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected("cannot write " + dir + ": " + system_reason(errno));
    }
    const int result = ::syncfs(fd);
    const int code = errno;
    ::close(fd);
    if (result != 0) {
        return std::unexpected("cannot write " + dir + ": " + system_reason(code));
    }
    return {};
}

// Makes a rename in `directory` durable, as far as the file system can.
void flush_directory(const fs::path& directory) {
    static_cast<void>(common::sync_directory(directory));
}

// The directory being filled: removed with everything in it unless it was put in place.
class PendingTree {
  public:
    explicit PendingTree(fs::path path) : path_(std::move(path)) {}
    ~PendingTree() { remove(); }
    PendingTree(const PendingTree&) = delete;
    PendingTree& operator=(const PendingTree&) = delete;

    [[nodiscard]] const fs::path& path() const noexcept { return path_; }
    void remove() noexcept {
        if (!path_.empty()) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
            path_.clear();
        }
    }
    // Renames the tree to a new destination, or moves what it holds into an existing one.
    [[nodiscard]] Gathered<void> put_in_place(const Destination& destination,
                                              const std::string& dir) {
        if (destination.exists) {
            return move_into(destination.target, dir);
        }
        if (::rename(path_.c_str(), destination.target.c_str()) != 0) {
            return std::unexpected("cannot create " + dir + ": " + system_reason(errno));
        }
        path_.clear();
        flush_directory(destination.target.parent_path());
        return {};
    }

  private:
    // Moves each entry of the tree into `target` by rename, manifest.json last, so that a
    // tree with a manifest is whole; on failure, takes back out what was moved.
    [[nodiscard]] Gathered<void> move_into(const fs::path& target, const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return std::pair(a == "manifest.json", a) < std::pair(b == "manifest.json", b);
        });
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (::rename((path_ / names[i]).c_str(), (target / names[i]).c_str()) != 0) {
                const int code = errno;
                std::error_code ignored;
                for (std::size_t moved = 0; moved < i; ++moved) {
                    fs::remove_all(target / names[moved], ignored);
                }
                return std::unexpected("cannot write " + dir + ": " + system_reason(code));
            }
        }
        remove();
        flush_directory(target);
        return {};
    }

    fs::path path_;
};

struct ExtractPlan {
    std::string archive;
    dat::DatDatabase db;
    // The files to extract, in ascending id order.
    std::vector<dat::DatFileEntry> entries;
    std::array<std::uint8_t, dat::kPreambleSize> preamble{};
    // Leave out the files that cannot be read whole, instead of failing.
    bool force = false;
    // Hook-carrying files their decoder accepts as TT/XXXXXXXX.json, their text form.
    bool decode = false;
};

// Which files to take: of one type, of the ids listed, or both (the files that are both).
struct Selection {
    std::optional<std::uint8_t> type;
    std::optional<std::unordered_set<std::uint32_t>> ids;
};

// Checks the archive before anything is written (see `check_before_writing`), then opens it:
// past the check, a damaged directory is only met with --force, and what can be walked is taken.
Gathered<ExtractPlan> plan(const std::string& archive, const Selection& selection, bool force,
                           const Streams& streams) {
    QM_TRY(const GateVerdict verdict, check_before_writing(archive, false, force, streams));
    auto db = open_archive(archive, {.skip_damaged_nodes = verdict.has_errors});
    if (!db) {
        return std::unexpected(std::move(db.error()));
    }
    const auto preamble = db->read_preamble();
    if (!preamble) {
        return std::unexpected("cannot read the bytes before the header of " + archive + ": " +
                               one_line(preamble.error()));
    }
    if (selection.ids) {
        for (const std::uint32_t id : *selection.ids) {
            if (!db->files().contains(id)) {
                return std::unexpected("cannot extract " + id_text(id) + ": no such file in " +
                                       archive);
            }
        }
    }
    std::vector<dat::DatFileEntry> entries;
    for (const auto& [id, entry] : db->files()) {
        if ((!selection.type || (id >> 24) == *selection.type) &&
            (!selection.ids || selection.ids->contains(id))) {
            entries.push_back(entry);
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.id < b.id; });
    return ExtractPlan{archive, std::move(*db), std::move(entries), *preamble, force};
}

// Writes one file's contents under `tree`, as its text form when `decode` asks for one and
// the file has it; makes the type directory first unless `type_made` says it is there.
Gathered<void> write_member(const fs::path& tree, const std::string& dir, std::uint32_t id,
                            const std::vector<std::uint8_t>& contents, bool decode,
                            std::array<bool, 256>& type_made) {
    std::optional<std::string> text;
    if (decode) {
        text = text_form_for(id, contents);
    }
    const std::string relative = text ? text_form_path(id) : content_path(id);
    const std::size_t type = id >> 24;
    if (!type_made[type]) {
        const fs::path type_dir = tree / relative.substr(0, 2);
        if (::mkdir(type_dir.c_str(), 0777) != 0) {
            return std::unexpected("cannot write " + (fs::path(dir) / relative).string() + ": " +
                                   system_reason(errno));
        }
        type_made[type] = true;
    }
    const std::span<const std::uint8_t> written =
        text ? text_bytes(*text) : std::span<const std::uint8_t>(contents);
    return write_new_file(tree / relative, written, (fs::path(dir) / relative).string());
}

Gathered<void> write_manifest(const fs::path& tree, const std::string& dir,
                              const Manifest& manifest) {
    const std::string text = render_manifest(manifest);
    return write_new_file(tree / "manifest.json", text_bytes(text),
                          (fs::path(dir) / "manifest.json").string());
}

// Writes every file and the manifest under `tree`, or with no tree (a dry run) only reads and
// counts them; stops early when a termination signal came.
Gathered<WriteSummary> write_tree(const ExtractPlan& plan, const fs::path* tree,
                                  const std::string& dir, const TerminationRequests* signals,
                                  const Streams& streams) {
    WriteSummary summary;
    summary.command = "extract";
    summary.output = dir;
    summary.dry_run = tree == nullptr;
    const auto interrupted = [signals] { return signals != nullptr && signals->pending() != 0; };
    Manifest manifest{plan.db.header(), {}, plan.preamble};
    manifest.files.reserve(plan.entries.size());
    std::array<bool, 256> type_made{};
    Progress progress(streams, "extract", plan.entries.size());
    std::optional<ForcedReads> forced;
    if (plan.force) {
        forced.emplace(plan.db, streams);
    }
    for (std::size_t i = 0; i < plan.entries.size() && !interrupted(); ++i) {
        const dat::DatFileEntry& entry = plan.entries[i];
        if (forced && !forced->admit(entry)) {
            continue;
        }
        const auto contents = plan.db.get_file_checked(entry.id);
        if (!contents && forced) {
            forced->leave_out(entry, contents.error());
            continue;
        }
        if (!contents) {
            return std::unexpected(read_failure(entry, contents.error(), plan.archive));
        }
        summary.count(contents->size(), false);
        if (tree == nullptr) {
            continue;
        }
        QM_TRY_VOID(write_member(*tree, dir, entry.id, *contents, plan.decode, type_made));
        manifest.files.push_back({entry.id, entry.bit_flags, entry.timestamp, entry.version});
        progress.update(i + 1);
    }
    summary.left_out = forced ? forced->left_out() : std::vector<std::uint32_t>{};
    if (interrupted() || tree == nullptr) {
        return summary;
    }
    QM_TRY_VOID(write_manifest(*tree, dir, manifest));
    return summary;
}

// The selection the command line asks for.
Gathered<Selection> selection_of(const Arguments& args, const Streams& streams) {
    Selection selection;
    if (const auto text = args.value("--type")) {
        selection.type = parse_type_byte(*text);
    }
    std::vector<std::string> given;
    for (const auto value : args.values("--id")) {
        given.emplace_back(value);
    }
    if (!given.empty() || args.has("--ids-from")) {
        QM_TRY(const auto ids, ids_of(given, args, streams.in));
        selection.ids.emplace(ids.begin(), ids.end());
    }
    return selection;
}

int run_extract(const Arguments& args, const Streams& streams) {
    ignore_file_size_signal();
    const std::string& dir = args.positional(1);
    const auto selection = selection_of(args, streams);
    if (!selection) {
        return fail(streams, selection.error());
    }
    auto extraction = plan(args.positional(0), *selection, args.has("--force"), streams);
    if (!extraction) {
        return fail(streams, extraction.error());
    }
    extraction->decode = args.has("--decode");
    const auto target = extraction_target(dir);
    if (!target) {
        return fail(streams, target.error());
    }
    if (args.has("--dry-run")) {
        const auto rehearsed = write_tree(*extraction, nullptr, dir, nullptr, streams);
        return rehearsed ? report_written(streams, *rehearsed) : fail(streams, rehearsed.error());
    }
    // Signals are only recorded from here on, so the lock is released as the run ends.
    const TerminationRequests signals;
    const auto lock = lock_destination(*target, dir);
    if (!lock) {
        return fail(streams, lock.error());
    }
    const auto temporary = make_temporary_directory(*target, dir);
    if (!temporary) {
        return fail(streams, temporary.error());
    }
    PendingTree tree(*temporary);
    auto summary = write_tree(*extraction, &tree.path(), dir, &signals, streams);
    Gathered<void> written;
    if (!summary) {
        written = std::unexpected(std::move(summary.error()));
    }
    if (written && signals.pending() == 0) {
        written = flush_tree(tree.path(), dir);
    }
    if (const int signal_number = signals.pending(); signal_number != 0) {
        tree.remove();
        TerminationRequests::end_process(signal_number);
    }
    if (written) {
        written = tree.put_in_place(*target, dir);
    }
    if (!written) {
        tree.remove();
        return fail(streams, written.error());
    }
    // The tree is whole and in place; an interruption that came meanwhile still ends the
    // process as it would have.
    if (const int signal_number = signals.pending(); signal_number != 0) {
        TerminationRequests::end_process(signal_number);
    }
    return report_written(streams, *summary);
}

constexpr ArgumentSpec kArguments[] = {{"ARCHIVE"}, {"DIR"}};
constexpr OptionSpec kOptions[] = {
    {.name = "--type", .takes_value = true, .check = check_type_byte},
    {.name = "--id", .takes_value = true, .repeatable = true, .check = check_file_id},
    {.name = "--ids-from", .takes_value = true},
    {.name = "--force"},
    {.name = "--decode"},
    {.name = "--dry-run"},
    {.name = "--json"},
};

} // namespace

constinit const Command kExtractCommand{
    .name = "extract",
    .synopsis = "quillmere-dat extract ARCHIVE DIR [--type TYPE] [--id ID]... [--ids-from FILE] "
                "[--force] [--decode] [--dry-run] [--json]",
    .outline = "extract ARCHIVE DIR",
    .summary = "every file and a manifest into a new directory",
    .description =
        "Writes every file of the archive to DIR/TT/XXXXXXXX.bin (TT the id's top byte, XXXXXXXX\n"
        "the id, upper-case hex: DIR/03/03000001.bin), decompressed as get_file returns it, and\n"
        "DIR/manifest.json: the 320 bytes before the header, the header's fields (all but\n"
        "file_size, root_offset and the free list) and each file's id, bit_flags, timestamp and\n"
        "version, in ascending id order. 'quillmere-dat pack DIR OUT' makes an archive of it\n"
        "again.\n"
        "\n"
        "The archive is checked first, as 'quillmere-dat verify' checks it (but for decoding),\n"
        "and nothing is written when it has an error; the problems found (up to 10) go to\n"
        "standard error. Warnings are shown and the extraction goes on.\n"
        "\n"
        "DIR must not exist or be an empty directory; its parent must exist. A new DIR is\n"
        "written under a temporary name beside it, flushed to the disk and then renamed to DIR;\n"
        "an existing one keeps its mode, owner and mount: the tree is written in a hidden\n"
        "directory inside it and moved into place, manifest.json last. A failure or an\n"
        "interruption (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT) removes what was written. A second\n"
        "extract into the same DIR fails at once while the first runs.\n"
        "\n"
        "  --type TYPE       only files of this type: the top byte of their ids in hex (03,\n"
        "                    0x33), or a name: animation, setup-model, physics-script\n"
        "  --id ID           only file ID (each must be in the archive); repeatable; with\n"
        "                    --type, the files that are both\n"
        "  --ids-from FILE   as --id, for the ids listed in FILE ('-' for standard input), one\n"
        "                    per line (the first word of each; blank lines and '#' comments\n"
        "                    ignored)\n"
        "  --force           extract what can be read whatever the check found: each file\n"
        "                    that cannot be read whole is left out (of the tree and the\n"
        "                    manifest) and named on standard error\n"
        "  --decode          each animation, setup model and physics script that its decoder\n"
        "                    accepts as DIR/TT/XXXXXXXX.json instead, the document\n"
        "                    'quillmere-dat decode' writes (when it encodes back to the very\n"
        "                    bytes and the file stores its own id); every other file stays\n"
        "                    .bin. pack takes either form\n"
        "  --dry-run         check everything a real run checks and say what it would write,\n"
        "                    writing nothing\n"
        "  --json            one JSON document on standard output saying what was written (or\n"
        "                    with --dry-run, what would be): {command, output, dry_run, files,\n"
        "                    bytes, compressed, left_out}\n",
    .arguments = kArguments,
    .options = kOptions,
    .run = run_extract,
};

} // namespace quillmere::dat_tool
