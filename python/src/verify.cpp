// quillmere.verify and the Report: the library's verifier, its summary as a dict and its
// problems as objects.
#include "archive.hpp"
#include "quillmere/dat/verifier.hpp"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

namespace quillmere::python {

namespace {

using dat::Problem;
using dat::VerifyReport;
using dat::VerifySummary;

// The figures of quillmere-dat verify's summary, under the same names.
py::dict summary_dict(const VerifyReport& report) {
    const VerifySummary& s = report.summary;
    py::dict out;
    out["archive_length"] = s.archive_length;
    out["entries"] = s.entries;
    out["files_read"] = s.files_read;
    out["stored_bytes"] = s.stored_bytes;
    out["decompressed_bytes"] = s.decompressed_bytes;
    out["compressed_files"] = s.compressed_files;
    out["directory_nodes"] = s.directory_nodes;
    out["tree_height"] = s.tree_height;
    out["free_blocks"] = s.free_blocks;
    out["unread_bytes"] = s.unread_bytes;
    out["unreachable_bytes"] = s.unreachable_bytes;
    out["errors"] = report.error_count;
    out["warnings"] = report.warning_count;
    return out;
}

// The problem line as quillmere-dat verify prints it.
std::string problem_line(const Problem& p) {
    return std::string(dat::severity_name(p.severity)) + " " + std::string(dat::kind_name(p.kind)) +
           " " + (p.id ? id_text(*p.id) : "-") + " at " +
           (p.offset ? std::to_string(*p.offset) : "-") + ": " + p.message;
}

void bind_problem(py::module_& module) {
    py::class_<Problem>(module, "Problem", "One problem the check found.")
        .def_property_readonly("severity",
                               [](const Problem& p) { return dat::severity_name(p.severity); })
        .def_property_readonly("kind", [](const Problem& p) { return dat::kind_name(p.kind); })
        .def_readonly("id", &Problem::id)
        .def_readonly("offset", &Problem::offset)
        .def_readonly("message", &Problem::message)
        .def("__str__", &problem_line)
        .def("__repr__", [](const Problem& p) { return "<Problem " + problem_line(p) + ">"; });
}

void bind_report(py::module_& module) {
    py::class_<VerifyReport>(module, "Report",
                             "The result of a check: counts, summary figures and problems.")
        .def_readonly("errors", &VerifyReport::error_count)
        .def_readonly("warnings", &VerifyReport::warning_count)
        .def_property_readonly("summary", [](const VerifyReport& r) { return summary_dict(r); })
        .def_property_readonly("problems",
                               [](const VerifyReport& r) {
                                   return py::cast(r.problems, py::return_value_policy::copy);
                               })
        .def_property_readonly("ok", [](const VerifyReport& r) { return !r.has_errors(); })
        .def("__repr__", [](const VerifyReport& r) {
            return "<quillmere.Report errors=" + std::to_string(r.error_count) +
                   " warnings=" + std::to_string(r.warning_count) + ">";
        });
}

} // namespace

py::object verify_path(const std::filesystem::path& path, bool decode, std::size_t max_problems) {
    dat::DatResult<VerifyReport> report = [&] {
        py::gil_scoped_release unlocked;
        return dat::verify_archive(path, {.max_stored_problems = max_problems, .decode = decode});
    }();
    return py::cast(value_or_raise(std::move(report)));
}

void bind_verify(py::module_& module) {
    bind_problem(module);
    bind_report(module);
    module.def("verify", &verify_path, py::arg("path"), py::kw_only(), py::arg("decode") = true,
               py::arg("max_problems") = 100'000,
               "Checks the whole archive at `path`, as quillmere-dat verify does; a damaged "
               "archive gives a Report listing its problems.");
}

} // namespace quillmere::python
