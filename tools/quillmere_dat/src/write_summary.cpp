// Reporting what a writing command wrote.
#include "write_summary.hpp"

#include "json.hpp"

namespace quillmere::dat_tool {

int report_written(const Streams& streams, const WriteSummary& summary) {
    if (streams.json) {
        auto left_out = Json::array();
        for (const std::uint32_t id : summary.left_out) {
            left_out.push(Json::string(id_text(id)));
        }
        auto doc = Json::object();
        doc.set("command", Json::string(summary.command))
            .set("output", Json::string(summary.output))
            .set("dry_run", Json::boolean(summary.dry_run))
            .set("files", Json::number(summary.files))
            .set("bytes", Json::number(summary.bytes))
            .set("compressed", Json::number(summary.compressed))
            .set("left_out", std::move(left_out));
        return emit(streams, doc.dump());
    }
    if (!summary.dry_run) {
        return kExitOk;
    }
    return emit(streams, summary.command + " would write " + summary.output + ": " +
                             std::to_string(summary.files) + " files, " +
                             std::to_string(summary.bytes) + " bytes, " +
                             std::to_string(summary.compressed) + " compressed, " +
                             std::to_string(summary.left_out.size()) + " left out\n");
}

} // namespace quillmere::dat_tool
