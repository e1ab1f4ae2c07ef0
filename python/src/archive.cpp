// quillmere.open and the Archive: the header, the directory as Entry values, reads, decoding and
// the whole-archive check. The Archive holds the opened database through shared ownership:
// closing it lets the database go once no iterator or running call still uses it, and what was
// handed out (entries, bytes, decoded files) are copies that outlive it.
#include "archive.hpp"

#include "decoded.hpp"
#include "quillmere/dat/dat_database.hpp"

#include <algorithm>
#include <cctype>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

namespace quillmere::python {

namespace {

using dat::DatDatabase;
using dat::DatFileEntry;
using dat::file_type::FileType;

using EntryList = std::vector<DatFileEntry>;

/// Iterates a snapshot of the directory, so that closing the archive meanwhile is harmless.
/// Written against the C API: a pybind11 __next__ would cost more than the Entry it returns.
struct EntryIterator {
    PyObject_HEAD std::shared_ptr<const EntryList> entries;
    std::size_t next;
};

PyTypeObject* entry_iterator_type = nullptr;

void entry_iterator_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<EntryIterator*>(self)->entries.~shared_ptr();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* entry_iterator_next(PyObject* self) {
    auto* it = reinterpret_cast<EntryIterator*>(self);
    if (it->next >= it->entries->size()) {
        return nullptr; // the end, no error set
    }
    try {
        return make_entry((*it->entries)[it->next++]).release().ptr();
    } catch (py::error_already_set& error) {
        error.restore();
        return nullptr;
    }
}

PyType_Slot entry_iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&entry_iterator_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(&PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(&entry_iterator_next)},
    {0, nullptr},
};

PyType_Spec entry_iterator_spec = {"quillmere._EntryIterator", sizeof(EntryIterator), 0,
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                                   entry_iterator_slots};

py::object iterate(std::shared_ptr<const EntryList> entries) {
    PyObject* self = entry_iterator_type->tp_alloc(entry_iterator_type, 0);
    if (self == nullptr) {
        throw py::error_already_set();
    }
    auto* it = reinterpret_cast<EntryIterator*>(self);
    new (&it->entries) std::shared_ptr<const EntryList>(std::move(entries));
    it->next = 0;
    return py::reinterpret_steal<py::object>(self);
}

class Archive {
  public:
    explicit Archive(std::filesystem::path path) : path_(std::move(path)) {
        dat::DatResult<DatDatabase> opened = [this] {
            py::gil_scoped_release unlocked;
            return DatDatabase::open(path_);
        }();
        database_ = std::make_shared<const DatDatabase>(value_or_raise(std::move(opened)));
    }

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    [[nodiscard]] bool closed() const noexcept { return database_ == nullptr; }
    void close() noexcept {
        database_.reset();
        sorted_.reset();
    }

    void require_open() const {
        if (!database_) {
            throw py::value_error("the archive is closed");
        }
    }

    [[nodiscard]] std::shared_ptr<const DatDatabase> database() const {
        require_open();
        return database_;
    }

    // The entries by ascending id, sorted once.
    [[nodiscard]] std::shared_ptr<const EntryList> sorted() {
        const auto db = database();
        if (!sorted_) {
            auto list = std::make_shared<EntryList>();
            list->reserve(db->files().size());
            for (const auto& [id, entry] : db->files()) {
                list->push_back(entry);
            }
            std::sort(list->begin(), list->end(),
                      [](const auto& a, const auto& b) { return a.id < b.id; });
            sorted_ = std::move(list);
        }
        return sorted_;
    }

    [[nodiscard]] DatFileEntry entry(std::uint32_t id) const {
        const auto db = database();
        const auto found = db->files().find(id);
        if (found == db->files().end()) {
            raise_dat_error(dat::DatError::not_found(id));
        }
        return found->second;
    }

    [[nodiscard]] std::vector<std::uint8_t> read(std::uint32_t id, bool checked) const {
        const auto db = database();
        dat::DatResult<std::vector<std::uint8_t>> bytes = [&] {
            py::gil_scoped_release unlocked;
            return checked ? db->get_file_checked(id) : db->get_file(id);
        }();
        return value_or_raise(std::move(bytes));
    }

  private:
    std::filesystem::path path_;
    std::shared_ptr<const DatDatabase> database_;
    std::shared_ptr<const EntryList> sorted_;
};

py::bytes as_bytes(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::optional<std::uint32_t> as_file_id(const py::handle& value) {
    if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value)) {
        return std::nullopt;
    }
    const auto number = value.cast<py::int_>();
    if (number < py::int_(0) || number > py::int_(0xFFFFFFFFU)) {
        return std::nullopt;
    }
    return number.cast<std::uint32_t>();
}

FileType hook_file_type(std::uint32_t id) {
    const auto type = dat::file_type::of(id);
    if (!type) {
        throw py::value_error(id_text(id) + " is not an animation, setup model or physics script");
    }
    return *type;
}

py::object decode_entry(Archive& archive, std::uint32_t id) {
    const FileType type = hook_file_type(archive.entry(id).id);
    return decode_file(type, archive.read(id, false));
}

void bind_archive_class(py::module_& module) {
    entry_iterator_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&entry_iterator_spec));
    if (entry_iterator_type == nullptr) {
        throw py::error_already_set();
    }

    py::class_<Archive>(module, "Archive",
                        "An opened archive; also a context manager that closes it.")
        .def_property_readonly("path", &Archive::path)
        .def_property_readonly("closed", &Archive::closed)
        .def_property_readonly("header", [](const Archive& a) { return a.database()->header(); })
        .def_property_readonly("preamble",
                               [](const Archive& a) {
                                   const auto bytes = value_or_raise(a.database()->read_preamble());
                                   return as_bytes({bytes.begin(), bytes.end()});
                               })
        .def("__len__", [](const Archive& a) { return a.database()->files().size(); })
        .def("__contains__",
             [](const Archive& a, const py::handle& id) {
                 const auto file_id = as_file_id(id);
                 return file_id && a.database()->files().contains(*file_id);
             })
        .def("__iter__", [](Archive& a) { return iterate(a.sorted()); })
        .def(
            "__getitem__",
            [](const Archive& a, std::uint32_t id) { return make_entry(a.entry(id)); },
            py::arg("id"))
        .def(
            "read",
            [](const Archive& a, std::uint32_t id, bool checked) {
                return as_bytes(a.read(id, checked));
            },
            py::arg("id"), py::kw_only(), py::arg("checked") = false)
        .def("decode", &decode_entry, py::arg("id"))
        .def(
            "verify",
            [](const Archive& a, bool decode, std::size_t max_problems) {
                a.require_open();
                return verify_path(a.path(), decode, max_problems);
            },
            py::kw_only(), py::arg("decode") = true, py::arg("max_problems") = 100'000)
        .def("close", &Archive::close)
        .def("__enter__", [](Archive& a) -> Archive& { return a; })
        .def("__exit__", [](Archive& a, const py::args&) { a.close(); })
        .def("__repr__", [](const Archive& a) {
            return "<quillmere.Archive " + std::string(py::repr(py::str(a.path().string()))) +
                   (a.closed() ? " closed>" : ">");
        });
}

// The type byte a file_type argument names: "0x03", "03" or 3 (the top byte of the ids, as
// Entry.file_type gives it), or a name ("Animation", "setup model", "physics_script", ...).
std::optional<std::uint32_t> file_type_byte(const py::handle& value) {
    if (const auto number = as_file_id(value)) {
        return *number <= 0xFF ? number : std::nullopt;
    }
    if (!py::isinstance<py::str>(value)) {
        return std::nullopt;
    }
    std::string text;
    for (const char c : value.cast<std::string>()) {
        if (c != ' ' && c != '_') {
            text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    for (const auto& [name, first_id] :
         {std::pair{"animation", 0x03U}, std::pair{"setupmodel", 0x02U},
          std::pair{"physicsscript", 0x33U}}) {
        if (text == name) {
            return first_id;
        }
    }
    if (text.starts_with("0x")) {
        text = text.substr(2);
    }
    if (text.empty() || text.size() > 2 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); })) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
}

FileType parse_file_type(const py::handle& value) {
    const auto byte = file_type_byte(value);
    const auto type = byte ? dat::file_type::of(*byte << 24) : std::nullopt;
    if (!type) {
        throw py::value_error("file_type must name an animation, setup model or physics script: "
                              "0x03, 0x02 or 0x33 (as Entry.file_type gives it), or 'Animation', "
                              "'SetupModel' or 'PhysicsScript'");
    }
    return *type;
}

} // namespace

void bind_archive(py::module_& module) {
    bind_archive_class(module);
    module.def(
        "open", [](const std::filesystem::path& path) { return Archive(path); }, py::arg("path"),
        "Opens the archive at `path` (str or os.PathLike); raises DatError when it cannot be "
        "opened.");
    module.def(
        "decode",
        [](const py::buffer& data, const py::handle& file_type) {
            const FileType type = parse_file_type(file_type);
            const py::buffer_info info = data.request();
            if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1) {
                throw py::type_error("data must be contiguous bytes");
            }
            const auto* first = static_cast<const std::uint8_t*>(info.ptr);
            return decode_file(type, std::vector<std::uint8_t>(first, first + info.size));
        },
        py::arg("data"), py::arg("file_type"),
        "Decodes the bytes of an animation, setup model or physics script.");
}

} // namespace quillmere::python
