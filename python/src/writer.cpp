// quillmere.ArchiveWriter: the library's writer as a context manager. The archive appears at
// its path when the `with` block ends without an exception (finish), and not at all when one
// escapes it (abort: the temporary file is removed, an existing file at the path is untouched).
#include "bindings.hpp"
#include "quillmere/dat/archive_writer.hpp"

#include <optional>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

namespace quillmere::python {

namespace {

using dat::ArchiveWriter;

class Writer {
  public:
    Writer(const std::filesystem::path& path, std::optional<dat::DatHeader> header,
           std::uint32_t block_size, std::optional<py::bytes> preamble) {
        dat::DatHeader header_template = header.value_or(dat::DatHeader{});
        header_template.block_size = block_size;
        if (!preamble) {
            writer_.emplace(value_or_raise(ArchiveWriter::create(path, header_template)));
            return;
        }
        const std::string bytes = *preamble;
        if (bytes.size() != dat::kPreambleSize) {
            throw py::value_error("preamble must be exactly 320 bytes");
        }
        const auto* first = reinterpret_cast<const std::uint8_t*>(bytes.data());
        writer_.emplace(value_or_raise(ArchiveWriter::create(
            path, header_template, std::span<const std::uint8_t, dat::kPreambleSize>(first, 320))));
    }

    py::object add(std::uint32_t id, const py::buffer& data, bool compress,
                   std::optional<std::uint32_t> bit_flags, std::uint32_t timestamp,
                   std::uint32_t version) {
        ArchiveWriter& writer = open_writer();
        const py::buffer_info info = data.request();
        if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1) {
            throw py::type_error("data must be contiguous bytes");
        }
        const std::span contents(static_cast<const std::uint8_t*>(info.ptr),
                                 static_cast<std::size_t>(info.size));
        const dat::FileFields fields{bit_flags.value_or(compress ? 1U : 0U), timestamp, version};
        const auto storage = compress ? dat::Storage::Compressed : dat::Storage::Plain;
        dat::DatResult<dat::DatFileEntry> added = [&] {
            py::gil_scoped_release unlocked; // compressing a large file takes a while
            return writer.add_file(id, contents, fields, storage);
        }();
        if (!added && writer.temporary_path().empty()) {
            writer_.reset(); // a failed write removed the temporary file: nothing more to do
        }
        return make_entry(value_or_raise(std::move(added)));
    }

    dat::DatHeader finish() {
        ArchiveWriter writer = std::move(open_writer());
        writer_.reset();
        dat::DatResult<dat::DatHeader> header = [&] {
            py::gil_scoped_release unlocked;
            return writer.finish();
        }();
        return value_or_raise(std::move(header));
    }

    void abort() noexcept { writer_.reset(); }

    [[nodiscard]] bool closed() const noexcept { return !writer_; }
    [[nodiscard]] std::size_t file_count() const noexcept {
        return writer_ ? writer_->file_count() : 0;
    }

  private:
    ArchiveWriter& open_writer() {
        if (!writer_) {
            throw py::value_error("the archive writer is closed (finished or aborted)");
        }
        return *writer_;
    }

    std::optional<ArchiveWriter> writer_;
};

} // namespace

void bind_writer(py::module_& module) {
    py::class_<Writer>(module, "ArchiveWriter",
                       "Writes a new archive; as a context manager it finishes when the block "
                       "ends normally and aborts when an exception leaves it.")
        .def(py::init<const std::filesystem::path&, std::optional<dat::DatHeader>, std::uint32_t,
                      std::optional<py::bytes>>(),
             py::arg("path"), py::arg("header") = py::none(), py::arg("block_size") = 1024,
             py::kw_only(), py::arg("preamble") = py::none())
        .def("add", &Writer::add, py::arg("id"), py::arg("data"), py::kw_only(),
             py::arg("compress") = false, py::arg("bit_flags") = py::none(),
             py::arg("timestamp") = 0, py::arg("version") = 0)
        .def("finish", &Writer::finish)
        .def("abort", &Writer::abort)
        .def_property_readonly("closed", &Writer::closed)
        .def("__len__", &Writer::file_count)
        .def("__enter__", [](Writer& w) -> Writer& { return w; })
        .def("__exit__",
             [](Writer& w, const py::object& type, const py::object&, const py::object&) {
                 if (type.is_none()) {
                     if (!w.closed()) {
                         w.finish();
                     }
                 } else {
                     w.abort();
                 }
                 return false;
             });
}

} // namespace quillmere::python
